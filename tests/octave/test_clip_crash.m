% What survives when things go wrong: a writer handle copy that fell behind is refused, an
% Octave killed in the middle of a clipWriteMex loop leaves a file that reads back every frame
% written, and clipCropMex stopped by a damaged input leaves its output readable.

%!test
%! % a copy of a writer handle that fell behind is refused; closing through it still
%! % finishes the file with every frame written
%! name = vid_tmp ("stale.vid");
%! h = clipOpenMex (name, int32 ([8 6 5]));
%! clipWriteMex (h, vid_test_image (6, 8, 3, 1));
%! behind = h;
%! behind(1) = behind(1);             % same bytes, own storage: a checkpoint of the variable
%! clipWriteMex (h, vid_test_image (6, 8, 3, 2));
%! clipWriteMex (h, vid_test_image (6, 8, 3, 3));
%! msg = vid_error_text (@() clipWriteMex (behind, vid_test_image (6, 8, 3, 9)));
%! assert (strncmp (msg, "Invalid Vid handle: a stale copy of a writer handle (it has written 1 frames, the file has 3)", 90), msg);
%! current = h;                       % a copy that is current keeps working
%! clipWriteMex (current, vid_test_image (6, 8, 3, 4));
%! clipCloseMex (behind);
%! [r, dims] = clipOpenMex (name);
%! assert (dims, [8; 6; 4]);
%! for k = 1:4
%!   assert (isequal (uint8 (clipReadMex (r, k - 1)), vid_test_image (6, 8, 3, k)));
%! end
%! clipCloseMex (r);

%!test
%! % octave-cli killed with SIGKILL during a clipWriteMex loop: a new Octave reads back every
%! % frame whose write had returned, byte for byte
%! name = vid_tmp ("killed.vid");
%! log = vid_tmp ("killed.log");
%! script = vid_tmp ("killed_writer.m");
%! fid = fopen (script, "w");
%! fprintf (fid, "addpath ('%s'); addpath ('%s');\n", fileparts (which ("clipOpenMex")), ...
%!          fileparts (which ("vid_test_image")));
%! fprintf (fid, "h = clipOpenMex ('%s', int32 ([64 48 500]));\n", name);
%! fprintf (fid, "for k = 1:500\n  clipWriteMex (h, vid_test_image (48, 64, 3, k));\n");
%! fprintf (fid, "  printf ('%%d\\n', k); fflush (stdout);\nend\npause (60);\n");
%! fclose (fid);
%! octave = fullfile (OCTAVE_HOME (), "bin", "octave-cli");
%! [~, pid] = system (sprintf ("'%s' --norc --no-history --no-window-system '%s' > '%s' 2>&1 & echo $!", ...
%!                             octave, script, log));
%! pid = str2double (pid);
%! written = 0;
%! for wait = 1:600                   % until some frames are in, at most 60 s
%!   pause (0.1);
%!   text = fileread (log);
%!   lines = regexp (text, '(\d+)\n', 'tokens');
%!   if (numel (lines) >= 20)
%!     break;
%!   end
%! end
%! system (sprintf ("kill -9 %d", pid));
%! pause (0.5);
%! lines = regexp (fileread (log), '(\d+)\n', 'tokens');
%! written = str2double (lines{end}{1});
%! assert (written >= 20);
%! [r, dims] = clipOpenMex (name);
%! assert (dims(1:2), [64; 48]);
%! assert (dims(3) >= written && dims(3) <= written + 1, sprintf ("%d frames for %d written", dims(3), written));
%! for k = 1:dims(3)
%!   assert (isequal (uint8 (clipReadMex (r, k - 1)), vid_test_image (48, 64, 3, k)), sprintf ("frame %d", k - 1));
%! end
%! clipCloseMex (r);

%!test
%! % clipCropMex stopped by a damaged record of its input: the output keeps every frame
%! % written before it
%! in = vid_tmp ("crop-in.vid");
%! out = vid_tmp ("crop-out.vid");
%! frames = arrayfun (@(k) vid_test_image (8, 16, 3, k), 1:10, "UniformOutput", false);
%! vid_write_file (in, frames);
%! fid = fopen (in, "r+");
%! fseek (fid, 8 + 8 * 6, "bof");
%! sixth = fread (fid, 1, "int64");   % the record of frame 6
%! fseek (fid, sixth + 40, "bof");
%! fwrite (fid, uint8 ([1 2 3 4 5 6 7 8]));
%! fclose (fid);
%! msg = vid_error_text (@() clipCropMex (in, out, [], 0, 0));
%! assert (! isempty (strfind (msg, "frame_number 6")), msg);
%! [r, dims] = clipOpenMex (out);
%! assert (dims, [16; 8; 6]);
%! for k = 1:6
%!   assert (isequal (uint8 (clipReadMex (r, k - 1)), frames{k}));
%! end
%! clipCloseMex (r);
