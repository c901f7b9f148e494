%CLIPREADMEX Read one frame of a VID clip opened for reading.
%   IMG = CLIPREADMEX(H, F) returns frame F of the clip whose handle H came
%   from [H, DIMS] = CLIPOPENMEX(FILENAME). F is a real numeric scalar, the
%   0-based frame number (0 to DIMS(3)-1), rounded to the nearest integer.
%   IMG is a height x width x 3 double array of values 0 to 255 (planes red,
%   green, blue). Bayer clips are demosaiced. Divide by 255 (or use
%   uint8(IMG)) before IMSHOW.
%
%   F is rounded as fix(F + 0.5), so every F above -1.5 and below DIMS(3) - 0.5
%   reads a frame (-1 reads frame 0). An F that rounds to DIMS(3), the frame
%   count itself, raises the error "asked frameNumber N > num_frames N". An F
%   that rounds below 0 or above DIMS(3), Inf and NaN print the notice
%   "input frame number should be in [0, #frames]" and return []. A frame
%   whose record is damaged raises an error naming the frame and the file.
%   Exactly two inputs and one output.
%
%   Example:
%      [h, dims] = clipOpenMex('clip.vid');
%      for f = 0:dims(3)-1
%          img = clipReadMex(h, f);
%          imshow(uint8(img)); drawnow;
%      end
%      clipCloseMex(h);
%
%   See also CLIPOPENMEX, CLIPCLOSEMEX, VIDREADER.
