%CLIPWRITEMEX Append a frame to a VID clip opened for writing.
%   CLIPWRITEMEX(H, IMG) compresses the uint8 image IMG (M x N x 3; further
%   planes are ignored) and appends it as the next frame of the clip whose
%   handle H came from H = CLIPOPENMEX(FILENAME, int32([W H FRAMES])). The
%   image is placed at the frame's top left corner: parts of the frame it
%   does not cover are white, parts beyond the frame are cut off.
%
%   Write through the same variable H (or copies made after the last
%   write): each write advances the frame position inside H. A copy that has
%   fallen behind is refused. The frame is part of the file when the call
%   returns, also if MATLAB/Octave then crashes.
%
%   Errors: an image that is not uint8 or not M x N x 3, a closed or foreign
%   handle, a reader's handle, more frames than were reserved, and a full
%   disk raise an error with the reason. No outputs.
%
%   Example:
%      h = clipOpenMex('out.vid', int32([320 240 10]));
%      for k = 1:10
%          clipWriteMex(h, uint8(255 * rand(240, 320, 3)));
%      end
%      clipCloseMex(h);
%
%   See also CLIPOPENMEX, CLIPCLOSEMEX, VIDWRITER.
