classdef VidReader < handle
  %VIDREADER Read the frames of a VID clip, by number or one after another.
  %   R = VIDREADER(FILENAME) opens the VID file FILENAME for reading.
  %   R = VIDREADER(FILENAME, 'CurrentTime', T) starts readFrame at time T (seconds).
  %
  %   Properties (read-only):
  %     Name       the file's name (without its folder)
  %     Path       the folder the file is in (absolute)
  %     NumFrames  number of frames
  %     Width      frame width in pixels
  %     Height     frame height in pixels
  %     Kind       'rgb', 'bayer8' or 'bayer16' (Bayer frames are demosaiced on reading),
  %                'mono8' or 'mono16' (mono frames); '' for an empty file (no frames,
  %                nothing behind its table)
  %     VideoFormat  'RGB24', or 'Grayscale' for mono clips (frames Height x Width x 1)
  %     BitsPerPixel 24 for 'RGB24', 8 for 'Grayscale' (the frames read gives)
  %     FrameRate  nominal frames per second (NaN when the file does not say)
  %     Duration   NumFrames / FrameRate, seconds
  %     Timestamps each frame's time in seconds from the first frame (double column; []
  %                when the file keeps no timestamps)
  %     Metadata   the clip's metadata (struct; empty struct when there is none)
  %     StartTime  when the recording started, ISO 8601 UTC ('' when unknown)
  %     CurrentTime  the time of the next frame readFrame gives, seconds (settable)
  %
  %   Methods:
  %     F = read(R)               every frame, Height x Width x 3 x NumFrames uint8
  %     F = read(R, K)            frames K (1-based: a scalar, a range such as 5:9, or any
  %                               vector of three or more indices) as a Height x Width x 3 x
  %                               numel(K) uint8 array
  %     F = read(R, [A B])        frames A to B, as VideoReader reads them (B may be Inf: to
  %                               the last frame)
  %     F = read(R, Inf)          the last frame
  %     F = read(R, K, 'double')  the same frames as doubles 0 to 255 (what clipReadMex
  %                               returns)
  %     F = read(R, K, 'native')  the frames in the class of the samples: uint16 (16-bit
  %                               linear) for two-byte kinds, uint8 otherwise
  %   A clip whose metadata describes its sensor (cfa, bit_depth, black_level, white_level,
  %   gains, color_matrix) is pictured by that description; other clips as they always were.
  %     F = readFrame(R)          the next frame (uint8), for loops with hasFrame
  %     F = readFrame(R, 'native') the next frame in the class of the samples
  %     TF = hasFrame(R)          true while frames remain for readFrame
  %     N = refresh(R)            takes in frames a running writer appended since R opened
  %                               (NumFrames, Timestamps and hasFrame then see them)
  %     M = readMosaic(R, K)      a Bayer file's samples of frame K as stored: Height x
  %                               Width uint16 (two-byte) or uint8 (one-byte), no gains
  %
  %   Indices that are not positive integers within 1..NumFrames are errors. Errors name the
  %   file, the frame (counted from 1) and the reason, and have identifiers: vid:notFound,
  %   vid:notPermitted, vid:badFile, vid:badFrameIndex, vid:notBayer, vid:readFailed,
  %   vid:outOfMemory, vid:badArgument.
  %
  %   Example:
  %      r = VidReader('clip.vid');
  %      while hasFrame(r)
  %          img = readFrame(r);          % uint8, ready for imshow
  %      end
  %      few = read(r, 1:10);             % Height x Width x 3 x 10
  %
  %   See also VIDWRITER, CLIPOPENMEX, CLIPREADMEX.

  properties (SetAccess = private)
    Name = '';
    Path = '';
    NumFrames = 0;
    Width = 0;
    Height = 0;
    Kind = '';
    FrameRate = NaN;
    Duration = NaN;
    Timestamps = [];
    Metadata = struct ();
    StartTime = '';
  end

  properties (Dependent)
    CurrentTime;
    VideoFormat;
    BitsPerPixel;
  end

  properties (Access = private)
    Handle = [];
    Next = 1;
    File = '';   % the name as given, for messages
    % Frames come from the oct-file vidReadFrames where there is one (Octave: it hands its
    % array over without the copy a MEX result gets), else from vidMex.
    Reader = @(h, first, count, cls) vidMex ('read', h, first, count, cls);
  end

  methods
    function r = VidReader (file, varargin)
      if (nargin < 1 || ~ ischar (file) || isempty (file))
        error ('vid:badArgument', 'VidReader needs a file name.');
      end
      if (mod (numel (varargin), 2) ~= 0)
        error ('vid:badArgument', 'Options come as name, value pairs.');
      end
      if (any (file(:) == char (0)))
        error ('vid:badArgument', 'The file name holds a NUL character: it would name another file.');
      end
      if (exist (file, 'dir') == 7)
        error ('vid:badFile', '%s is a folder, not a VID file.', file);
      end
      if (exist (file, 'file') ~= 2)
        error ('vid:notFound', 'No such file: %s', file);
      end
      try
        [h, info] = vidMex ('open', file);
      catch err
        failed (err);
      end
      kinds = {'rgb', 'bayer8', 'bayer16', '', 'mono8', 'mono16'};   % '': an empty file
      r.Handle = h;
      if (exist ('vidReadFrames') == 3)
        r.Reader = @vidReadFrames;
      end
      r.File = file;
      [folder, base, ext] = fileparts (absolute_name (file));
      r.Name = [base ext];
      r.Path = folder;
      r.Width = info(1);
      r.Height = info(2);
      r.NumFrames = info(3);
      r.Kind = kinds{info(4) + 1};
      read_clip (r);
      for i = 1:2:numel (varargin)
        if (~ ischar (varargin{i}) || ~ strcmpi (varargin{i}, 'CurrentTime'))
          error ('vid:badArgument', 'VidReader takes the option ''CurrentTime'', T.');
        end
        r.CurrentTime = varargin{i + 1};
      end
    end

    function n = refresh (r)
      try
        info = vidMex ('refresh', r.Handle);
      catch err
        failed (err);
      end
      kinds = {'rgb', 'bayer8', 'bayer16', '', 'mono8', 'mono16'};
      n = info(1);
      r.NumFrames = n;
      r.Kind = kinds{info(2) + 1};
      read_clip (r);
    end
  end

  methods (Access = private)
    function read_clip (r)
      file = r.File;
      h = r.Handle;
      try
        [facts, start, meta, stamps, problem] = vidMex ('clip', h);
      catch err
        failed (err);
      end
      if (facts(3))
        warning ('vid:damagedMetadata', '%s: its clip block is damaged (%s); the frames read as ever.', ...
                 file, problem);
      end
      % A block whose metadata, start time or rate alone broke keeps its timestamps.
      if (facts(2))
        if (facts(1) > 0)
          r.FrameRate = facts(1);
          r.Duration = r.NumFrames / facts(1);
        end
        r.StartTime = start;
        if (~ isempty (stamps))
          % Seconds from the first frame; frames without a time are NaN.
          none = stamps == intmin ('int64');
          t = double (stamps - stamps(1)) / 1e9;
          t(none) = NaN;
          r.Timestamps = t;
        end
        try
          if (~ isempty (meta))
            r.Metadata = jsondecode (meta);
          end
        catch
          warning ('vid:damagedMetadata', '%s: its metadata is damaged; the frames read as ever.', file);
        end
      end
    end
  end

  methods

    function t = get.CurrentTime (r)
      if (~ isempty (r.Timestamps) && r.Next <= numel (r.Timestamps))
        t = r.Timestamps(r.Next);
      elseif (r.FrameRate > 0)
        t = (r.Next - 1) / r.FrameRate;
      else
        t = NaN;
      end
    end

    function r = set.CurrentTime (r, t)
      % The next readFrame gives the first frame at or after time t.
      if (~ isnumeric (t) || ~ isscalar (t) || ~ isreal (t) || t < 0)
        error ('vid:badArgument', 'CurrentTime is a time in seconds, 0 or more.');
      end
      if (~ isempty (r.Timestamps))
        k = find (r.Timestamps >= t - 1e-9, 1);
        if (isempty (k))
          k = r.NumFrames + 1;
        end
      elseif (r.FrameRate > 0)
        k = floor (t * r.FrameRate + 1e-9) + 1;
      else
        error ('vid:badArgument', '%s keeps neither frame rate nor timestamps.', r.File);
      end
      r.Next = min (k, r.NumFrames + 1);
    end

    function b = get.BitsPerPixel (r)
      if (strncmp (r.Kind, 'mono', 4))
        b = 8;
      else
        b = 24;
      end
    end

    function f = get.VideoFormat (r)
      if (strncmp (r.Kind, 'mono', 4))
        f = 'Grayscale';
      else
        f = 'RGB24';
      end
    end

    function frames = read (r, k, cls)
      if (nargin < 2)
        % Every frame, as VideoReader's read(v).
        if (r.NumFrames == 0)
          frames = zeros (r.Height, r.Width, 3 - 2 * strncmp (r.Kind, 'mono', 4), 0, 'uint8');
          return;
        end
        k = [1 r.NumFrames];
      end
      if (nargin < 3)
        cls = 'uint8';
      elseif (~ any (strcmp (cls, {'uint8', 'double', 'native'})))
        error ('vid:badArgument', 'The class of the frames is ''uint8'', ''double'' or ''native'', not ''%s''.', cls);
      end
      % read(r, Inf): the last frame, as VideoReader reads it.
      if (isnumeric (k) && isscalar (k) && isinf (k) && k > 0)
        k = r.NumFrames;
      end
      % One frame, the common case: checked and read here, with no further method calls.
      if (isscalar (k) && isnumeric (k) && isreal (k) && k == fix (k) && k >= 1 ...
          && k <= r.NumFrames)
        reader = r.Reader;
        frames = reader (r.Handle, double (k) - 1, 1, cls);
        return;
      end
      if (isnumeric (k) && numel (k) == 2)
        % [A B] is the range A..B (B may be Inf), as in VideoReader.
        last = k(2);
        if (isinf (last) && last > 0)
          last = r.NumFrames;
        end
        k = check_index (r, [k(1) last]);
        if (k(2) < k(1))
          error ('vid:badFrameIndex', 'The range [%d %d] is empty: [A B] reads frames A to B.', ...
                 k(1), k(2));
        end
        k = k(1):k(2);
      end
      k = check_index (r, k);
      out_cls = cls;
      if (strcmp (cls, 'native'))
        out_cls = 'uint8';
        if (any (strcmp (r.Kind, {'bayer16', 'mono16'})))
          out_cls = 'uint16';
        end
      end
      frames = zeros (r.Height, r.Width, 3 - 2 * strncmp (r.Kind, 'mono', 4), numel (k), out_cls);
      % Runs of consecutive frames are read in one call.
      i = 1;
      while (i <= numel (k))
        j = i;
        while (j < numel (k) && k(j + 1) == k(j) + 1)
          j = j + 1;
        end
        reader = r.Reader;
        frames(:, :, :, i:j) = reader (r.Handle, k(i) - 1, j - i + 1, cls);
        i = j + 1;
      end
    end

    function frame = readFrame (r, cls)
      if (~ hasFrame (r))
        error ('vid:badFrameIndex', 'No frame left to read: all %d frames of %s were read.', r.NumFrames, r.File);
      end
      if (nargin < 2)
        cls = 'uint8';
      end
      frame = read (r, r.Next, cls);
      r.Next = r.Next + 1;
    end

    function tf = hasFrame (r)
      tf = r.Next <= r.NumFrames;
    end

    function disp (r)
      fprintf ('  VidReader of %s: %d frames of %d x %d pixels, %s\n', r.File, r.NumFrames, ...
               r.Width, r.Height, r.Kind);
    end

    function m = readMosaic (r, k)
      if (strcmp (r.Kind, 'rgb'))
        error ('vid:notBayer', '%s holds RGB frames, not Bayer mosaics.', r.File);
      end
      k = check_index (r, k);
      if (numel (k) ~= 1)
        error ('vid:badFrameIndex', 'readMosaic reads one frame at a time.');
      end
      try
        m = vidMex ('mosaic', r.Handle, k - 1);
      catch err
        failed (err);
      end
    end

    function delete (r)
      if (~ isempty (r.Handle))
        try
          vidMex ('close', r.Handle);
        end
        r.Handle = [];
      end
    end
  end

end

% Helpers of the class, kept out of its methods so that methods(r) lists only what users call.

function k = check_index (r, k)
  if (isscalar (k) && isnumeric (k) && isreal (k) && k == fix (k) && k >= 1 ...
      && k <= r.NumFrames)
    k = double (k);
    return;
  end
  if (~ isnumeric (k) || isempty (k) || ~ isreal (k) || any (k(:) ~= fix (k(:))) ...
      || any (k(:) < 1) || any (k(:) > r.NumFrames))
    bad = '';
    if (isnumeric (k) && isreal (k) && ~ isempty (k))
      wrong = k(k(:) ~= fix (k(:)) | k(:) < 1 | k(:) > r.NumFrames);
      bad = sprintf ('Frame %g is outside the clip. ', wrong(1));
    end
    error ('vid:badFrameIndex', ...
           '%sFrame indices must be positive integers within 1..%d (%s has %d frames).', ...
           bad, r.NumFrames, fullfile (r.Path, r.Name), r.NumFrames);
  end
  k = double (k(:)');
end

function failed (err)
  % The gateway's errors name the file, the frame (from 1) and the reason, with the identifier
  % of their kind; raised as the class's own, without the host's "vidMex: " before them.
  error (err.identifier, '%s', regexprep (err.message, '^vidMex: ', ''));
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
