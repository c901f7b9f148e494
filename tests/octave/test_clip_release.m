% What an opening or closing leaves behind when the container raises an error: a failed
% clipOpenMex closes its file before the error reaches Octave, and an error while a writer
% is finished reaches Octave as an error (not an abort) and releases the handle.

%!test
%! % 1000 failed opens (missing file, short header, short offsets table, unwritable output)
%! % leave the number of open file descriptors unchanged
%! missing = vid_tmp ("no-such-file.vid");
%! short_header = vid_tmp ("short-header.vid");
%! fid = fopen (short_header, "w"); fwrite (fid, uint8 ([64 0 48 0])); fclose (fid);
%! short_table = vid_tmp ("short-table.vid");
%! fid = fopen (short_table, "w");
%! fwrite (fid, uint8 ([64 0 48 0 251 255 255 255 40 0 0 0 0 0 0 0 99]));  % 5 frames, 1 entry
%! fclose (fid);
%! unwritable = vid_tmp ("no-such-dir/out.vid");
%! before = vid_open_fd_count ();
%! for k = 1:250
%!   assert (! isempty (vid_error_text (@() clipOpenMex (missing), 2)));
%!   assert (! isempty (strfind (vid_error_text (@() clipOpenMex (short_header), 2), "Unable to read from video file")));
%!   assert (! isempty (strfind (vid_error_text (@() clipOpenMex (short_table), 2), "Error reading offsets")));
%!   assert (! isempty (vid_error_text (@() clipOpenMex (unwritable, int32 ([8 6 1])), 1)));
%! end
%! assert (vid_open_fd_count (), before);

%!test
%! % the descriptor count does see an open handle: the check above can fail
%! name = vid_tmp ("fd.vid");
%! vid_write_file (name, {vid_test_image(6, 8, 3, 1)});
%! before = vid_open_fd_count ();
%! [h, ~] = clipOpenMex (name);
%! assert (vid_open_fd_count (), before + 1);
%! clipCloseMex (h);
%! assert (vid_open_fd_count (), before);

%!test
%! % a device that takes no data is refused when the writer is created (header and table
%! % are written then): the error carries the container's text and nothing stays open
%! if (exist ("/dev/full", "file"))
%!   before = vid_open_fd_count ();
%!   msg = vid_error_text (@() clipOpenMex ("/dev/full", int32 ([8 6 2])), 1);
%!   assert (regexp (msg, '^VidHeader:\d+ '), 1);
%!   assert (vid_open_fd_count (), before);
%! end
