## Helper of the clipCropMex tests.
function canvas = crop_canvas (w, h, rgb)
  canvas = uint8 (zeros (h, w, 3));
  for c = 1:3
    canvas(:,:,c) = rgb(c);
  end
endfunction
