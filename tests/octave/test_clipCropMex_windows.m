## The Windows form of clipCropMex, built here as the test-only module clipCropWinMex: no gap
## and no colour input, its own argument rules and usage text, boxes at row 0 / column 0
## side by side and stacked, and always a white background.

%!function img = win_pattern (id, f, w, h)
%!  [x, y] = meshgrid (0:w-1, 0:h-1);
%!  img = uint8 (zeros (h, w, 3));
%!  img(:,:,1) = 10 + 50 * id;
%!  img(:,:,2) = mod (x + 7 * f, 256);
%!  img(:,:,3) = mod (y + 13 * f, 256);
%!endfunction

%!function win_make (name, id, w, h, n)
%!  hv = clipOpenMex (name, int32 ([w h n]));
%!  for f = 0:n-1
%!    clipWriteMex (hv, win_pattern (id, f, w, h));
%!  end
%!  clipCloseMex (hv);
%!endfunction

%!function win_check (name, w, h, n, expected_fn)
%!  [hv, info] = clipOpenMex (name);
%!  unwind_protect
%!    assert (info(:)', [w h n]);
%!    for f = 0:n-1
%!      assert (isequal (uint8 (clipReadMex (hv, f)), expected_fn (f)), "frame %d differs", f);
%!    end
%!  unwind_protect_cleanup
%!    clipCloseMex (hv);
%!  end_unwind_protect
%!endfunction

%!function c = win_place (c, piece, x, y)
%!  c(y+1:y+size (piece, 1), x+1:x+size (piece, 2), :) = piece;
%!endfunction

%!function win_refused (msg, varargin)
%!  printed = evalc ("try, clipCropWinMex (varargin{:}); catch err, end");
%!  assert (exist ("err", "var") == 1, "no error raised");
%!  assert (regexprep (err.message, '^clipCropWinMex: ', ''), msg);
%!  head = [msg "\nUsage: clipCropMex, \nInputs: \n"];
%!  assert (strncmp (printed, head, numel (head)), printed);
%!  assert (! isempty (strfind (printed, "\t[ [4x1] bbox crop [l t w h] : double ] \n OR (alternate version) \n")));
%!  assert (isempty (strfind (printed, "gap")), printed);
%!endfunction

%!function c = expect_side (f)
%!  c = win_place (uint8 (255 * ones (48, 96, 3)), win_pattern (1, f, 64, 48), 0, 0);
%!  if (f < 2)
%!    c = win_place (c, win_pattern (2, f, 32, 24), 64, 0);
%!  end
%!endfunction

%!shared a, b, out, white
%! if (isempty (which ("clipCropWinMex")))
%!   error ("the test-only module clipCropWinMex is not on the path");
%! end
%! a = vid_tmp ("win_a.vid");
%! b = vid_tmp ("win_b.vid");
%! out = vid_tmp ("win_out.vid");
%! win_make (a, 1, 64, 48, 4);
%! win_make (b, 2, 32, 24, 2);
%! white = @(w, h) uint8 (255 * ones (h, w, 3));

%!test
%! msg = "Incorrect number inputs and/or input datatype for some arguments.";
%! win_refused (msg, a, out, [0 1]);
%! win_refused (msg, a, out, [0 1], int32 (0));
%! win_refused (msg, a, 3, [0 1], 0);
%! msg = "Input filename is not a string or crop frames array is not length 2.";
%! win_refused (msg, a, out, [], 0);          # empty frames refused for a single name
%! win_refused (msg, a, out, [0 1 2], 0);
%! win_refused (msg, 5, out, [0 1], 0);
%! win_refused ("Crop frames input array should be size [Number input videos x 2].", {a, b}, out, [0 1], 0);
%! win_refused ("Fourth input argument should be scalar.", a, out, [0 1], [0 0]);
%! win_refused ("Incorrect crop bbox array size or datatype", a, out, [0 1], 0, [1; 2]);
%! win_refused ("Merge mode should be 0 (horizontal), 1 (vertical) or 2 (sequential).", a, out, [0 1], 4);

## Side by side: the second box at row 0, no gap, white background.
%!test
%! clipCropWinMex ({a, b}, out, [], 0);
%! win_check (out, 96, 48, 4, @(f) expect_side (f));

## Stacked: the second box at column 0.
%!test
%! clipCropWinMex ({a; b}, out, [1 0; 3 2], 1);
%! win_check (out, 64, 72, 2, @(f) win_place (win_place (uint8 (255 * ones (72, 64, 3)), win_pattern (1, f + 1, 64, 48), 0, 0), win_pattern (2, f, 32, 24), 0, 48));

## Sequential boxes are centred, as in the Linux form; the bbox is input 5.
%!test
%! clipCropWinMex (a, out, [2 3], 2, [-10; 5; 50; 1000]);
%! win_check (out, 56, 48, 1, @(f) win_place (white (56, 48), win_pattern (1, 2, 64, 48)(6:48, 1:50, :), 3, 2));
