## clipCropMex: the worked examples of trimming and cropping, on small inputs. Every output
## is opened with clipOpenMex and read back frame by frame with clipReadMex, and each frame
## is compared pixel by pixel with a frame built here from the placement rules.

%!function c = expect_ranges (f)
%!  white = crop_canvas (104, 56, [255 255 255]);
%!  if (f < 6)
%!    c = crop_place (white, crop_pattern (0, f, 100, 50), 2, 3);
%!  else
%!    c = crop_place (white, crop_pattern (0, f - 6 + 2, 100, 50), 2, 3);
%!  end
%!endfunction

%!shared small, big, little, out
%! small = vid_tmp ("crop_small.vid");
%! big = vid_tmp ("crop_big.vid");
%! little = vid_tmp ("crop_little.vid");
%! out = vid_tmp ("crop_out.vid");
%! crop_make (small, 0, 100, 50, 6);
%! crop_make (big, 1, 640, 480, 20);
%! crop_make (little, 2, 320, 240, 3);

## One 100 x 50 input, mode 0, gap 7: 104 x 56, picture at column 0, rows 3..52.
%!test
%! clipCropMex (small, out, [], 0, 7, [], uint8 ([200 100 50]));
%! bg = crop_canvas (104, 56, [200 100 50]);
%! crop_check (out, 104, 56, 6, @(f) crop_place (bg, crop_pattern (0, f, 100, 50), 0, 3));

## Mode 1: rows 0..49, columns 2..101. Mode 2: columns 2..101, rows 3..52 on white whatever
## the colour input says.
%!test
%! clipCropMex (small, out, [], 1, 7, [], uint8 ([200 100 50]));
%! bg = crop_canvas (104, 56, [200 100 50]);
%! crop_check (out, 104, 56, 6, @(f) crop_place (bg, crop_pattern (0, f, 100, 50), 2, 0));
%!test
%! clipCropMex (small, out, [], 2, 7, [], uint8 ([200 100 50]));
%! white = crop_canvas (104, 56, [255 255 255]);
%! crop_check (out, 104, 56, 6, @(f) crop_place (white, crop_pattern (0, f, 100, 50), 2, 3));

## Frame ranges: [10 20] takes frames 10..19, [-5 1e9] all of them, [20 10] none; an empty
## range counts no frame, side by side and sequentially alike.
%!test
%! clipCropMex (big, out, [10 20], 0, 0);
%! crop_check (out, 640, 480, 10, @(f) crop_pattern (1, 10 + f, 640, 480));
%! clipCropMex ({small, small}, out, [-5 2; 1e9 4], 2, 0);
%! crop_check (out, 104, 56, 8, @(f) expect_ranges (f));
%! clipCropMex ({small, little}, out, [20 0; 10 3], 2, 0);
%! crop_check (out, 320, 240, 3, @(f) crop_pattern (2, f, 320, 240));

## A bbox column [-10; 5; 50; 1000] on a 640 x 480 input is the box l 0, t 5, w 50, h 475:
## output 56 x 480, the box centred at column 3, rows 2..476.
%!test
%! clipCropMex (big, out, [0 2], 2, 0, [-10; 5; 50; 1000]);
%! white = crop_canvas (56, 480, [255 255 255]);
%! crop_check (out, 56, 480, 2, @(f) crop_place (white, crop_pattern (1, f, 640, 480)(6:480, 1:50, :), 3, 2));

## Each input has its own box column; boxes outside their input take no room and copy
## nothing, so the second piece starts right after the first and its gap.
%!test
%! clipCropMex ({small, small, small}, out, [0 0 0; 1 1 1], 0, 4, [10 700 20; 20 0 10; 30 5 40; 10 5 20]);
%! bg = crop_canvas (80, 24, [255 255 255]);
%! want = crop_place (bg, crop_pattern (0, 0, 100, 50)(21:30, 11:40, :), 0, 7);
%! want = crop_place (want, crop_pattern (0, 0, 100, 50)(11:30, 21:60, :), 38, 2);
%! crop_check (out, 80, 24, 1, @(f) want);

## Mode 1.4 is mode 1 and 1.5 is mode 2; a gap of 2.5 is 3.
%!test
%! clipCropMex ({small, small}, out, [0 0; 1 1], 1.4, 2.5);
%! bg = crop_canvas (104, 104, [255 255 255]);
%! want = crop_place (crop_place (bg, crop_pattern (0, 0, 100, 50), 2, 0), crop_pattern (0, 0, 100, 50), 2, 53);
%! crop_check (out, 104, 104, 1, @(f) want);
%! clipCropMex ({small, small}, out, [0 0; 1 1], 1.5, 2.5);
%! crop_check (out, 104, 56, 2, @(f) crop_place (crop_canvas (104, 56, [255 255 255]), crop_pattern (0, 0, 100, 50), 2, 3));

## A colour given as double or with 4 elements is refused; an empty colour array is white.
%!test
%! msg = "Incorrect background_fill_rgb array size or datatype";
%! assert (vid_error_text (@() clipCropMex (small, out, [], 0, 0, [], [1 2 3])), msg);
%! assert (vid_error_text (@() clipCropMex (small, out, [], 0, 0, [], uint8 ([1 2 3 4]))), msg);
%! clipCropMex (small, out, [0 1], 0, 7, [], uint8 ([]));
%! crop_check (out, 104, 56, 1, @(f) crop_place (crop_canvas (104, 56, [255 255 255]), crop_pattern (0, 0, 100, 50), 0, 3));
