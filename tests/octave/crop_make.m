## Helper of the clipCropMex tests.
function crop_make (name, id, w, h, n)
  hv = clipOpenMex (name, int32 ([w h n]));
  for f = 0:n-1
    clipWriteMex (hv, crop_pattern (id, f, w, h));
  end
  clipCloseMex (hv);
endfunction
