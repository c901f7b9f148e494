% Argument errors of the four MEX functions: each message exactly, printed with the
% function's usage text where the function reports argument errors in four steps, and raised
% before any file is opened or created.

%!shared open_usage, read_usage, write_usage, name, img
%! open_usage = ["Usage: clipOpenMex, \nInputs (Open for reading): \n   < input video file name : string >\nInputs (Open for writing): \n   < output video file name : string >\n   < [3x1] -> [output video frame width, height, num video frames] : int32 >\nOutputs: \n   < handle to video read/write datastructure >\n(Additional outputs when open for reading)\t\n   < [3x1] -> [input video frame width, height, num video frames] : double >\n\n"];
%! read_usage = "Usage: clipReadMex, \nInputs: \n   < handle to video read datastructure >\n   < video frame number range [0, num_frames-1] : double >\nOutputs: \n   < [MxNx3] image frame from video : double >\n";
%! write_usage = "Usage: clipWriteMex, \nInputs: \n   < handle to video write datastructure >\n   < [MxNx3] image frame to add to video : uint8 >\nOutputs: \n   None.\n";
%! name = vid_tmp ("arguments.vid");
%! if (exist (name, "file"))
%!   delete (name);
%! end
%! img = vid_test_image (6, 8, 3, 1);

%!test
%! % clipOpenMex
%! read_outputs = "Incorrect number of outputs specified for opening video file in 'read' mode.";
%! vid_expect_report (@() clipOpenMex (), 0, read_outputs, open_usage);
%! vid_expect_report (@() clipOpenMex (), 1, read_outputs, open_usage);
%! vid_expect_report (@() clipOpenMex (), 2, "No video file name given: clipOpenMex needs one or two inputs.", open_usage);
%! vid_expect_report (@() clipOpenMex (name), 1, read_outputs, open_usage);
%! vid_expect_report (@() clipOpenMex (name), 0, read_outputs, open_usage);
%! vid_expect_report (@() clipOpenMex (name), 3, read_outputs, open_usage);
%! vid_expect_report (@() clipOpenMex (name, int32 ([8 6 1]), 3), 1, "Incorrect number of inputs specified for opening video file in 'write' mode.", open_usage);
%! vid_expect_report (@() clipOpenMex (name, int32 ([8 6 1]), 3), 2, "Incorrect number of inputs specified for opening video file in 'write' mode.", open_usage);
%! vid_expect_report (@() clipOpenMex (name, int32 ([8 6 1])), 2, "Incorrect number of outputs specified for opening video file in 'write' mode.", open_usage);
%! vid_expect_report (@() clipOpenMex (5), 2, "First input should be a string.", open_usage);
%! vid_expect_report (@() clipOpenMex ({name}), 2, "First input should be a string.", open_usage);
%! vid_expect_report (@() clipOpenMex (5, int32 ([8 6 1])), 1, "First input should be a string.", open_usage);
%! vid_expect_report (@() clipOpenMex (name, [640 480 100]), 1, "Input argument should be uint32 class.", open_usage);
%! vid_expect_report (@() clipOpenMex (name, uint32 ([640 480 100])), 1, "Input argument should be uint32 class.", open_usage);
%! geometry = "Frame geometry should hold three int32 values: width, height and number of frames.";
%! vid_expect_report (@() clipOpenMex (name, int32 ([640 480])), 1, geometry, open_usage);
%! vid_expect_report (@() clipOpenMex (name, int32 ([])), 1, geometry, open_usage);
%! assert (! exist (name, "file"));

%!test
%! % a geometry of more than three elements uses the first three, in either shape
%! h = clipOpenMex (name, int32 ([8; 6; 2; 99]));
%! clipWriteMex (h, img);
%! clipCloseMex (h);
%! [r, dims] = clipOpenMex (name);
%! assert (dims, [8; 6; 1]);
%! clipCloseMex (r);
%! delete (name);

%!test
%! % a name held in several rows is read in column order and cut after 2 x columns characters
%! h = clipOpenMex (name, int32 ([8 6 1]));
%! clipCloseMex (h);
%! full = [name "xyz"];
%! n = numel (full);
%! if (mod (n, 3) != 0)
%!   full = [full repmat("q", 1, 3 - mod (n, 3))];
%! end
%! % three rows whose column-order reading begins with name: the cut keeps 2 x cols characters
%! cols = numel (full) / 3;
%! m = reshape (full, 3, cols);
%! msg = vid_error_text (@() clipOpenMex (m), 2);
%! assert (! isempty (strfind (msg, full(1:2 * cols))));
%! assert (isempty (strfind (msg, full)));

%!test
%! % clipReadMex
%! name2 = vid_tmp ("arguments-read.vid");
%! vid_write_file (name2, {img});
%! [h, ~] = clipOpenMex (name2);
%! count = "Incorrect number of inputs or outputs specified.";
%! vid_expect_report (@() clipReadMex (h), 1, count, read_usage);
%! vid_expect_report (@() clipReadMex (h, 0), 0, count, read_usage);
%! vid_expect_report (@() clipReadMex (h, 0, 1), 1, count, read_usage);
%! vid_expect_report (@() clipReadMex (h, 0), 2, count, read_usage);
%! vid_expect_report (@() clipReadMex ('abc', 0), 1, "Invalid Vid handle\n", "");
%! vid_expect_report (@() clipReadMex ([], 0), 1, "Invalid Vid handle\n", "");
%! vid_expect_report (@() clipReadMex (int32 (h), 0), 1, "Invalid Vid handle\n", "");
%! scalar = "Frame number should be a real numeric scalar.";
%! vid_expect_report (@() clipReadMex (h, []), 1, scalar, read_usage);
%! vid_expect_report (@() clipReadMex (h, {0}), 1, scalar, read_usage);
%! vid_expect_report (@() clipReadMex (h, sparse (0)), 1, scalar, read_usage);
%! vid_expect_report (@() clipReadMex (h, struct ()), 1, scalar, read_usage);
%! % the host's scalar rule: the first element, the real part, a char's code
%! first = clipReadMex (h, 0);
%! for f = {[0 5], 3i, false, int8([0; 2]), single(0.2)}
%!   assert (isequal (clipReadMex (h, f{1}), first));
%! end
%! assert (isequal (clipReadMex (h, char (0)), first));
%! assert (isempty (clipReadMex (h, 'a')));      % code 97: beyond the file, a notice and []
%! clipCloseMex (h);

%!test
%! % clipWriteMex
%! h = clipOpenMex (name, int32 ([8 6 4]));
%! count = "Incorrect number of inputs or outputs specified.";
%! vid_expect_report (@() clipWriteMex (h), 0, count, write_usage);
%! vid_expect_report (@() clipWriteMex (h, img, img), 0, count, write_usage);
%! vid_expect_report (@() clipWriteMex (h, img), 1, count, write_usage);
%! vid_expect_report (@() clipWriteMex ('abc', img), 0, "Invalid Vid handle\n", "");
%! vid_expect_report (@() clipWriteMex (zeros (0, 1), img), 0, "Invalid Vid handle\n", "");
%! vid_expect_report (@() clipWriteMex (h, double (img)), 0, "Input image frame should be uint8 class.", write_usage);
%! vid_expect_report (@() clipWriteMex (h, int8 (img)), 0, "Input image frame should be uint8 class.", write_usage);
%! dims = "Incorrect dimensions for input image frame.\n";
%! vid_expect_report (@() clipWriteMex (h, img(:, :, 1)), 0, dims, write_usage);
%! vid_expect_report (@() clipWriteMex (h, uint8 (5)), 0, dims, write_usage);
%! vid_expect_report (@() clipWriteMex (h, cat (4, img, img)), 0, dims, write_usage);
%! vid_expect_report (@() clipWriteMex (h, img(:, :, 1:2)), 0, "Input image frame should have at least three planes (red, green, blue).", write_usage);
%! % none of these wrote a frame
%! clipCloseMex (h);
%! [r, dims] = clipOpenMex (name);
%! assert (dims, [8; 6; 0]);
%! clipCloseMex (r);

%!test
%! % clipCloseMex has no usage text
%! vid_expect_report (@() clipCloseMex (), 0, "No Vid handle given: clipCloseMex needs the handle from clipOpenMex.\n", "");
%! vid_expect_report (@() clipCloseMex ('abc'), 0, "Invalid zoVid handle\n", "");
%! vid_expect_report (@() clipCloseMex ([]), 0, "Invalid zoVid handle\n", "");
%! vid_expect_report (@() clipCloseMex (single (zeros (1900, 1))), 0, "Invalid zoVid handle\n", "");

%!test
%! % errors of the container while opening carry the container's own text
%! msg = vid_error_text (@() clipOpenMex (vid_tmp ("missing.vid")), 2);
%! assert (regexp (msg, ['^VidHeader:\d+ Unable to open following video file in  ''rb'' mode \r\n ' regexptranslate("escape", vid_tmp ("missing.vid")) ' \r$']), 1);
%! msg = vid_error_text (@() clipOpenMex (vid_tmp ("no/such/dir.vid"), int32 ([8 6 1])), 1);
%! assert (regexp (msg, '^VidHeader:\d+ Unable to open following video file in  ''wb'' mode'), 1);
%! short = vid_tmp ("short.vid");
%! fid = fopen (short, "w"); fwrite (fid, uint8 ([1 2 3])); fclose (fid);
%! msg = vid_error_text (@() clipOpenMex (short), 2);
%! assert (regexp (msg, '^VidHeader:\d+ Unable to read from video file \n '), 1);
