classdef VidWriter < handle
  %VIDWRITER Write frames into a new VID clip.
  %   W = VIDWRITER(FILENAME, WIDTH, HEIGHT) creates (or replaces) FILENAME for RGB frames
  %   of WIDTH x HEIGHT pixels (width 1 to 36863, height 1 to 65535).
  %   W = VIDWRITER(..., 'CompressionEffort', E) compresses at effort E: 1 (fastest) to 9
  %   (smallest, the default). 2 is about twice as fast as 9 at about the same size.
  %   W = VIDWRITER(..., 'FramesReserved', N) reserves the table for N frames (default 1024).
  %
  %   The number of frames need not be known: the table holds FramesReserved frames, and a
  %   writer that goes beyond appends the frames behind the others and, when closed, rewrites
  %   the file once with a table of exactly the frames written.
  %
  %   Methods:
  %     writeVideo(W, FRAMES)  appends FRAMES, a Height x Width x 3 (x n) uint8 array
  %     close(W)               finishes the file; clearing or deleting W does the same
  %
  %   Properties (read-only): Name, Width, Height, FrameCount, CompressionEffort.
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
    Width = 0;
    Height = 0;
    FrameCount = 0;
    CompressionEffort = 9;
  end

  properties (Access = private)
    Handle = [];
  end

  methods
    function w = VidWriter (file, width, height, varargin)
      if (nargin < 3 || ! ischar (file) || isempty (file))
        error ('vid:badArgument', 'VidWriter needs a file name, a width and a height.');
      end
      if (any (file(:) == char (0)))
        error ('vid:badArgument', 'The file name holds a NUL character: it would name another file.');
      end
      if (! isscalar (width) || ! isscalar (height) || ! isnumeric (width) || ! isnumeric (height) ...
          || width != fix (width) || height != fix (height) || width < 1 || height < 1 ...
          || width > 36863 || height > 65535)
        error ('vid:badArgument', 'Width 1 to 36863 and height 1 to 65535 pixels, whole numbers.');
      end
      reserve = 1024;
      effort = 9;
      if (mod (numel (varargin), 2) != 0)
        error ('vid:badArgument', 'Options come as name, value pairs.');
      end
      for i = 1:2:numel (varargin)
        value = varargin{i + 1};
        ok = isnumeric (value) && isscalar (value) && value == fix (value);
        switch (lower (varargin{i}))
          case 'compressioneffort'
            if (! ok || value < 1 || value > 9)
              error ('vid:badArgument', 'CompressionEffort is a whole number from 1 to 9.');
            end
            effort = value;
          case 'framesreserved'
            % A hint: at most 1048576 entries are reserved up front, and frames beyond
            % FramesReserved are still taken.
            if (! ok || value < 1 || value > 2^31 - 1)
              error ('vid:badArgument', 'FramesReserved is a whole number from 1 on.');
            end
            reserve = value;
          otherwise
            error ('vid:badArgument', 'Unknown option %s.', varargin{i});
        end
      end
      try
        w.Handle = vidMex ('create', file, width, height, reserve, effort);
      catch err
        failed (err);
      end
      w.Name = file;
      w.Width = width;
      w.Height = height;
      w.CompressionEffort = effort;
    end

    function writeVideo (w, frames)
      if (isempty (w.Handle))
        error ('vid:closed', '%s was closed: no frame can be added.', w.Name);
      end
      if (! isa (frames, 'uint8') || ! isreal (frames) || ndims (frames) > 4 ...
          || size (frames, 1) != w.Height || size (frames, 2) != w.Width || size (frames, 3) != 3)
        error ('vid:badImage', 'Frames must be %d x %d x 3 (x n) uint8 arrays, not %s %s.', ...
               w.Height, w.Width, mat2str (size (frames)), class (frames));
      end
      before = w.FrameCount;
      try
        vidMex ('write', w.Handle, frames);
      catch err
        failed (err);
      end
      w.FrameCount = before + size (frames, 4);
    end

    function close (w)
      if (! isempty (w.Handle))
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
      if (isempty (w.Handle))
        state = 'closed';
      end
      fprintf ('  VidWriter of %s: %d x %d pixels, %d frames written, effort %d, %s\n', ...
               w.Name, w.Width, w.Height, w.FrameCount, w.CompressionEffort, state);
    end

    function delete (w)
      try
        close (w);
      end
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
