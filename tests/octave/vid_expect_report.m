function vid_expect_report (fn, nout, message, usage)
  % Calls fn (a function handle) asking for nout outputs and checks the four-step
  % argument-error report: the console shows message, a line feed, the usage text and a
  % blank line, and the error raised carries message itself. usage "" means the error is
  % raised without a report (nothing printed).
  assert (vid_error_text (fn, nout), vid_strip_lf (message));
  switch (nout)
    case 0
      out = evalc ("try\n fn ();\ncatch\nend");
    case 1
      out = evalc ("try\n a = fn ();\ncatch\nend");
    case 2
      out = evalc ("try\n [a, b] = fn ();\ncatch\nend");
    otherwise
      out = evalc ("try\n [a, b, c] = fn ();\ncatch\nend");
  end
  if (isempty (usage))
    assert (out, "");
  else
    assert (out, [message "\n" usage "\n"]);
  end
end
