classdef VidWriter < handle
  %VIDWRITER Write frames into a new VID clip.
  %   W = VIDWRITER(FILENAME, WIDTH, HEIGHT) creates (or replaces) FILENAME for RGB frames
  %   of WIDTH x HEIGHT pixels (width 1 to 36863, height 1 to 65535).
  %   W = VIDWRITER(FILENAME) and W = VIDWRITER(FILENAME, PROFILE) work as VideoWriter does:
  %   the size comes from the first frame, FrameRate may be set until then, open(W) is
  %   taken; PROFILE 'Grayscale AVI' writes mono8 frames, any other writes RGB.
  %   W = VIDWRITER(..., 'CompressionEffort', E) compresses at effort E: 1 (fastest) to 9
  %   (smallest, the default). 2 is about twice as fast as 9 at about the same size.
  %   W = VIDWRITER(..., 'FramesReserved', N) reserves the table for N frames (default 1024).
  %   W = VIDWRITER(..., 'Kind', K) writes RGB frames ('rgb', the default) or raw sensor
  %   samples: 'mono16'/'mono8' for mono sensors (Height x Width frames of uint16/uint8), or
  %   mosaics: 'bayer16' (two-byte samples, width up to 36863) or 'bayer8' (one-byte
  %   samples, width up to 28672), stored as given and demosaiced when read.
  %   W = VIDWRITER(..., 'Records', 'compact') writes compact records: camera frames a
  %   quarter to a third smaller and faster to read, which readers before this version refuse
  %   with an error ('classic', the default, is read by every version).
  %   W = VIDWRITER(..., 'FrameRate', R) keeps the nominal frame rate (frames per second).
  %   W = VIDWRITER(..., 'Metadata', S) keeps the struct S (as JSON) with the clip; keys
  %   such as camera, exposure_us, bit_depth, gains, trigger_frame, description.
  %
  %   Every frame gets a timestamp: the host's clock when writeVideo is called (in
  %   VideoWriter's form, frame k at (k - 1) / FrameRate seconds), or the one given with
  %   writeVideo(W, F, 'Timestamp', T).
  %
  %   The number of frames need not be known: the table holds FramesReserved frames, and a
  %   writer that goes beyond appends the frames behind the others and, when closed, rewrites
  %   the file once with a table of exactly the frames written.
  %
  %   Methods:
  %     open(W)                as VideoWriter's (the file is made with the first frame)
  %     writeVideo(W, FRAMES)  appends FRAMES, a Height x Width x 3 (x n) uint8 array, or for
  %                            Bayer files Height x Width (x n) uint16 ('bayer16') or uint8
  %                            ('bayer8') mosaics; as VideoWriter takes them, double or single
  %                            frames in [0, 1] (scaled to 0..255) and gray frames Height x
  %                            Width (x 1 x n) (the three colours alike) for RGB files
  %     writeVideo(W, FRAMES, 'Timestamp', T)  with the frames' times: T seconds (double, one
  %                            per frame) or int64 nanoseconds on the recorder's clock
  %     close(W)               finishes the file; clearing or deleting W does the same
  %
  %   Properties (read-only): Name, Filename, Path, Width, Height, FrameCount,
  %   CompressionEffort, Kind; FrameRate may be set until the first frame.
  %
  %   Every frame is in the file when writeVideo returns: if MATLAB/Octave crashes, the file
  %   reads back with every frame written (beyond FramesReserved frames: with the first
  %   FramesReserved of them, and vid repair recovers the rest).
  %
  %   Errors have identifiers: vid:badArgument, vid:badImage, vid:closed, vid:writeFailed.
  %
  %   Example:
  %      w = VidWriter('out.vid', 640, 480, 'CompressionEffort', 2);
  %      for k = 1:100
  %          writeVideo(w, uint8(255 * rand(480, 640, 3)));
  %      end
  %      close(w);
  %
  %   See also VIDREADER, CLIPOPENMEX, CLIPWRITEMEX.

  properties (SetAccess = private)
    Name = '';
    Filename = '';
    Path = '';
    Width = 0;
    Height = 0;
    FrameCount = 0;
    CompressionEffort = 9;
    Kind = 'rgb';
  end

  properties
    FrameRate = 0;
  end

  properties (Access = private)
    Handle = [];
    Made = false;      % the file exists (from the constructor with a size, or the first frame)
    Closed = false;
    Reserve = 1024;
    Meta = '{}';
    Records = 'classic';
    Paced = false;     % VideoWriter's form: frame k is stamped (k - 1) / FrameRate
  end

  methods
    function w = VidWriter (file, width, height, varargin)
      if (nargin < 1 || ~ ischar (file) || isempty (file))
        error ('vid:badArgument', 'VidWriter needs a file name (and a width and a height, or a profile).');
      end
      if (any (file(:) == char (0)))
        error ('vid:badArgument', 'The file name holds a NUL character: it would name another file.');
      end
      w.Name = file;
      [folder, base, ext] = fileparts (absolute_name (file));
      w.Filename = [base ext];
      w.Path = folder;
      if (nargin < 3)
        % VideoWriter's form: the size comes with the first frame, and the frames are
        % stamped by the frame rate, as a video's are.
        w.Paced = true;
        if (nargin == 2)
          if (~ ischar (width))
            error ('vid:badArgument', 'VidWriter takes a file name and a width and a height, or a profile.');
          end
          if (strcmpi (width, 'Grayscale AVI'))
            w.Kind = 'mono8';
          end
        end
        return;
      end
      if (~ isscalar (width) || ~ isscalar (height) || ~ isnumeric (width) || ~ isnumeric (height) ...
          || width ~= fix (width) || height ~= fix (height) || width < 1 || height < 1 ...
          || width > 36863 || height > 65535)
        error ('vid:badArgument', 'Width 1 to 36863 and height 1 to 65535 pixels, whole numbers.');
      end
      reserve = 1024;
      effort = 9;
      kind = 'rgb';
      rate = 0;
      meta = '{}';
      records = 'classic';
      if (mod (numel (varargin), 2) ~= 0)
        error ('vid:badArgument', 'Options come as name, value pairs.');
      end
      for i = 1:2:numel (varargin)
        value = varargin{i + 1};
        ok = isnumeric (value) && isscalar (value) && value == fix (value);
        switch (lower (varargin{i}))
          case 'compressioneffort'
            if (~ ok || value < 1 || value > 9)
              error ('vid:badArgument', 'CompressionEffort is a whole number from 1 to 9.');
            end
            effort = value;
          case 'framesreserved'
            % A hint: at most 1048576 entries are reserved up front, and frames beyond
            % FramesReserved are still taken.
            if (~ ok || value < 1 || value > 2^31 - 1)
              error ('vid:badArgument', 'FramesReserved is a whole number from 1 on.');
            end
            reserve = value;
          case 'kind'
            if (~ ischar (value) || ~ any (strcmp (value, {'rgb', 'bayer8', 'bayer16', 'mono8', 'mono16'})))
              error ('vid:badArgument', 'Kind is ''rgb'', ''bayer8'', ''bayer16'', ''mono8'' or ''mono16''.');
            end
            kind = value;
          case 'records'
            if (~ ischar (value) || ~ any (strcmp (value, {'classic', 'compact'})))
              error ('vid:badArgument', 'Records are ''classic'' or ''compact''.');
            end
            records = value;
          case 'framerate'
            if (~ isnumeric (value) || ~ isscalar (value) || ~ isreal (value) ...
                || ~ isfinite (value) || value < 0)
              error ('vid:badArgument', 'FrameRate is a number of frames per second.');
            end
            rate = double (value);
          case 'metadata'
            if (~ isstruct (value) || ~ isscalar (value))
              error ('vid:badArgument', 'Metadata is a scalar struct.');
            end
            meta = jsonencode (value);
          otherwise
            error ('vid:badArgument', 'Unknown option %s.', varargin{i});
        end
      end
      w.Reserve = reserve;
      w.CompressionEffort = effort;
      w.Kind = kind;
      w.FrameRate = rate;
      w.Meta = meta;
      w.Records = records;
      make (w, width, height);
    end

    function w = set.FrameRate (w, value)
      if (w.Made)
        error ('vid:badArgument', 'FrameRate is set before the first frame (%s holds frames).', w.Name);
      end
      if (~ isnumeric (value) || ~ isscalar (value) || ~ isreal (value) ...
          || ~ isfinite (value) || value < 0)
        error ('vid:badArgument', 'FrameRate is a number of frames per second.');
      end
      w.FrameRate = double (value);
    end

    function open (w)
      % As VideoWriter's open: the file itself is made with the first frame (its size).
      if (w.Closed)
        error ('vid:closed', '%s was closed: no frame can be added.', w.Name);
      end
    end

    function writeVideo (w, frames, varargin)
      if (w.Closed)
        error ('vid:closed', '%s was closed: no frame can be added.', w.Name);
      end
      % VideoWriter's frames: doubles or singles in [0, 1], and gray frames for RGB files.
      if (isfloat (frames) && isreal (frames))
        frames = uint8 (round (255 * min (max (double (frames), 0), 1)));
      end
      if (strcmp (w.Kind, 'rgb') && isa (frames, 'uint8') && ndims (frames) <= 4 ...
          && (ndims (frames) == 2 || size (frames, 3) == 1))
        frames = repmat (frames, [1 1 3 1]);
      end
      if (~ strcmp (w.Kind, 'rgb') && ndims (frames) == 4 && size (frames, 3) == 1)
        frames = reshape (frames, size (frames, 1), size (frames, 2), size (frames, 4));
      end
      if (~ w.Made)
        make (w, size (frames, 2), size (frames, 1));
      end
      if (strcmp (w.Kind, 'rgb'))
        n = size (frames, 4);
        if (~ isa (frames, 'uint8') || ~ isreal (frames) || ndims (frames) > 4 ...
            || size (frames, 1) ~= w.Height || size (frames, 2) ~= w.Width || size (frames, 3) ~= 3)
          error ('vid:badImage', 'Frames must be %d x %d x 3 (x n) uint8 arrays, not %s %s.', ...
                 w.Height, w.Width, mat2str (size (frames)), class (frames));
        end
      else
        n = size (frames, 3);
        cls = 'uint16';
        if (any (strcmp (w.Kind, {'bayer8', 'mono8'})))
          cls = 'uint8';
        end
        if (~ isa (frames, cls) || ~ isreal (frames) || ndims (frames) > 3 ...
            || size (frames, 1) ~= w.Height || size (frames, 2) ~= w.Width)
          error ('vid:badImage', 'Mosaics must be %d x %d (x n) %s arrays, not %s %s.', ...
                 w.Height, w.Width, cls, mat2str (size (frames)), class (frames));
        end
      end
      args = {};
      if (numel (varargin) == 2 && ischar (varargin{1}) && strcmpi (varargin{1}, 'Timestamp'))
        t = varargin{2};
        if (~ isnumeric (t) || ~ isreal (t) || numel (t) ~= n || any (~ isfinite (double (t(:)))))
          error ('vid:badArgument', 'Timestamp holds one time per frame (%d).', n);
        end
        if (isa (t, 'int64'))
          args = {t(:)};
        else
          args = {int64(round(double(t(:)) * 1e9))};   % seconds to nanoseconds
        end
      elseif (~ isempty (varargin))
        error ('vid:badArgument', 'writeVideo takes the frames and optionally ''Timestamp'', T.');
      elseif (w.Paced && w.FrameRate > 0)
        args = {int64(round((w.FrameCount + (0:n - 1)') * 1e9 / w.FrameRate))};
      end
      before = w.FrameCount;
      try
        vidMex ('write', w.Handle, frames, args{:});
      catch err
        failed (err);
      end
      w.FrameCount = before + n;
    end

    function close (w)
      w.Closed = true;
      if (~ isempty (w.Handle))
        h = w.Handle;
        w.Handle = [];
        try
          vidMex ('close', h);
        catch err
          failed (err);
        end
      end
    end

    function disp (w)
      state = 'open';
      if (w.Closed)
        state = 'closed';
      end
      fprintf ('  VidWriter of %s: %s, %d x %d pixels, %d frames written, effort %d, %s\n', ...
               w.Name, w.Kind, w.Width, w.Height, w.FrameCount, w.CompressionEffort, state);
    end

    function delete (w)
      try
        close (w);
      end
    end
  end

  methods (Access = private)
    function make (w, width, height)
      if (~ isscalar (width) || ~ isscalar (height) || width < 1 || height < 1 ...
          || width > 36863 || height > 65535)
        error ('vid:badArgument', 'Width 1 to 36863 and height 1 to 65535 pixels, whole numbers.');
      end
      try
        if (any (strcmp (w.Kind, {'bayer8', 'mono8'})) && width > 28672)
          error ('vid:badArgument', 'One-byte Bayer frames are 1 to 28672 pixels wide.');
        end
        w.Handle = vidMex ('create', w.Name, width, height, w.Reserve, w.CompressionEffort, ...
                           w.Kind, w.FrameRate, w.Meta, '', w.Records);
      catch err
        failed (err);
      end
      w.Width = width;
      w.Height = height;
      w.Made = true;
    end
  end
end

function failed (err)
  % The gateway names the file, the frame and the reason, with the identifier of the failure's
  % kind; a writer's failures are vid:writeFailed unless an argument was refused.
  id = 'vid:writeFailed';
  if (strcmp (err.identifier, 'vid:badArgument'))
    id = err.identifier;
  end
  error (id, '%s', regexprep (err.message, '^vidMex: ', ''));
end

function p = absolute_name (file)
  % The file's absolute name (Octave has a function for it; MATLAB takes the working folder).
  if (exist ('make_absolute_filename') > 0)
    p = make_absolute_filename (file);
  elseif (any (strncmp (file, {'/', '\\'}, 1)) || (numel (file) > 1 && file(2) == ':'))
    p = file;
  else
    p = fullfile (pwd, file);
  end
end
