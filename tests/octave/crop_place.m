## Helper of the clipCropMex tests.
function canvas = crop_place (canvas, piece, x, y)
  ## Puts piece with its top-left pixel at 0-based column x, row y.
  canvas(y+1:y+size (piece, 1), x+1:x+size (piece, 2), :) = piece;
endfunction
