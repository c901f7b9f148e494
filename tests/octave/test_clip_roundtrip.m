% Round trips through clipOpenMex, clipWriteMex, clipCloseMex and clipReadMex: frames come
% back byte for byte, the writer's position travels in the handle, images are padded with
% white or cropped, and frame numbers are rounded and range-checked.

%!test
%! % write -> close -> open -> read of RGB frames, byte-exact, in any order
%! name = vid_tmp ("roundtrip.vid");
%! frames = arrayfun (@(k) vid_test_image (48, 64, 3, k), 1:5, "UniformOutput", false);
%! vid_write_file (name, frames);
%! [h, dims] = clipOpenMex (name);
%! assert (dims, [64; 48; 5]);
%! assert (class (dims), "double");
%! for k = [5 1 3 2 4 3]
%!   img = clipReadMex (h, k - 1);
%!   assert (class (img), "double");
%!   assert (size (img), [48 64 3]);
%!   assert (all (img(:) == round (img(:)) & img(:) >= 0 & img(:) <= 255));
%!   assert (isequal (uint8 (img), frames{k}));
%! end
%! clipCloseMex (h);

%!test
%! % odd sizes: a frame whose rows and columns are not multiples of anything
%! name = vid_tmp ("odd.vid");
%! frames = {vid_test_image(37, 23, 3, 1), vid_test_image(37, 23, 3, 2)};
%! vid_write_file (name, frames);
%! [h, dims] = clipOpenMex (name);
%! assert (dims, [23; 37; 2]);
%! assert (isequal (uint8 (clipReadMex (h, 1)), frames{2}));
%! assert (isequal (uint8 (clipReadMex (h, 0)), frames{1}));
%! clipCloseMex (h);

%!test
%! % successive clipWriteMex calls through one variable advance current_frame inside it:
%! % three writes through h give three distinct frames, not one frame written three times
%! name = vid_tmp ("position.vid");
%! h = clipOpenMex (name, int32 ([16 16 3]));
%! before = h;            % shares h's storage: sees the same in-place changes
%! unshared = h;
%! unshared(end) = 0;     % an element write unshares the storage
%! for k = 1:3
%!   clipWriteMex (h, vid_test_image (16, 16, 3, k));
%! end
%! assert (isequal (h, before));
%! assert (! isequal (h(1:end-1), unshared(1:end-1)));
%! clipCloseMex (h);
%! [r, dims] = clipOpenMex (name);
%! assert (dims, [16; 16; 3]);
%! for k = 1:3
%!   assert (isequal (uint8 (clipReadMex (r, k - 1)), vid_test_image (16, 16, 3, k)));
%! end
%! clipCloseMex (r);

%!test
%! % a handle passed through a function, a struct field and a cell element is the same value
%! name = vid_tmp ("shared.vid");
%! s.h = clipOpenMex (name, int32 ([8 8 2]));
%! c = {s.h};
%! clipWriteMex (s.h, vid_test_image (8, 8, 3, 1));
%! clipWriteMex (c{1}, vid_test_image (8, 8, 3, 2));
%! clipCloseMex (s.h);
%! [r, dims] = clipOpenMex (name);
%! assert (dims, [8; 8; 2]);
%! assert (isequal (uint8 (clipReadMex (r, 1)), vid_test_image (8, 8, 3, 2)));
%! clipCloseMex (r);

%!test
%! % reader and writer handles: same class and shape, zero beyond the record
%! name = vid_tmp ("shape.vid");
%! w = clipOpenMex (name, int32 ([8 8 1]));
%! clipWriteMex (w, vid_test_image (8, 8, 3, 0));
%! clipCloseMex (w);
%! [r, ~] = clipOpenMex (name);
%! w2 = clipOpenMex (vid_tmp ("shape2.vid"), int32 ([8 8 1]));
%! assert (class (r), "double");
%! assert (isreal (r));
%! assert (size (r), size (w2));
%! assert (columns (r), 1);
%! assert (r(end), 0);
%! assert (w2(end), 0);
%! clipCloseMex (r);
%! clipCloseMex (w2);

%!test
%! % opening for writing replaces an existing file at once by the header and the reserved table
%! name = vid_tmp ("truncate.vid");
%! vid_write_file (name, {vid_test_image(8, 8, 3, 1)});
%! assert (stat (name).size > 0);
%! h = clipOpenMex (name, int32 ([8 8 4]));
%! assert (stat (name).size, 8 + 8 * 4);
%! clipCloseMex (h);

%!test
%! % images smaller than the frame are padded with white, larger ones cropped, a fourth
%! % plane is ignored
%! name = vid_tmp ("sizes.vid");
%! small = vid_test_image (5, 7, 3, 1);
%! large = vid_test_image (20, 30, 3, 2);
%! four = vid_test_image (10, 12, 4, 3);
%! h = clipOpenMex (name, int32 ([12 10 3]));
%! clipWriteMex (h, small);
%! clipWriteMex (h, large);
%! clipWriteMex (h, four);
%! clipCloseMex (h);
%! [r, ~] = clipOpenMex (name);
%! expect = 255 * ones (10, 12, 3);
%! expect(1:5, 1:7, :) = small;
%! assert (clipReadMex (r, 0), expect);
%! assert (isequal (uint8 (clipReadMex (r, 1)), large(1:10, 1:12, :)));
%! assert (isequal (uint8 (clipReadMex (r, 2)), four(:, :, 1:3)));
%! clipCloseMex (r);

%!test
%! % frame numbers: add 0.5 and truncate; out of range gives [] and a notice, no error
%! name = vid_tmp ("rounding.vid");
%! frames = arrayfun (@(k) vid_test_image (6, 8, 3, k), 1:4, "UniformOutput", false);
%! vid_write_file (name, frames);
%! [h, ~] = clipOpenMex (name);
%! cases = {2.4, 3; 2.5, 4; -0.4, 1; -1.2, 1; 0.49, 1; 3.4, 4; int32(2), 3; true, 2};
%! for i = 1:rows (cases)
%!   assert (isequal (uint8 (clipReadMex (h, cases{i, 1})), frames{cases{i, 2}}));
%! end
%! notice = "clipReadMex: input frame number should be in [0, #frames] \n";
%! for f = {-1.5, -2, 5, 4.5, NaN, Inf, -Inf, 1e12, -1e12, 2^31}
%!   img = [];
%!   out = evalc ("img = clipReadMex (h, f{1});");
%!   assert (out, notice);
%!   assert (isempty (img) && isequal (size (img), [0 0]) && isa (img, "double"));
%! end
%! clipCloseMex (h);

%!test
%! % the frame count itself passes the range test and ends in the container's error
%! name = vid_tmp ("count.vid");
%! vid_write_file (name, {vid_test_image(6, 8, 3, 1), vid_test_image(6, 8, 3, 2)});
%! [h, ~] = clipOpenMex (name);
%! msg = vid_error_text (@() clipReadMex (h, 2), 1);
%! assert (regexp (msg, '^VidHeader:\d+ asked frameNumber 2 > num_frames 2$'), 1);
%! msg = vid_error_text (@() clipReadMex (h, 1.6), 1);
%! assert (regexp (msg, '^VidHeader:\d+ asked frameNumber 2 > num_frames 2$'), 1);
%! % the handle survives the error
%! assert (isequal (uint8 (clipReadMex (h, 1)), vid_test_image (6, 8, 3, 2)));
%! clipCloseMex (h);

%!test
%! % one frame beyond the reservation: the container's error; the frames before it stay and
%! % the file is finished normally
%! name = vid_tmp ("beyond.vid");
%! h = clipOpenMex (name, int32 ([8 6 2]));
%! clipWriteMex (h, vid_test_image (6, 8, 3, 1));
%! clipWriteMex (h, vid_test_image (6, 8, 3, 2));
%! msg = vid_error_text (@() clipWriteMex (h, vid_test_image (6, 8, 3, 3)));
%! assert (regexp (msg, '^VidHeader:\d+ asked frameNumber 2 > num_frames 2$'), 1);
%! clipCloseMex (h);
%! [r, dims] = clipOpenMex (name);
%! assert (dims, [8; 6; 2]);
%! assert (isequal (uint8 (clipReadMex (r, 1)), vid_test_image (6, 8, 3, 2)));
%! clipCloseMex (r);

%!test
%! % closing after k of n reserved frames announces k frames
%! name = vid_tmp ("partial.vid");
%! frames = arrayfun (@(k) vid_test_image (6, 8, 3, k), 1:3, "UniformOutput", false);
%! vid_write_file (name, frames, 10);
%! [r, dims] = clipOpenMex (name);
%! assert (dims, [8; 6; 3]);
%! for k = 1:3
%!   assert (isequal (uint8 (clipReadMex (r, k - 1)), frames{k}));
%! end
%! clipCloseMex (r);
%! fid = fopen (name, "r");
%! head = fread (fid, 8, "uint8")';
%! fclose (fid);
%! assert (head, [8 0 6 0 253 255 255 255]);

%!test
%! % a writer closed without any frame leaves a file announcing none
%! name = vid_tmp ("empty.vid");
%! h = clipOpenMex (name, int32 ([8 6 4]));
%! clipCloseMex (h);
%! [r, dims] = clipOpenMex (name);
%! assert (dims, [8; 6; 0]);
%! clipCloseMex (r);

%!test
%! % clipCloseMex ignores extra inputs and sets no output
%! name = vid_tmp ("extra.vid");
%! h = clipOpenMex (name, int32 ([8 6 1]));
%! clipWriteMex (h, vid_test_image (6, 8, 3, 1));
%! clipCloseMex (h, 1, "x");
%! [r, dims] = clipOpenMex (name);
%! assert (dims, [8; 6; 1]);
%! clipCloseMex (r);
