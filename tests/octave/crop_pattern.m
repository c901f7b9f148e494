## Helper of the clipCropMex tests.
function img = crop_pattern (id, f, w, h)
  ## Frame f of input id: red tells the input apart, green and blue the frame and place.
  [x, y] = meshgrid (0:w-1, 0:h-1);
  img = uint8 (zeros (h, w, 3));
  img(:,:,1) = mod (10 + 50 * id, 256);
  img(:,:,2) = mod (x + 7 * f, 256);
  img(:,:,3) = mod (y + 13 * f, 256);
endfunction
