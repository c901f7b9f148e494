"""VID clips as numpy arrays.

    import vid
    with vid.open("clip.vid") as clip:        # len(clip), clip.width, clip.height, clip.kind
        frame = clip[0]                        # (height, width, 3) uint8
        some = clip[10:20]                     # (10, height, width, 3)
        samples = clip.mosaic(0)               # a Bayer file's samples: (height, width)
    with vid.create("out.vid", 640, 480) as w: # the frame count need not be known
        w.append(frame)
    vid.write("out.vid", frames)               # an (n, height, width, 3) uint8 array
    with vid.create("raw.vid", 1600, 1200, kind="bayer16", frame_rate=500.0,
                    metadata={"camera": "cam0", "bit_depth": 12}) as w:
        w.append(mosaic, timestamp=ns)         # (height, width) uint16; timestamp optional
    clip.timestamps, clip.frame_rate, clip.start_time, clip.metadata
    arr = vid.xarray("clip.vid")               # xarray over dask, time coordinate
    vid.crop("short.vid", "clip.vid", frames=(100, 200), box=(0, 0, 320, 240))
    lazy = vid.dask_array("clip.vid")          # dask, when installed

Frames are read and written by the same C++ core as the command-line programs and the
MATLAB/Octave functions; pixel values equal clipReadMex's. Errors raise vid.VidError: an
OSError (with errno) when the system refused a file, else a ValueError.
"""

import errno as _errno
import json as _json
import os as _os
import time as _time
import warnings as _warnings
from collections.abc import MutableMapping as _MutableMapping

import numpy as _np

from . import _vid

# The whole numbers a timestamp may be (the smallest is the file's mark of a missing time).
_INT64 = _np.iinfo(_np.int64)

__version__ = _vid.__version__
__all__ = ["open", "create", "write", "crop", "follow", "cameras", "record", "zarr_store", "set_metadata", "dask_array", "xarray", "Clip",
           "Writer", "VidError", "VidOSError", "VidValueError", "VidNotVidFileError",
           "VidDamagedRecordError", "VidClosedError", "VidIndexError", "VidMemoryError",
           "VidMetadataWarning"]


class VidError(Exception):
    """An error of the vid package (the OSError or ValueError subclasses below). e.code names
    the kind of failure ("not_found", "not_vid_file", "damaged_record", "frame_out_of_range",
    "read_failed", "write_failed", "out_of_memory", "bad_argument", "not_open", ...)."""
    code = None


class VidOSError(VidError, OSError):
    """The system refused a file: errno and strerror are set."""


class VidValueError(VidError, ValueError):
    """The file's contents or the arguments are wrong."""
    code = "bad_argument"


class VidFileNotFoundError(VidOSError, FileNotFoundError):
    """No such file or folder."""


class VidPermissionError(VidOSError, PermissionError):
    """The system refused access."""


class VidIsADirectoryError(VidOSError, IsADirectoryError):
    """A folder where a file was wanted."""


class VidNotVidFileError(VidValueError):
    """The file is not a VID file (its header or table describes none)."""
    code = "not_vid_file"


class VidDamagedRecordError(VidValueError):
    """A frame's record does not give its frame."""
    code = "damaged_record"


class VidClosedError(VidValueError):
    """The clip or writer is closed."""
    code = "not_open"


class VidIndexError(VidError, IndexError):
    """A frame number outside the clip's frames."""
    code = "frame_out_of_range"


class VidMemoryError(VidError, MemoryError):
    """A buffer the file needs could not be allocated."""
    code = "out_of_memory"


# The core's result codes (stable values) by name; every exception carries its name as
# e.code ("not_vid_file", "damaged_record", ...).
_CODES = {0: "ok", 1: "not_found", 2: "not_permitted", 3: "not_regular", 4: "not_vid_file",
          5: "damaged_record", 6: "frame_out_of_range", 7: "read_failed", 8: "write_failed",
          9: "out_of_memory", 10: "bad_argument", 11: "not_open"}

# The one table from a failure to its class: by errno where the system refused (the built-in
# OSError subclass Python gives it, so that `except FileNotFoundError` catches a missing file
# as it does for open()), else by the result code.
_OS_ERRORS = {_errno.ENOENT: VidFileNotFoundError, _errno.ENOTDIR: VidFileNotFoundError,
              _errno.EACCES: VidPermissionError, _errno.EPERM: VidPermissionError,
              _errno.EISDIR: VidIsADirectoryError}
_RESULT_ERRORS = {"not_vid_file": VidNotVidFileError, "damaged_record": VidDamagedRecordError,
                  "not_open": VidClosedError, "frame_out_of_range": VidIndexError,
                  "out_of_memory": VidMemoryError}


def _error(result, number, message):
    """The exception for a failure of the core's result code `result`, errno `number`."""
    code = _CODES.get(result, "unknown")
    if number:
        error = _OS_ERRORS.get(number, VidOSError)(number, message)
    else:
        error = _RESULT_ERRORS.get(code, VidValueError)(message)
    error.code = code
    return error


_vid._set_errors(_error)


class VidMetadataWarning(UserWarning):
    """A file's clip block (timestamps, frame rate, metadata) is damaged; its frames read as
    ever."""

_KINDS = {"rgb": None, "bayer8": _np.uint8, "bayer16": _np.uint16, "mono8": _np.uint8,
          "mono16": _np.uint16}


def _path_bytes(path):
    """A path (str, bytes or os.PathLike) as the bytes the system gets, and as text for
    messages: both ways through the file system encoding, as open() does."""
    raw = _os.fsencode(_os.fspath(path))
    if b"\0" in raw:
        raise VidValueError("embedded null byte in the path %r" % _os.fsdecode(raw))
    return raw, _os.fsdecode(raw)


class Clip:
    """An open VID file. Index it like a sequence of (height, width, 3) uint8 frames, or of
    (height, width) planes for a mono clip. A clip whose metadata describes its sensor (see
    `sensor`) is pictured by that description; every other clip as it always has been."""

    def __init__(self, path):
        raw, self.path = _path_bytes(path)
        self._reader = _vid.Reader(raw)
        self._mono = self._reader.kind in ("mono8", "mono16")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Closes the file; the clip can no longer be read (reads then raise VidError)."""
        self._reader.close()

    @property
    def closed(self):
        return self._reader.closed

    def __len__(self):
        return self._reader.frames

    @property
    def width(self):
        return self._reader.width

    @property
    def height(self):
        return self._reader.height

    @property
    def kind(self):
        """'rgb', 'bayer8'/'bayer16' (one- or two-byte Bayer samples) or 'mono8'/'mono16'
        (one- or two-byte mono samples); None for an empty file (no frames and nothing behind
        its table)."""
        return self._reader.kind

    @property
    def shape(self):
        """(frames, height, width, 3), or (frames, height, width) for a mono clip."""
        return (len(self), self.height, self.width) + (() if self._mono else (3,))

    @property
    def ndim(self):
        return len(self.shape)

    @property
    def dtype(self):
        """The pictures' type: uint8 (read(..., dtype=numpy.uint16) gives 16 bits)."""
        return _np.dtype(_np.uint8)

    @property
    def sensor(self):
        """The sensor description the clip's metadata gives, every key filled in (cfa,
        bit_depth, black_level, white_level, gains, color_matrix), or None when it has none."""
        text = self._reader.sensor()
        return None if text is None else _json.loads(text)

    def __repr__(self):
        if self.closed:
            return "<vid.Clip %r: closed>" % self.path
        return "<vid.Clip %r: %d frames of %d x %d, %s>" % (
            self.path, len(self), self.width, self.height, self.kind or "empty")

    def _index(self, k):
        n = len(self)
        if isinstance(k, (bool, _np.bool_)) or not isinstance(k, (int, _np.integer)):
            raise TypeError("frame indices are integers, not %s" % type(k).__name__)
        k = int(k)
        if k < -n or k >= n:
            raise VidIndexError("frame %d is outside the clip's %d frames" % (k, n))
        return k + n if k < 0 else k

    def read(self, first, count, workers=0, dtype=_np.uint8, srgb=False):
        """Frames first .. first+count-1 as (count, height, width, 3) (mono clips: (count,
        height, width)). workers > 1 decodes frames side by side (0: only where processors
        outnumber a frame's blocks). dtype numpy.uint16 gives 16-bit linear values (a clip
        without a sensor description rendered by its kind's defaults); srgb puts 8-bit values
        on the sRGB curve."""
        dtype = _np.dtype(dtype)
        if dtype not in (_np.dtype(_np.uint8), _np.dtype(_np.uint16)):
            raise VidValueError("dtype is numpy.uint8 or numpy.uint16, not %s" % dtype)
        if dtype == _np.uint8 and not srgb:
            frames = self._reader.read(first, count, workers)
            return frames[..., 0] if self._mono else frames
        if count < 1 or first < 0 or first > len(self) - count:
            raise VidIndexError("frames %d to %d are outside the clip's %d frames"
                                % (first, first + count - 1, len(self)))
        out = _np.empty((count,) + self.shape[1:], dtype)
        for i in range(count):
            out[i] = self._reader.picture(first + i, dtype == _np.uint16, srgb)
        return out

    def __getitem__(self, key):
        if isinstance(key, tuple):
            # The numpy way: the frame index first, then rows, columns and channels.
            if not key:
                return self[:]
            frames = self[key[0]]
            rest = key[1:]
            if not rest:
                return frames
            if isinstance(key[0], (int, _np.integer)) and not isinstance(key[0], (bool, _np.bool_)):
                return frames[rest]
            return frames[(slice(None),) + rest]
        if isinstance(key, slice):
            indices = range(*key.indices(len(self)))
            if indices.step == 1 and len(indices) > 0:
                return self.read(indices.start, len(indices))
            return self._many(list(indices))
        if isinstance(key, (list, _np.ndarray)):
            return self._many([self._index(k) for k in _np.asarray(key).ravel().tolist()])
        k = self._index(key)
        return self._reader.picture(k) if self._mono else self._reader.read(k, 1)[0]

    def _one(self, k):
        return self._reader.picture(k) if self._mono else self._reader.read(k, 1)[0]

    def _many(self, indices):
        out = _np.empty((len(indices),) + self.shape[1:], _np.uint8)
        for i, k in enumerate(indices):
            out[i] = self._one(k)
        return out

    def __iter__(self):
        for k in range(len(self)):
            yield self._one(k)

    def __array__(self, dtype=None, copy=None):
        frames = self[:] if len(self) else _np.zeros(self.shape, _np.uint8)
        return frames if dtype is None else frames.astype(dtype)

    def mosaic(self, key):
        """Bayer or mono samples as stored, without demosaic or levels: frame k as (height,
        width) uint16 or uint8; a slice or list of frames as (frames, height, width)."""
        if isinstance(key, slice):
            indices = list(range(*key.indices(len(self))))
        elif isinstance(key, (list, _np.ndarray)):
            indices = [self._index(k) for k in _np.asarray(key).ravel().tolist()]
        else:
            return self._reader.mosaic(self._index(key))
        two = self.kind in ("bayer16", "mono16")
        out = _np.empty((len(indices), self.height, self.width), _np.uint16 if two else _np.uint8)
        for i, k in enumerate(indices):
            out[i] = self._reader.mosaic(k)
        return out

    def refresh(self):
        """Takes in the frames a running writer appended since the clip was opened (or last
        refreshed), including frames beyond the writer's reserved table; returns the new frame
        count. Frames already seen keep their numbers and pixels."""
        n = self._reader.refresh()
        self._mono = self._reader.kind in ("mono8", "mono16")
        self._block = False   # the block's finished mark and timestamps may have changed
        return n

    @property
    def finished(self):
        """True when the writer finished the file (its clip block says so); False for a file
        still being written, or left by a writer that was stopped; None for a file without a
        clip block, which cannot tell."""
        block = self._reader.clip()
        return block["finished"] if block["present"] else None

    def __reduce__(self):
        # A clip travels (to dask workers, through pickle) as its path and reopens there.
        return (Clip, (self.path,))

    def _clip(self):
        """The clip block as a dict, or None when the file has none or it is damaged beyond
        reading (then a VidMetadataWarning says why, once per clip). A block whose metadata,
        start time or frame rate alone is broken keeps its timestamps and finished mark; the
        broken field is None."""
        if getattr(self, "_block", False) is not False:
            return self._block
        found = self._reader.clip()
        block = None
        if found["damaged"]:
            _warnings.warn("%s: its clip block is damaged (%s); the frames read as ever"
                           % (self.path, found["problem"]), VidMetadataWarning, stacklevel=3)
        if found["present"]:
            # The reader hands over only metadata that is one JSON object nested at most 64
            # deep; empty text is a broken field when the block is damaged.
            metadata = found["metadata"]
            parsed = _json.loads(metadata.decode("utf-8")) if metadata else (
                None if found["damaged"] else {})
            block = {"frame_rate": found["frame_rate"] or None,
                     "start_time": found["start_time"] or None,
                     "metadata": parsed, "finished": found["finished"]}
        self._block = block
        return block

    @property
    def timestamps(self):
        """Every frame's timestamp: a numpy masked array of int64 nanoseconds on the recorder's
        clock (the host's real-time clock, from the UNIX epoch, unless the writer gave its
        own), where frames without a time are masked; None for a file without timestamps."""
        if self._clip() is None:
            return None
        stamps = self._reader.timestamps()
        return _np.ma.masked_array(stamps["nanoseconds"], mask=stamps["missing"])

    @property
    def frame_rate(self):
        """The nominal frame rate in frames per second, or None when unknown."""
        block = self._clip()
        return block["frame_rate"] if block else None

    @property
    def start_time(self):
        """When the recording started: ISO 8601 UTC text, or None."""
        block = self._clip()
        return block["start_time"] if block else None

    @property
    def metadata(self):
        """The clip's metadata (a dict; documented keys: camera, exposure_us, bit_depth,
        gains, trigger_frame, description); {} when the file has none, None when damaged."""
        block = self._clip()
        if block is None:
            return None if self._reader.clip()["damaged"] else {}
        return block["metadata"]


def _json_default(value):
    """numpy scalars and arrays in metadata as the JSON numbers, booleans and lists they
    hold."""
    if isinstance(value, (_np.generic, _np.ndarray)):
        return value.tolist()
    raise TypeError("Object of type %s is not JSON serializable" % type(value).__name__)


def _start_time_text(start_time):
    """A start time as the clip block keeps it: ISO 8601 text, or from an aware datetime (in
    UTC, with microseconds)."""
    import datetime as _datetime

    if start_time is None or start_time == "":
        return ""
    if isinstance(start_time, _datetime.datetime):
        if start_time.tzinfo is None or start_time.utcoffset() is None:
            raise VidValueError("start_time is a datetime with a time zone (for example "
                                "datetime.now(timezone.utc)); a naive datetime names no instant")
        utc = start_time.astimezone(_datetime.timezone.utc)
        return utc.strftime("%Y-%m-%dT%H:%M:%S.%fZ")
    if isinstance(start_time, str):
        return start_time
    raise VidValueError("start_time is ISO 8601 text or an aware datetime, not %s"
                        % type(start_time).__name__)


class Writer:
    """A new VID file of RGB frames or Bayer mosaics; append frames (with their timestamps).
    Every appended frame, and its timestamp, is in the file when append returns; closing (or
    leaving the with block) finishes it."""

    def __init__(self, path, width, height, effort=9, frames_reserved=1024, kind="rgb",
                 frame_rate=None, metadata=None, start_time=None, records="classic"):
        raw, self.path = _path_bytes(path)
        if records not in ("classic", "compact"):
            raise VidValueError("records is 'classic' or 'compact', not %r" % (records,))
        if kind not in _KINDS:
            raise VidValueError("kind is one of %s, not %r" % (", ".join(_KINDS), kind))
        rate = 0.0 if frame_rate is None else float(frame_rate)
        if not (rate >= 0 and rate != float("inf")):
            raise VidValueError("frame_rate is a number of frames per second, not %r"
                                % (frame_rate,))
        if metadata is None:
            text = ""
        elif isinstance(metadata, dict):
            try:
                text = _json.dumps(metadata, allow_nan=False, ensure_ascii=False,
                                   default=_json_default)
            except (TypeError, ValueError) as e:
                raise VidValueError("metadata must be JSON-serialisable: %s" % e) from None
        else:
            raise VidValueError("metadata is a dict, not %s" % type(metadata).__name__)
        start_time = _start_time_text(start_time)
        self.width = int(width)
        self.height = int(height)
        self.kind = kind
        self._dtype = _KINDS[kind]
        self._writer = _vid.Writer(raw, self.width, self.height, int(frames_reserved),
                                   int(effort), kind, rate, start_time, text,
                                   records == "compact")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __len__(self):
        return self._writer.frames

    def append(self, frame, timestamp=None):
        """Appends one frame (any strides): (height, width, 3) uint8 for RGB files,
        (height, width) uint16 or uint8 samples for bayer16 or bayer8 files, stored as given.
        timestamp: nanoseconds on the recorder's clock (an int); None takes the host's
        real-time clock (nanoseconds since the UNIX epoch)."""
        frame = _np.asarray(frame)
        if self._dtype is None:
            expected, dtype = (self.height, self.width, 3), _np.uint8
        else:
            expected, dtype = (self.height, self.width), self._dtype
        if frame.dtype != dtype or frame.shape != expected:
            raise VidValueError("expected a %s array of shape %s, got %s of shape %s"
                                % (_np.dtype(dtype).name, expected, frame.dtype, frame.shape))
        if timestamp is not None and (isinstance(timestamp, (bool, _np.bool_)) or not isinstance(
                timestamp, (int, _np.integer)) or not _INT64.min < int(timestamp) <= _INT64.max):
            raise VidValueError("timestamp is a whole number of nanoseconds, not %r"
                                % (timestamp,))
        self._writer.append(_np.ascontiguousarray(frame),
                            None if timestamp is None else int(timestamp))

    def close(self):
        """Finishes the file (header and table)."""
        self._writer.close()


def open(path):
    """Opens a VID file for reading: a Clip."""
    return Clip(path)


def create(path, width, height, effort=9, frames_reserved=1024, kind="rgb", frame_rate=None,
           metadata=None, start_time=None, records="classic"):
    """Creates (or replaces) a VID file for frames of width x height: a Writer.

    kind: "rgb" (frames of (height, width, 3) uint8), "bayer16" or "bayer8" (raw sensor
    mosaics of (height, width) uint16 or uint8 samples, demosaiced when read). effort is the
    compression effort, 1 (fastest) to 9 (smallest); 2 is about twice as fast as 9 at the
    same size. frame_rate (frames per second), metadata (a JSON-serialisable dict; keys such
    as camera, exposure_us, bit_depth, gains, trigger_frame, description) and start_time
    (ISO 8601 UTC; default now) are kept in the file with each frame's timestamp. The frame
    count need not be known: frames beyond frames_reserved are taken, and closing rewrites
    the file once with an exact table. frames_reserved is a hint: at most 1048576 entries are
    reserved up front. records="compact" writes compact records: camera frames a quarter to a
    third smaller and read faster, which readers of this version and later read (older ones
    refuse them with an error; `vid convert --records classic` makes a file for them)."""
    return Writer(path, width, height, effort, frames_reserved, kind, frame_rate, metadata,
                  start_time, records)


def write(path, frames, effort=9, kind="rgb", frame_rate=None, metadata=None, timestamps=None,
          records="classic", start_time=None):
    """Writes an (n, height, width, 3) uint8 array (kind "rgb") or an (n, height, width)
    uint16/uint8 array of mosaics (kind "bayer16"/"bayer8") as a VID file; timestamps, when
    given, holds one int per frame (nanoseconds); start_time as for create."""
    frames = _np.asarray(frames)
    if kind not in _KINDS:
        raise VidValueError("kind is one of %s, not %r" % (", ".join(_KINDS), kind))
    if kind == "rgb":
        if frames.ndim != 4 or frames.shape[3] != 3 or frames.dtype != _np.uint8:
            raise VidValueError("expected a uint8 array of shape (n, height, width, 3), got %s "
                                "of shape %s" % (frames.dtype, frames.shape))
    elif frames.ndim != 3 or frames.dtype != _KINDS[kind]:
        raise VidValueError("expected a %s array of shape (n, height, width), got %s of shape %s"
                            % (_np.dtype(_KINDS[kind]).name, frames.dtype, frames.shape))
    if timestamps is not None and len(timestamps) != len(frames):
        raise VidValueError("give one timestamp per frame: %d for %d frames"
                            % (len(timestamps), len(frames)))
    with create(path, frames.shape[2], frames.shape[1], effort, max(1, len(frames)), kind,
                frame_rate, metadata, start_time, records) as w:
        for k, frame in enumerate(frames):
            w.append(frame, None if timestamps is None else int(timestamps[k]))


def set_metadata(path, unset=(), **keys):
    """Sets keys of a clip's metadata (keyword arguments, JSON-serialisable values) and removes
    the keys named in `unset`, without re-encoding a frame; returns the metadata then held.
    The sensor description lives there (cfa, bit_depth, black_level, white_level, gains,
    color_matrix); a value that cannot describe the clip is refused with VidValueError naming
    the key. The file is rewritten under a temporary name beside it, synced and renamed: it
    stays as it was until the new file is complete."""
    raw, _ = _path_bytes(path)
    if isinstance(unset, str):
        unset = [unset]
    try:
        pairs = [(k, _json.dumps(v, allow_nan=False, ensure_ascii=False, default=_json_default))
                 for k, v in keys.items()]
    except (TypeError, ValueError) as e:
        raise VidValueError("metadata must be JSON-serialisable: %s" % e) from None
    return _json.loads(_vid.set_metadata(raw, pairs, [str(k) for k in unset]))


def cameras(fake=False):
    """Every GenICam camera (GigE Vision, USB3 Vision) Aravis sees, as dicts: id, vendor, model,
    serial, transport, address, pixel_formats. fake=True adds Aravis's in-process fake camera."""
    _need_cameras()
    return _vid.cameras(bool(fake))


def _need_cameras():
    if not hasattr(_vid, "record"):
        raise RuntimeError("this build of vid records no cameras: Aravis (Debian libaravis-dev) "
                           "was not part of it")


def record(path, camera=None, frames=None, duration=None, pixel_format=None, size=None,
           offset=None, frame_rate=None, exposure=None, gain=None, trigger=None, features=None,
           records="compact", effort=2, buffers=None, metadata=None, resend=True, progress=None):
    """Records a camera into the clip `path`, as `vid record` does, and returns the summary as
    a dict (frames, seconds, frames_per_second, raw_bytes, stored_bytes, ratio, drops by cause,
    ended_by, ...). Ends after `frames` frames or `duration` seconds, or on Ctrl-C, always
    with a finished file. `features`: {name: value} set on the camera before acquisition;
    `metadata`: keys added to the clip's; `progress(frames, seconds, drops)` is called about
    once a second (an exception from it ends the recording)."""
    _need_cameras()
    if frames is None and duration is None:
        raise ValueError("give frames or duration (or both); Ctrl-C also ends the recording")
    if records not in ("compact", "classic"):
        raise ValueError("records must be 'compact' or 'classic'")
    s = _vid.CameraSettings()
    s.id = camera or ""
    s.pixel_format = pixel_format or ""
    if size is not None:
        s.width, s.height = (int(v) for v in size)
    if offset is not None:
        s.x, s.y = (int(v) for v in offset)
    s.frame_rate = float(frame_rate or 0)
    s.exposure_us = float(exposure or 0)
    s.gain_db = -1.0 if gain is None else float(gain)
    s.trigger = trigger or ""
    s.features = [(str(k), str(v)) for k, v in (features or {}).items()]
    s.buffers = int(buffers or 0)
    s.resend = bool(resend)
    raw = _path_bytes(path)[0]
    return _vid.record(raw, s, int(frames or 0), float(duration or 0), records == "compact",
                       int(effort), _json.dumps(metadata or {}, default=_json_default), progress)


def follow(path, timeout=None, samples=False, poll=0.005):
    """Yields (index, frame, timestamp) for every frame of the VID file at `path`, also while a
    writer is still appending to it: frames as they arrive, in order, each whole (a frame is
    taken only once the writer has made it part of the file). Ends when the writer has
    finished (the file's clip block says so), or when no frame has arrived for `timeout`
    seconds (None: wait for ever; files without a clip block never say they are finished).
    frame is clip[k] ((height, width, 3) uint8), or with samples=True a Bayer file's mosaic;
    timestamp is in nanoseconds, or None where the file keeps none (frames beyond the writer's
    reserved table get theirs with its finish)."""
    with open(path) as clip:
        k = 0
        last = _time.monotonic()
        stamps = None
        while True:
            n = len(clip)
            if k < n:
                if stamps is None or len(stamps["missing"]) < n - k:
                    stamps = clip._reader.timestamps(k, n - k) if clip.finished is not None \
                        else None
                for i in range(k, n):
                    t = None if stamps is None or stamps["missing"][i - k] \
                        else int(stamps["nanoseconds"][i - k])
                    frame = clip.mosaic(i) if samples and clip.kind != "rgb" else clip[i]
                    yield i, frame, t
                k, stamps = n, None
                last = _time.monotonic()
                continue
            if clip.finished:
                # The mark comes after the last frame: one more look takes in any frame that
                # arrived since the last one.
                if clip.refresh() > k:
                    continue
                return
            if timeout is not None and _time.monotonic() - last > timeout:
                return
            _time.sleep(poll)
            clip.refresh()


_LAYOUTS = {"side-by-side": 0, "stacked": 1, "sequence": 2}


def _per_input(value, n, what, size):
    """None, one value for every input, or a list of one value per input."""
    if value is None:
        return [None] * n
    if isinstance(value, list) and all(
            v is None or isinstance(v, (tuple, list, range, slice)) for v in value):
        if len(value) != n:
            raise VidValueError("%s: give one for every input, or a list of %d" % (what, n))
        return value
    return [value] * n


def crop(out, inputs, frames=None, box=None, layout="sequence", gap=0,
         background=(255, 255, 255), effort=9, force=False, rgb=False):
    """Writes the VID file `out` from frames and boxes of `inputs` (one path or a list):
    trimmed, cropped, or merged side by side ("side-by-side"), stacked ("stacked") or one
    after the other ("sequence", the default), by the rules of `vid crop` and clipCropMex.

    frames: (first, stop) 0-based, stop excluded (None for an open end), or a range or slice
    of step 1; box: (left, top, width, height). Each is one value for every input or a list of
    one per input. The output frame is the boxes (and gaps) rounded up to multiples of 8, on
    `background` where no box lands. `out` is written under a temporary name and renamed when
    complete; an existing `out` that is not a VID file is replaced only with force=True.
    Bayer and mono clips keep their samples instead (unless rgb=True): the exact box, one clip
    after another, the pattern adjusted to where the box starts, the sensor description and
    timestamps carried. Returns (frames, height, width) of the file written."""
    paths = [inputs] if isinstance(inputs, (str, bytes, _os.PathLike)) else list(inputs)
    if not paths:
        raise VidValueError("crop needs at least one input")
    if layout not in _LAYOUTS:
        raise VidValueError("layout is one of %s, not %r" % (", ".join(_LAYOUTS), layout))
    if not (isinstance(gap, int) and gap >= 0):
        raise VidValueError("gap is a whole number of pixels from 0 on, not %r" % (gap,))
    if not (isinstance(effort, int) and 1 <= effort <= 9):
        raise VidValueError("compression effort %r is not one of 1 to 9" % (effort,))
    colour = tuple(background)
    if len(colour) != 3 or not all(isinstance(c, int) and 0 <= c <= 255 for c in colour):
        raise VidValueError("background is (r, g, b) from 0 to 255, not %r" % (background,))
    given = []
    for path, f, b in zip(paths, _per_input(frames, len(paths), "frames", 2),
                          _per_input(box, len(paths), "box", 4)):
        first, stop = 0, 2**63 - 1
        if isinstance(f, (range, slice)):
            if f.step not in (None, 1):
                raise VidValueError("frames are taken with step 1, not %r" % (f.step,))
            f = (f.start, f.stop)
        if f is not None:
            first = 0 if f[0] is None else int(f[0])
            stop = 2**63 - 1 if f[1] is None else int(f[1])
            if first < 0 or stop < 0:
                raise VidValueError("frame numbers count from 0, not %r" % (f,))
        boxed, l, t, w, h = False, 0, 0, 0, 0
        if b is not None:
            l, t, w, h = (int(v) for v in b)
            if min(l, t) < 0 or min(w, h) < 1 or max(l, t, w, h) > 65535:
                raise VidValueError("box is (left, top, width, height), width and height from "
                                    "1, not %r" % (b,))
            boxed = True
        given.append((_path_bytes(path)[0], first, stop, boxed, l, t, w, h))
    return _vid.crop(_path_bytes(out)[0], given, _LAYOUTS[layout], gap, colour, effort,
                     bool(force), bool(rgb))


def _load_frames(path, first, count, raw=False):
    with open(path) as clip:
        return clip.mosaic(slice(first, first + count)) if raw else clip[first:first + count]


def _default_chunk(height, width):
    # A chunk is about 90 MB of frames: 100 to 200 ms of reading on two cores (at the 600 to
    # 800 MB/s of frames measured for RGB and demosaiced Bayer), the scheduler's rule of thumb.
    return max(1, int(90e6 // max(1, height * width * 3)))


def dask_array(path, frames_per_chunk=None, raw=False):
    """A lazy dask array over the clip's frames: (frames, height, width, 3) uint8 pictures
    ((frames, height, width) for a mono clip), or with raw=True the samples of a Bayer or mono
    clip as stored, (frames, height, width) uint8 or uint16. Each chunk of frames_per_chunk
    frames (default: about 100 to 200 ms of reading) is read when it is computed. The graph
    holds only the path, so it runs on distributed workers."""
    import dask
    import dask.array as da

    with open(path) as clip:
        n, h, w, kind = len(clip), clip.height, clip.width, clip.kind
        shape = clip.shape[1:]
    if raw:
        if kind not in ("bayer8", "bayer16", "mono8", "mono16"):
            raise VidValueError("raw samples need a Bayer or mono clip, not %s" % (kind,))
        shape, dtype = (h, w), _KINDS[kind]
    else:
        dtype = _np.uint8
    if frames_per_chunk is None:
        frames_per_chunk = _default_chunk(h, w)
    if (isinstance(frames_per_chunk, (bool, _np.bool_))
            or not isinstance(frames_per_chunk, (int, _np.integer)) or frames_per_chunk < 1):
        raise VidValueError("frames_per_chunk must be a whole number of at least 1, not %r"
                            % (frames_per_chunk,))
    frames_per_chunk = int(frames_per_chunk)
    path = _os.fspath(path)
    chunks = []
    for first in range(0, n, frames_per_chunk):
        count = min(frames_per_chunk, n - first)
        chunks.append(da.from_delayed(dask.delayed(_load_frames)(path, first, count, raw),
                                      (count,) + shape, dtype=dtype))
    if not chunks:
        return da.zeros((0,) + shape, dtype=dtype)
    return da.concatenate(chunks, axis=0)


class ZarrStore(_MutableMapping):
    """A read-only zarr (version 2) store over a clip (vid.zarr_store): one chunk a frame,
    expanded when a reader asks for it, nothing copied. With dataset=False (the default) the
    store's root is the array of frames, for zarr.open(store) and
    dask.array.from_zarr(store); with dataset=True it is a group holding "frames" and its
    "time" coordinate, for xarray.open_zarr(store). The attributes carry the frame rate, start
    time, timestamps, metadata and sensor description."""

    def __init__(self, path, raw=False, dataset=False):
        self._clip = open(path)
        self._raw = bool(raw)
        c = self._clip
        if raw and c.kind != "rgb":
            shape = (len(c), c.height, c.width)
            dtype = _np.dtype(_np.uint16 if c.kind.endswith("16") else _np.uint8)
        else:
            shape = (len(c),) + tuple(c.shape[1:])
            dtype = _np.dtype(c.dtype)
        self._shape, self._dtype = shape, dtype
        stamps = c.timestamps
        dims = ["time", "y", "x"] + (["channel"] if len(shape) == 4 else [])
        attrs = {"frame_rate": c.frame_rate, "start_time": c.start_time, "kind": c.kind,
                 "metadata": c.metadata, "sensor": c.sensor, "raw": self._raw,
                 "timestamps": None if stamps is None else
                 [None if m else int(v) for v, m in zip(stamps.data, _np.ma.getmaskarray(stamps))]}
        array = {"zarr_format": 2, "shape": list(shape), "chunks": [1] + list(shape[1:]),
                 "dtype": dtype.newbyteorder("<").str if dtype.itemsize > 1 else dtype.str,
                 "compressor": None, "fill_value": None, "order": "C", "filters": None}
        self._prefix = "frames/" if dataset else ""
        meta = {}
        if dataset:
            meta[".zgroup"] = {"zarr_format": 2}
            meta[".zattrs"] = _jsonable(attrs)
            meta["frames/.zarray"] = array
            meta["frames/.zattrs"] = {"_ARRAY_DIMENSIONS": dims}
            n = shape[0]
            if stamps is not None:
                time = _np.where(_np.ma.getmaskarray(stamps), _np.iinfo(_np.int64).min,
                                 _np.asarray(stamps.data, dtype=_np.int64))
                meta["time/.zarray"] = dict(array, shape=[n], chunks=[max(n, 1)], dtype="<M8[ns]")
            else:
                time = _np.arange(n, dtype=_np.int64)
                meta["time/.zarray"] = dict(array, shape=[n], chunks=[max(n, 1)], dtype="<i8")
            meta["time/.zattrs"] = {"_ARRAY_DIMENSIONS": ["time"]}
            self._time = time.astype("<i8").tobytes()
        else:
            meta[".zarray"] = array
            meta[".zattrs"] = dict(_jsonable(attrs), _ARRAY_DIMENSIONS=dims)
        meta[".zmetadata"] = {"zarr_consolidated_format": 1, "metadata": dict(meta)}
        self._meta = {k: _json.dumps(v).encode() for k, v in meta.items()}
        self._chunk_tail = "." + ".".join("0" for _ in shape[1:])
        self._dataset = dataset

    def _frame(self, key):
        if not key.startswith(self._prefix) or not key.endswith(self._chunk_tail):
            return None
        number = key[len(self._prefix):-len(self._chunk_tail)]
        if not number.isdigit() or int(number) >= self._shape[0]:
            return None
        return int(number)

    def __getitem__(self, key):
        if key in self._meta:
            return self._meta[key]
        if self._dataset and key == "time/0":
            return self._time
        k = self._frame(key)
        if k is None:
            raise KeyError(key)
        c = self._clip
        frame = c.mosaic(k) if self._raw and c.kind != "rgb" else c[k]
        return _np.ascontiguousarray(frame, dtype=self._dtype.newbyteorder("<")).tobytes()

    def __contains__(self, key):
        return key in self._meta or (self._dataset and key == "time/0") or \
            self._frame(key) is not None

    def __iter__(self):
        yield from self._meta
        if self._dataset:
            yield "time/0"
        for k in range(self._shape[0]):
            yield self._prefix + str(k) + self._chunk_tail

    def __len__(self):
        return len(self._meta) + self._shape[0] + (1 if self._dataset else 0)

    # zarr takes mappings that say they can be written to; this one refuses every write.
    def __setitem__(self, key, value):
        raise VidError("a clip's zarr store is read-only")

    def __delitem__(self, key):
        raise VidError("a clip's zarr store is read-only")

    def close(self):
        self._clip.close()


def _jsonable(value):
    return _json.loads(_json.dumps(value, default=_json_default))


def zarr_store(path, raw=False, dataset=False):
    """A read-only zarr (version 2) store over the clip at `path`, one chunk a frame (pictures
    as clip[k] gives them, or raw samples with raw=True): zarr.open(store),
    dask.array.from_zarr(store), and with dataset=True xarray.open_zarr(store) read frames
    without a conversion and without copying the file. See ZarrStore."""
    return ZarrStore(path, raw=raw, dataset=dataset)


def xarray(path, frames_per_chunk=None, raw=False):
    """A lazy xarray.DataArray over dask_array(path, raw=raw) with dims (time, y, x, channel)
    ((time, y, x) for raw samples and mono clips): the time coordinate is the frames'
    timestamps as datetime64[ns] in UTC (NaT for a frame without one; the frame numbers when
    the file keeps no timestamps), with "frame" beside it; the clip's frame rate, start time,
    metadata and sensor description are in attrs."""
    import xarray as xr

    frames = dask_array(path, frames_per_chunk, raw)
    with open(path) as clip:
        stamps = clip.timestamps
        attrs = {"path": clip.path, "kind": clip.kind, "frame_rate": clip.frame_rate,
                 "start_time": clip.start_time, "metadata": clip.metadata,
                 "sensor": clip.sensor}
    n = frames.shape[0]
    if stamps is not None:
        time = _np.where(_np.ma.getmaskarray(stamps), _np.datetime64("NaT", "ns"),
                         _np.asarray(stamps.data, dtype=_np.int64).view("datetime64[ns]"))
        time_attrs = {"timezone": "UTC"}
    else:
        time = _np.arange(n, dtype=_np.int64)
        time_attrs = {"units": "frame"}
    coords = {"time": ("time", time, time_attrs), "frame": ("time", _np.arange(n))}
    if frames.ndim == 4:
        dims = ("time", "y", "x", "channel")
        coords["channel"] = ["R", "G", "B"]
    else:
        dims = ("time", "y", "x")
    return xr.DataArray(frames, dims=dims, coords=coords,
                        attrs={k: v for k, v in attrs.items() if v is not None}, name="frames")
