% Stale and foreign handles: a handle used after clipCloseMex (through any copy), an array
% that never came from clipOpenMex, a handle edited by hand or carried into another process,
% and a handle of the wrong mode are refused with an error and never used as a record.

%!shared closed_msg, foreign_msg, name, img
%! closed_msg = "Invalid Vid handle: its file was closed by clipCloseMex.";
%! foreign_msg = "Invalid Vid handle: not an intact handle returned by clipOpenMex in this session.";
%! name = vid_tmp ("handles.vid");
%! img = vid_test_image (6, 8, 3, 1);
%! vid_write_file (name, {img, img});

%!test
%! % every copy of a closed handle is refused, shared or unshared, in every function
%! [h, ~] = clipOpenMex (name);
%! shared_copy = h;
%! unshared = h;
%! unshared(1) = unshared(1);    % same bytes, own storage
%! s.h = h;
%! clipCloseMex (h);
%! for v = {h, shared_copy, unshared, s.h}
%!   assert (vid_error_text (@() clipReadMex (v{1}, 0), 1), closed_msg);
%!   assert (vid_error_text (@() clipCloseMex (v{1}), 0), closed_msg);
%!   assert (vid_error_text (@() clipWriteMex (v{1}, img), 0), closed_msg);
%! end

%!test
%! % a closed writer handle is refused too; its file stays as clipCloseMex finished it
%! wname = vid_tmp ("handles-writer.vid");
%! h = clipOpenMex (wname, int32 ([8 6 3]));
%! clipWriteMex (h, img);
%! keep = h;
%! keep(2) = keep(2);
%! clipCloseMex (h);
%! assert (vid_error_text (@() clipWriteMex (h, img), 0), closed_msg);
%! assert (vid_error_text (@() clipWriteMex (keep, img), 0), closed_msg);
%! assert (vid_error_text (@() clipCloseMex (keep), 0), closed_msg);
%! [r, dims] = clipOpenMex (wname);
%! assert (dims, [8; 6; 1]);
%! clipCloseMex (r);

%!test
%! % arrays that never came from clipOpenMex
%! [h, ~] = clipOpenMex (name);
%! n = numel (h);
%! fakes = {zeros(300, 1), zeros(n, 1), ones(n, 1), rand(n, 1), NaN(n, 1), h', h(1:end-1), ...
%!          [h; 0], sparse(h), complex(h, 0), [h h], h(:, :, [1 1]), 5};
%! for k = 1:numel (fakes)
%!   assert (vid_error_text (@() clipReadMex (fakes{k}, 0), 1), foreign_msg);
%!   assert (vid_error_text (@() clipWriteMex (fakes{k}, img), 0), foreign_msg);
%!   assert (vid_error_text (@() clipCloseMex (fakes{k}), 0), foreign_msg);
%! end
%! % the real handle still works after all that, and so does an exact copy
%! assert (isequal (uint8 (clipReadMex (h, 1)), img));
%! assert (isequal (uint8 (clipReadMex (h + 0, 1)), img));
%! clipCloseMex (h);

%!test
%! % a handle edited by hand anywhere in its record or tail is refused
%! [h, ~] = clipOpenMex (name);
%! n = numel (h);
%! % (the error text between the name and the seal is not covered: the container writes it
%! % in place, and it is never read as anything but text; nor are the failure fields and the
%! % reports kept beside them, errno to detail, the 387 elements before the clip fields)
%! for k = [1 2 600 625 (1872:1875) 1876 1880 1890 n-6 n]
%!   e = h;
%!   e(k) = typecast (bitxor (typecast (e(k), "uint64"), uint64 (1)), "double");
%!   assert (vid_error_text (@() clipReadMex (e, 0), 1), foreign_msg, sprintf ("element %d", k));
%!   assert (vid_error_text (@() clipCloseMex (e), 0), foreign_msg);
%! end
%! clipCloseMex (h);

%!test
%! % a reader's handle is refused by clipWriteMex, a writer's by clipReadMex
%! [r, ~] = clipOpenMex (name);
%! w = clipOpenMex (vid_tmp ("handles-mode.vid"), int32 ([8 6 1]));
%! assert (vid_error_text (@() clipWriteMex (r, img), 0), "Vid handle was opened for reading: clipWriteMex writes only to a handle opened for writing.");
%! assert (vid_error_text (@() clipReadMex (w, 0), 1), "Vid handle was opened for writing: clipReadMex reads only from a handle opened for reading.");
%! assert (isequal (uint8 (clipReadMex (r, 0)), img));
%! clipWriteMex (w, img);
%! clipCloseMex (w);
%! clipCloseMex (r);

%!test
%! % clear all neither closes a handle nor forgets that one was closed
%! [h, ~] = clipOpenMex (name);
%! saved = h;
%! saved(1) = saved(1);
%! save ("-binary", vid_tmp ("handle.bin"), "saved");
%! clipCloseMex (h);
%! clear all;
%! clear clipOpenMex clipReadMex clipWriteMex clipCloseMex;
%! closed_msg = "Invalid Vid handle: its file was closed by clipCloseMex.";
%! foreign_msg = "Invalid Vid handle: not an intact handle returned by clipOpenMex in this session.";
%! name = vid_tmp ("handles.vid");
%! img = vid_test_image (6, 8, 3, 1);
%! load (vid_tmp ("handle.bin"));
%! assert (vid_error_text (@() clipReadMex (saved, 0), 1), closed_msg);

%!test
%! % a live handle saved and loaded into another Octave process is refused there
%! [h, ~] = clipOpenMex (name);
%! file = vid_tmp ("live-handle.bin");
%! save ("-binary", file, "h");
%! octave = fullfile (OCTAVE_HOME, "bin", "octave-cli");
%! code = sprintf (["load ('%s'); try; x = clipReadMex (h, 0); disp ('READ'); " ...
%!                  "catch e; disp (e.message); end"], file);
%! cmd = sprintf ("%s --norc --no-history --no-window-system --path %s --eval \"%s\"", ...
%!                octave, fileparts (which ("clipReadMex")), code);
%! [status, out] = system (cmd);
%! assert (status, 0);
%! assert (strtrim (out), ["clipReadMex: " foreign_msg]);
%! % and it still reads here
%! assert (isequal (uint8 (clipReadMex (h, 0)), img));
%! clipCloseMex (h);
