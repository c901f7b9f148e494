% Reading Bayer files: clipReadMex returns the C++ demosaic of each frame (written next to
% the files by make_octave_test_data) as a height x width x 3 double image.

%!function expect = expected_frame (stem, k, w, h)
%!  fid = fopen (fullfile (getenv ("VID_TEST_DATA"), sprintf ("%s_%d.rgb", stem, k)), "r");
%!  bytes = fread (fid, Inf, "uint8=>double");
%!  fclose (fid);
%!  % rows from the top, pixels left to right, R G B: reorder to height x width x 3
%!  expect = permute (reshape (bytes, 3, w, h), [3 2 1]);
%!endfunction

%!test
%! for stem = {"bayer16", "bayer8"}
%!   [h, dims] = clipOpenMex (fullfile (getenv ("VID_TEST_DATA"), [stem{1} ".vid"]));
%!   assert (dims, [40; 30; 3]);
%!   for k = [2 0 1]
%!     img = clipReadMex (h, k);
%!     assert (size (img), [30 40 3]);
%!     assert (img, expected_frame (stem{1}, k, 40, 30));
%!     assert (numel (unique (img(:))) > 20);
%!   end
%!   % the frames differ from each other, so a stale buffer could not pass
%!   assert (! isequal (clipReadMex (h, 0), clipReadMex (h, 1)));
%!   clipCloseMex (h);
%! end
