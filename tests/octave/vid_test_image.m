function img = vid_test_image (rows, cols, planes, seed)
  % A deterministic uint8 image of rows x cols x planes whose every plane, row and column
  % differs, so that a transposed, shifted or swapped copy cannot compare equal.
  [x, y] = meshgrid (0:cols-1, 0:rows-1);
  img = zeros (rows, cols, planes, "uint8");
  for c = 1:planes
    img(:, :, c) = uint8 (mod (y * 7 + x * 13 + c * 71 + seed * 29 + mod (x .* y, 5), 256));
  end
end
