## clipCropMex prints its progress line on the C runtime's standard output, which Octave's
## own output capture does not see: each case runs a child octave-cli and reads its output.

%!function text = crop_child (fn, args)
%!  ## Runs fn(args{:}) in a child Octave with this one's module directories and returns
%!  ## what it printed on standard output.
%!  exe = fullfile (OCTAVE_HOME (), "bin", "octave-cli");
%!  if (! exist (exe, "file"))
%!    exe = "octave-cli";
%!  end
%!  dirs = sprintf ("addpath('%s');", fileparts (which ("clipOpenMex")), fileparts (which (fn)));
%!  call = sprintf ("%s(%s);", fn, strjoin (crop_args_text (args), ","));
%!  cmd = sprintf ('"%s" --norc --no-history --no-window-system --eval "%s %s" 2>/dev/null', exe, dirs, call);
%!  [status, text] = system (cmd);
%!  assert (status, 0, text);
%!endfunction

%!function parts = crop_args_text (args)
%!  parts = cell (1, numel (args));
%!  for i = 1:numel (args)
%!    a = args{i};
%!    if (ischar (a))
%!      parts{i} = ["'" a "'"];
%!    elseif (iscell (a))
%!      parts{i} = ["{" strjoin(cellfun (@(s) ["'" s "'"], a, "UniformOutput", false), ",") "}"];
%!    else
%!      parts{i} = mat2str (a);
%!    end
%!  end
%!endfunction

%!function lines = crop_expected (frames, total)
%!  lines = "";
%!  for f = frames
%!    lines = [lines sprintf("%6d of %6d frames in output written.\n", f, total)];
%!  end
%!endfunction

%!shared many, few, out
%! many = vid_tmp ("progress_many.vid");
%! few = vid_tmp ("progress_few.vid");
%! out = vid_tmp ("progress_out.vid");
%! hv = clipOpenMex (many, int32 ([8 8 450]));
%! for f = 1:450
%!   clipWriteMex (hv, uint8 (f * ones (8, 8, 3)));
%! end
%! clipCloseMex (hv);
%! hv = clipOpenMex (few, int32 ([8 8 199]));
%! for f = 1:199
%!   clipWriteMex (hv, uint8 (f * ones (8, 8, 3)));
%! end
%! clipCloseMex (hv);

## Lines after output frames 199, 399, ..., right-aligned in six characters.
%!test
%! assert (crop_child ("clipCropMex", {many, out, [], 0, 0}), crop_expected ([199 399], 450));
%! assert (crop_child ("clipCropMex", {{many, few}, out, [], 2, 0}), crop_expected ([199 399 599], 649));

## Fewer than 200 output frames print none.
%!test
%! assert (crop_child ("clipCropMex", {few, out, [], 1, 0}), "");

## The Windows form: side by side after frames 0, 200, 400; sequentially every tenth frame.
%!test
%! if (isempty (which ("clipCropWinMex")))
%!   return;
%! end
%! assert (crop_child ("clipCropWinMex", {many, out, [0 450], 0}), crop_expected ([0 200 400], 450));
%! assert (crop_child ("clipCropWinMex", {{few}, out, [0; 25], 2}), crop_expected ([0 10 20], 25));
