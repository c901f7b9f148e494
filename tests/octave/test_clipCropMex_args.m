## clipCropMex: argument errors (message, usage text, no output created before the error),
## the refusals that keep every box inside both frames, and the empty results.

%!function crop_make_plain (name, w, h, n)
%!  hv = clipOpenMex (name, int32 ([w h n]));
%!  for f = 0:n-1
%!    clipWriteMex (hv, uint8 (mod (f * 40 + zeros (h, w, 3), 256)));
%!  end
%!  clipCloseMex (hv);
%!endfunction

%!function crop_refused (msg, varargin)
%!  ## The call fails with msg, prints msg, the usage text and a blank line, and creates no
%!  ## output file.
%!  out = varargin{2};
%!  if (ischar (out) && exist (out, "file"))
%!    delete (out);
%!  end
%!  printed = evalc ("try, clipCropMex (varargin{:}); catch err, end");
%!  assert (exist ("err", "var") == 1, "no error raised");
%!  assert (regexprep (err.message, '^clipCropMex: ', ''), msg);
%!  head = [msg "\nUsage: clipCropMex, \nInputs: \n"];
%!  tail = "\nOutputs: \n   None.\n\n";
%!  assert (strncmp (printed, head, numel (head)), printed);
%!  assert (numel (printed) > numel (tail) && strcmp (printed(end-numel (tail)+1:end), tail), printed);
%!  assert (! (ischar (out) && exist (out, "file")), "output created before the error");
%!endfunction

%!shared a, b, out
%! a = vid_tmp ("args_a.vid");
%! b = vid_tmp ("args_b.vid");
%! out = vid_tmp ("args_out.vid");
%! crop_make_plain (a, 16, 8, 3);
%! crop_make_plain (b, 24, 16, 2);

%!test
%! msg = "Incorrect number inputs and/or input datatype for some arguments.";
%! crop_refused (msg, a, out, [], 0);
%! crop_refused (msg, a, 5, [], 0, 0);
%! crop_refused (msg, a, out, int32 ([0 1]), 0, 0);
%! crop_refused (msg, a, out, [], "0", 0);
%! crop_refused (msg, a, out, [], 0, uint8 (1));
%! crop_refused (msg, a, out, sparse ([0 1]), 0, 0);  # storage holds only the nonzero element

%!test
%! crop_refused ("Input filename should either be a string or a cell array of strings.", 7, out, [], 0, 0);
%! crop_refused ("Crop frames input array should either be empty or of size [1 x 2].", a, out, [1 2 3], 0, 0);
%! msg = "Crop frames input array should be either empty or of size [Number input videos x 2].";
%! crop_refused (msg, {a, b}, out, [0 1 0 1], 0, 0);
%! crop_refused (msg, {a, b}, out, [0 1], 0, 0);
%! crop_refused ("One of the cell entries for filenames array is not a string.", {a, 3}, out, [], 0, 0);
%! crop_refused ("Cell array of input video file names is empty.", {}, out, [], 0, 0);

%!test
%! crop_refused ("Fourth input argument should be scalar.", a, out, [], [0 1], 0);
%! crop_refused ("Fourth input argument should be scalar.", a, out, [], [], 0);
%! crop_refused ("Gap between videos input argument should be scalar.", a, out, [], 0, [1 2]);
%! msg = "Incorrect crop bbox array size or datatype";
%! crop_refused (msg, {a, b}, out, [], 0, 0, [0; 0; 4; 4]);
%! crop_refused (msg, a, out, [], 0, 0, int32 ([0; 0; 4; 4]));
%! crop_refused (msg, a, out, [], 0, 0, [0 0 4 4]);
%! crop_refused (msg, a, out, [], 0, 0, sparse ([0; 0; 4; 4]));

## Modes other than 0, 1 and 2 and negative gaps are refused before any output exists.
%!test
%! msg = "Merge mode should be 0 (horizontal), 1 (vertical) or 2 (sequential).";
%! for mode = [3, -2, 2.5, 1e10, NaN, Inf]
%!   crop_refused (msg, {a, b}, out, [], mode, 0);
%! end
%! clipCropMex (a, out, [], -0.4, 0);  # rounds to mode 0
%! [h, info] = clipOpenMex (out); clipCloseMex (h);
%! assert (info(:)', [16 8 3]);
%! msg = "Gap between videos should be zero or a positive number of pixels.";
%! crop_refused (msg, {a, b}, out, [], 0, -2);
%! crop_refused (msg, {a, b}, out, [], 1, NaN);

## An input that cannot be opened ends the call with the container's report.
%!test
%! missing = vid_tmp ("args_missing.vid");
%! e = vid_error_text (@() clipCropMex ({a, missing}, out, [], 0, 0));
%! assert (regexp (e, "^VidHeader:\\d+ Unable to open following video file in  'rb' mode"));
%! assert (! isempty (strfind (e, missing)));
%! e = vid_error_text (@() clipCropMex (a, vid_tmp ("no/such/dir/out.vid"), [], 0, 0));
%! assert (regexp (e, "^VidHeader:\\d+ Unable to open following video file in  'wb' mode"));

## Names that do not fit the 2000-byte buffer are refused, not cut.
%!test
%! long = [vid_tmp("") repmat("x", 1, 2100)];
%! assert (vid_error_text (@() clipCropMex (long, out, [], 0, 0)), "Input video file name is too long.");
%! assert (vid_error_text (@() clipCropMex (a, long, [], 0, 0)), "Output video file name is too long.");

## Boxes wholly outside their input copy nothing and take no room; when every box is empty
## there is no output frame at all, which is refused before the output is created.
%!test
%! if (exist (out, "file")) delete (out); end
%! e = vid_error_text (@() clipCropMex ({a, b}, out, [], 0, 5, [16 0; 0 16; 4 4; 4 4]));
%! assert (e, "Every crop box is empty: the output frame would have no pixels.");
%! assert (! exist (out, "file"));
%! clipCropMex ({a, b}, out, [], 0, 5, [16 0; 0 0; 4 24; 4 16]);
%! [h, info] = clipOpenMex (out);
%! assert (info(:)', [32 16 3]);
%! img = clipReadMex (h, 0);
%! clipCloseMex (h);
%! assert (all (img(:, 30:32, :)(:) == 255));        # right of the box: background
%! assert (all (img(:, 6:29, 1)(:) == 0));           # the second input's frame 0 (value 0)

## Outputs that a video file cannot hold are refused before the output is created.
%!test
%! if (exist (out, "file")) delete (out); end
%! e = vid_error_text (@() clipCropMex ({a, b}, out, [], 0, 40000));
%! assert (e, "Output frame of 40040 x 16 pixels is too large for a video file.");
%! assert (! exist (out, "file"));

## All ranges empty: the output is a finished file without frames.
%!test
%! clipCropMex ({a, b}, out, [5 2; 1 2], 0, 0);
%! [h, info] = clipOpenMex (out);
%! clipCloseMex (h);
%! assert (info(:)', [40 16 0]);
%! clipCropMex ({a, b}, out, [5 2; 1 2], 2, 0);
%! [h, info] = clipOpenMex (out);
%! clipCloseMex (h);
%! assert (info(:)', [24 16 0]);

## An empty range in mode 2 counts no frame: the output holds exactly the other frames.
%!test
%! clipCropMex ({a, b}, out, [0 2; 3 1], 2, 0);
%! [h, info] = clipOpenMex (out);
%! clipCloseMex (h);
%! assert (info(:)', [24 16 3]);

## An output that names one of the inputs (directly or through a link) is refused before it
## is created, so the input is not truncated.
%!test
%! e = vid_error_text (@() clipCropMex ({a, b}, b, [], 0, 0));
%! assert (e, "Output video file is one of the input files: it would be overwritten.");
%! link = vid_tmp ("args_link.vid");
%! if (exist (link, "file")) delete (link); end
%! assert (system (sprintf ("ln -s '%s' '%s'", a, link)), 0);
%! assert (vid_error_text (@() clipCropMex (a, link, [], 0, 0)), e);
%! [h, info] = clipOpenMex (a);
%! clipCloseMex (h);
%! assert (info(:)', [16 8 3]);
