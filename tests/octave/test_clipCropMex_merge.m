## clipCropMex: the worked examples of merging 640 x 480 (100 frames) and 320 x 240 (40
## frames) side by side, stacked and sequentially. Every output is opened with clipOpenMex
## and read back frame by frame with clipReadMex, and each frame is compared pixel by pixel
## with a frame built here from the placement rules.

%!function c = expect_side (bg, f)
%!  c = crop_place (bg, crop_pattern (1, f, 640, 480), 0, 0);
%!  if (f < 40)
%!    c = crop_place (c, crop_pattern (2, f, 320, 240), 650, 120);
%!  end
%!endfunction

%!function c = expect_stacked (bg, f)
%!  c = crop_place (bg, crop_pattern (1, f, 640, 480), 0, 0);
%!  if (f < 40)
%!    c = crop_place (c, crop_pattern (2, f, 320, 240), 160, 490);
%!  end
%!endfunction

%!function c = expect_seq (white, f)
%!  if (f < 100)
%!    c = crop_pattern (1, f, 640, 480);
%!  else
%!    c = crop_place (white, crop_pattern (2, f - 100, 320, 240), 160, 120);
%!  end
%!endfunction

%!shared big, little, out
%! big = vid_tmp ("crop_big.vid");
%! little = vid_tmp ("crop_little.vid");
%! out = vid_tmp ("crop_out.vid");
%! crop_make (big, 1, 640, 480, 100);
%! crop_make (little, 2, 320, 240, 40);

## 640 x 480 (100 frames) and 320 x 240 (40 frames) side by side, gap 10: 976 x 480 with 100
## frames; the second input at columns 650..969, rows 120..359 for frames 0..39 only.
%!test
%! clipCropMex ({big, little}, out, [], 0, 10);
%! bg = crop_canvas (976, 480, [255 255 255]);
%! crop_check (out, 976, 480, 100, @(f) expect_side (bg, f));

## Stacked with gap 10: 640 x 736, the second input at rows 490..729, columns 160..479.
%!test
%! clipCropMex ({big; little}, out, [], 1, 10, [], uint8 ([0 0 0]));
%! bg = crop_canvas (640, 736, [0 0 0]);
%! crop_check (out, 640, 736, 100, @(f) expect_stacked (bg, f));

## Sequential: 640 x 480 with 140 frames, the second input's frames centred at column 160,
## row 120 on white.
%!test
%! clipCropMex ({big, little}, out, [], 2, 10, [], uint8 ([1 2 3]));
%! white = crop_canvas (640, 480, [255 255 255]);
%! crop_check (out, 640, 480, 140, @(f) expect_seq (white, f));
