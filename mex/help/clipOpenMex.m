%CLIPOPENMEX Open a VID clip for reading, or create one for writing.
%   [H, DIMS] = CLIPOPENMEX(FILENAME) opens the VID file FILENAME (char row
%   vector) for reading. H is the Vid handle (a double column vector; pass it
%   on unchanged). DIMS is a 3x1 double: [width; height; number of frames].
%   Both outputs must be requested.
%
%   H = CLIPOPENMEX(FILENAME, GEOMETRY) creates (or replaces) FILENAME for
%   writing RGB frames. GEOMETRY is an int32 vector [width height frames]:
%   width 1 to 36863, height 1 to 65535, and the number of frames reserved.
%   Exactly one output must be requested. At most GEOMETRY(3) frames can be
%   written; fewer is fine (the file then holds the frames written).
%
%   Frames are numbered from 0 (see CLIPREADMEX). Every frame written is in
%   the file as soon as CLIPWRITEMEX returns: if MATLAB/Octave crashes or the
%   handle is cleared without CLIPCLOSEMEX, the file still reads back with
%   every frame written.
%
%   Errors: a missing or unreadable file, a file that is not a whole VID file,
%   wrong argument counts or classes, and a geometry a VID file cannot hold
%   raise an error whose message names the file and the reason. A failed
%   opening leaves nothing open.
%
%   Example:
%      h = clipOpenMex('out.vid', int32([640 480 100]));
%      clipWriteMex(h, zeros(480, 640, 3, 'uint8'));
%      clipCloseMex(h);
%      [r, dims] = clipOpenMex('out.vid');   % dims = [640; 480; 1]
%      img = clipReadMex(r, 0);              % 480 x 640 x 3 double
%      clipCloseMex(r);
%
%   See also CLIPREADMEX, CLIPWRITEMEX, CLIPCLOSEMEX, CLIPCROPMEX, VIDREADER,
%   VIDWRITER.
