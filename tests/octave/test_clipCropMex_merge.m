## clipCropMex: the worked examples of merging 160 x 120 (20 frames) and 80 x 60 (8 frames)
## side by side, stacked and sequentially (the placement rules of the 640 x 480 and 320 x 240
## examples at a quarter of the size). Every output is opened with clipOpenMex and read back
## frame by frame with clipReadMex, and each frame is compared pixel by pixel with a frame
## built here from the placement rules.

%!function c = expect_side (bg, f)
%!  c = crop_place (bg, crop_pattern (1, f, 160, 120), 0, 0);
%!  if (f < 8)
%!    c = crop_place (c, crop_pattern (2, f, 80, 60), 170, 30);
%!  end
%!endfunction

%!function c = expect_stacked (bg, f)
%!  c = crop_place (bg, crop_pattern (1, f, 160, 120), 0, 0);
%!  if (f < 8)
%!    c = crop_place (c, crop_pattern (2, f, 80, 60), 40, 130);
%!  end
%!endfunction

%!function c = expect_seq (white, f)
%!  if (f < 20)
%!    c = crop_pattern (1, f, 160, 120);
%!  else
%!    c = crop_place (white, crop_pattern (2, f - 20, 80, 60), 40, 30);
%!  end
%!endfunction

%!shared big, little, out
%! big = vid_tmp ("crop_big.vid");
%! little = vid_tmp ("crop_little.vid");
%! out = vid_tmp ("crop_out.vid");
%! crop_make (big, 1, 160, 120, 20);
%! crop_make (little, 2, 80, 60, 8);

## Side by side, gap 10: 250 x 120 rounded up to 256 x 120 with 20 frames; the second input at
## columns 170..249, rows 30..89 (centred) for frames 0..7 only.
%!test
%! clipCropMex ({big, little}, out, [], 0, 10);
%! bg = crop_canvas (256, 120, [255 255 255]);
%! crop_check (out, 256, 120, 20, @(f) expect_side (bg, f));

## Stacked with gap 10: 160 x 192, the second input at rows 130..189, columns 40..119.
%!test
%! clipCropMex ({big; little}, out, [], 1, 10, [], uint8 ([0 0 0]));
%! bg = crop_canvas (160, 192, [0 0 0]);
%! crop_check (out, 160, 192, 20, @(f) expect_stacked (bg, f));

## Sequential: 160 x 120 with 28 frames, the second input's frames centred at column 40, row 30
## on white.
%!test
%! clipCropMex ({big, little}, out, [], 2, 10, [], uint8 ([1 2 3]));
%! white = crop_canvas (160, 120, [255 255 255]);
%! crop_check (out, 160, 120, 28, @(f) expect_seq (white, f));
