% VidReader and VidWriter: indexing rules, kinds, uint8 against double, mosaics, error
% identifiers, writers that grow past their reserve, and clearing an open writer.

%!function id = error_id (fn)
%!  id = "";
%!  try
%!    fn ();
%!  catch err
%!    id = err.identifier;
%!    assert (isempty (regexp (err.message, '\w+\.cpp:\d+|VidHeader:\d+|\r', 'once')), err.message);
%!  end
%!endfunction

%!test
%! % a writer without a known frame count, past its reserve; read back by index and in a loop
%! name = vid_tmp ("classes.vid");
%! frames = zeros (6, 8, 3, 7, "uint8");
%! for k = 1:7
%!   frames(:, :, :, k) = vid_test_image (6, 8, 3, k);
%! end
%! w = VidWriter (name, 8, 6, "FramesReserved", 2, "CompressionEffort", 4);
%! writeVideo (w, frames(:, :, :, 1));
%! writeVideo (w, frames(:, :, :, 2:7));
%! assert (w.FrameCount, 7);
%! close (w);
%! r = VidReader (name);
%! assert ({r.NumFrames, r.Width, r.Height, r.Kind}, {7, 8, 6, "rgb"});
%! assert (strtrim (evalc ("r")), sprintf ("r =\n\n  VidReader of %s: 7 frames of 8 x 6 pixels, rgb", name));
%! assert (! isempty (strfind (evalc ("disp (w)"), "8 x 6 pixels, 7 frames written, effort 4, closed")));
%! assert (read (r, 3), frames(:, :, :, 3));
%! assert (read (r, [7 2 3 4]), frames(:, :, :, [7 2 3 4]));
%! assert (read (r, 2:5, "double"), double (frames(:, :, :, 2:5)));
%! [h, ~] = clipOpenMex (name);
%! assert (read (r, 1, "double"), clipReadMex (h, 0));
%! clipCloseMex (h);
%! n = 0;
%! while (hasFrame (r))
%!   n++;
%!   assert (readFrame (r), frames(:, :, :, n));
%! end
%! assert (n, 7);
%! for bad = {0, 8, 1.5, -1, [], "a", 2i}
%!   assert (error_id (@() read (r, bad{1})), "vid:badFrameIndex");
%! end
%! assert (error_id (@() readFrame (r)), "vid:badFrameIndex");
%! assert (error_id (@() readMosaic (r, 1)), "vid:notBayer");
%! assert (error_id (@() read (r, 1, "single")), "vid:badArgument");

%!function m = expected_mosaic (frame, two_bytes)
%!  % the samples make_octave_test_data writes (frame counted from 0)
%!  [x, y] = meshgrid (0:39, 0:29);
%!  v = mod (40 * x + 25 * y + (mod (x + y + 4 * frame, 11) < 5) * 900 ...
%!           + bitand (bitxor (x, y), 1) * 150 + frame * 300, 4096);
%!  if (two_bytes)
%!    m = uint16 (v);
%!  else
%!    m = uint8 (floor (v / 16));
%!  end
%!endfunction

%!test
%! % Bayer files: kinds, demosaiced frames equal clipReadMex's, mosaics are the stored samples
%! data = getenv ("VID_TEST_DATA");
%! for kind = {"bayer16", "bayer8"}
%!   name = fullfile (data, [kind{1} ".vid"]);
%!   r = VidReader (name);
%!   assert (r.Kind, kind{1});
%!   [h, ~] = clipOpenMex (name);
%!   assert (read (r, 2, "double"), clipReadMex (h, 1));
%!   clipCloseMex (h);
%!   assert (readMosaic (r, 2), expected_mosaic (1, strcmp (kind{1}, "bayer16")));
%! end

%!test
%! % errors carry identifiers and plain words
%! assert (error_id (@() VidReader (vid_tmp ("nothing-here.vid"))), "vid:notFound");
%! junk = vid_tmp ("junk.vid");
%! fid = fopen (junk, "w"); fwrite (fid, [1 2 3]); fclose (fid);
%! assert (error_id (@() VidReader (junk)), "vid:badFile");
%! w = VidWriter (vid_tmp ("errors.vid"), 8, 6);
%! assert (error_id (@() writeVideo (w, zeros (6, 8, 3, "int16"))), "vid:badImage");
%! assert (error_id (@() writeVideo (w, zeros (8, 6, 3, "uint8"))), "vid:badImage");
%! close (w);
%! assert (error_id (@() writeVideo (w, zeros (6, 8, 3, "uint8"))), "vid:closed");
%! assert (error_id (@() VidWriter (vid_tmp ("e.vid"), 8, 6, "CompressionEffort", 10)), "vid:badArgument");
%! assert (error_id (@() VidWriter (vid_tmp ("e.vid"), 0, 6)), "vid:badArgument");

%!test
%! % clearing an open writer finishes its file
%! name = vid_tmp ("cleared.vid");
%! w = VidWriter (name, 8, 6, "FramesReserved", 1);
%! writeVideo (w, cat (4, vid_test_image (6, 8, 3, 1), vid_test_image (6, 8, 3, 2)));
%! clear w
%! r = VidReader (name);
%! assert (r.NumFrames, 2);
%! assert (read (r, 2), vid_test_image (6, 8, 3, 2));

%!test
%! % Octave reads through the oct-file: frames with whole 16 x 16 tiles and ragged edges, a
%! % damaged record, and the handles the MEX gateway refuses
%! assert (exist ("vidReadFrames"), 3);
%! name = vid_tmp ("tiles.vid");
%! frames = zeros (37, 50, 3, 3, "uint8");
%! for k = 1:3
%!   frames(:, :, :, k) = vid_test_image (37, 50, 3, k);
%! end
%! w = VidWriter (name, 50, 37);
%! writeVideo (w, frames);
%! close (w);
%! r = VidReader (name);
%! assert (read (r, 1:3), frames);
%! assert (read (r, 3, "double"), double (frames(:, :, :, 3)));
%! [h, ~] = vidMex ("open", name);
%! hw = vidMex ("create", vid_tmp ("tiles-w.vid"), 8, 6, 1, 9);
%! for c = {{hw, "Not a reader's handle."}, {zeros(size (h)), "not an intact handle"}, ...
%!          {"h", "Invalid Vid handle"}, {h, "Frame index outside the file."}}
%!   assert (! isempty (strfind (vid_error_text (@() vidReadFrames (c{1}{1}, 3, 1, "uint8")), c{1}{2})));
%! end
%! vidMex ("close", hw);
%! vidMex ("close", h);
%! assert (! isempty (strfind (vid_error_text (@() vidReadFrames (h, 0, 1, "uint8")), "closed")));
%! % bytes three quarters into frame 2's record overwritten: that frame fails, the next reads
%! fid = fopen (name, "r+");
%! fseek (fid, 8 + 8, SEEK_SET);
%! at = fread (fid, 2, "uint64");
%! fseek (fid, at(1) + floor (3 * (at(2) - at(1)) / 4), SEEK_SET);
%! fwrite (fid, repmat (uint8 (85), 1, 8));
%! fclose (fid);
%! r = VidReader (name);
%! assert (error_id (@() read (r, 2)), "vid:readFailed");
%! assert (read (r, 3), frames(:, :, :, 3));

%!test
%! % read(r) reads every frame, [a b] is a range (b may be Inf), errors count from 1, only
%! % what users call is listed, and folders and NUL names are refused
%! name = vid_tmp ("ranges.vid");
%! frames = zeros (6, 8, 3, 5, "uint8");
%! for k = 1:5
%!   frames(:, :, :, k) = vid_test_image (6, 8, 3, k);
%! end
%! w = VidWriter (name, 8, 6, "FramesReserved", 2^31 - 1);  % a hint, not a table of 16 GB
%! writeVideo (w, frames);
%! close (w);
%! r = VidReader (name);
%! assert (read (r), frames);
%! assert (read (r, [2 4]), frames(:, :, :, 2:4));
%! assert (read (r, [4 Inf]), frames(:, :, :, 4:5));
%! assert (read (r, [5 1 3]), frames(:, :, :, [5 1 3]));
%! assert (error_id (@() read (r, [4 2])), "vid:badFrameIndex");
%! assert (! isempty (strfind (vid_error_text (@() read (r, 40)), "Frame 40 is outside")));
%! m = methods (r);
%! for helper = {"check_index", "call", "failed", "plain"}
%!   assert (! any (strcmp (m, helper{1})), helper{1});
%! end
%! % frame 4's record damaged: the error names frame 4, as the class counts
%! fid = fopen (name, "r+");
%! fseek (fid, 8 + 8 * 3, SEEK_SET);
%! at = fread (fid, 2, "uint64");
%! fseek (fid, at(1) + 25, SEEK_SET);
%! fwrite (fid, repmat (uint8 (85), 1, 8));
%! fclose (fid);
%! r = VidReader (name);
%! text = vid_error_text (@() read (r, 4));
%! assert (! isempty (strfind (text, "frame 4")) && isempty (strfind (text, "frame 3")), text);
%! text = vid_error_text (@() read (r, [3 5]));
%! assert (! isempty (strfind (text, "frame 4")), text);
%! assert (error_id (@() VidReader (tempdir ())), "vid:badFile");
%! assert (! isempty (strfind (vid_error_text (@() VidReader (tempdir ())), "folder")));
%! victim = vid_tmp ("victim2");
%! fid = fopen (victim, "w"); fwrite (fid, "keep"); fclose (fid);
%! assert (error_id (@() VidWriter ([victim char(0) ".vid"], 8, 6)), "vid:badArgument");
%! text = "";
%! try
%!   h = clipOpenMex ([victim char(0) ".vid"], int32 ([8 6 1]));
%! catch err
%!   text = err.message;
%! end
%! assert (! isempty (strfind (text, "NUL")), text);
%! assert (! isempty (strfind (vid_error_text (@() vidMex ("create", [victim char(0) ".vid"], 8, 6, 1, 9)), "NUL")));
%! fid = fopen (victim); assert (fread (fid, Inf, "char=>char")', "keep"); fclose (fid);
%! % a writer closed without frames leaves an empty file of no kind
%! close (VidWriter (vid_tmp ("empty.vid"), 8, 6));
%! r = VidReader (vid_tmp ("empty.vid"));
%! assert (r.NumFrames, 0);
%! assert (r.Kind, "");
%! assert (size (read (r)), [6 8 3 0]);

%!test
%! % code written for MATLAB's VideoWriter and VideoReader, with the class names changed
%! name = vid_tmp ("habits.vid");
%! v = VidWriter (name);
%! v.FrameRate = 30;
%! open (v);
%! rgb = zeros (48, 64, 3, 4);
%! for k = 1:4
%!   rgb(:, :, :, k) = double (vid_test_image (48, 64, 3, k)) / 255;
%!   writeVideo (v, rgb(:, :, :, k));          % doubles in [0, 1]
%! end
%! gray = vid_test_image (48, 64, 1, 9);
%! writeVideo (v, gray);                       % a gray frame
%! try
%!   v.FrameRate = 25;
%!   id = "";
%! catch err
%!   id = err.identifier;
%! end
%! assert (id, "vid:badArgument");   % set before the first frame only
%! close (v);
%! r = VidReader (name);
%! [folder, base, ext] = fileparts (name);
%! assert ({r.Name, r.Path, r.NumFrames, r.FrameRate, r.BitsPerPixel, r.VideoFormat}, ...
%!         {[base ext], folder, 5, 30, 24, "RGB24"});
%! assert (read (r, Inf), repmat (gray, [1 1 3]));
%! assert (read (r, 2), uint8 (round (255 * rgb(:, :, :, 2))));
%! assert (class (readFrame (r, "native")), "uint8");
%! r2 = VidReader (name, "CurrentTime", 2 / 30);
%! assert (readFrame (r2), read (r, 3));
%! g = VidWriter (vid_tmp ("gray.vid"), "Grayscale AVI");
%! writeVideo (g, reshape (gray, [48 64 1 1]));
%! close (g);
%! rg = VidReader (vid_tmp ("gray.vid"));
%! assert ({rg.Kind, rg.VideoFormat, rg.BitsPerPixel}, {"mono8", "Grayscale", 8});
