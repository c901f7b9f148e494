function vid_write_file (name, frames, reserved)
  % Writes the uint8 images of the cell array frames (all rows x cols x 3) as an RGB VID file
  % with room for reserved frames (default: as many as given), through the MEX functions.
  if (nargin < 3)
    reserved = numel (frames);
  end
  [rows, cols, ~] = size (frames{1});
  h = clipOpenMex (name, int32 ([cols rows reserved]));
  for k = 1:numel (frames)
    clipWriteMex (h, frames{k});
  end
  clipCloseMex (h);
end
