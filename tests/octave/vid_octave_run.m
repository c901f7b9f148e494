function vid_octave_run (test_file)
  % Runs the %!test blocks of one test file and ends Octave with status 0 when every block
  % passed, 1 otherwise (also when the file holds no test at all). CTest starts one
  % octave-cli per file, so a crash fails that file alone.
  tmp = getenv ("VID_TEST_TMP");
  if (! isempty (tmp) && ! exist (tmp, "dir"))
    [ok, msg] = mkdir (tmp);  % the build normally makes it; a parallel test may race us
    if (! ok && ! exist (tmp, "dir"))
      error ("cannot create %s: %s", tmp, msg);
    end
  end
  [passed, total] = test (test_file, "quiet", stdout);
  printf ("%s: %d of %d tests passed\n", test_file, passed, total);
  fflush (stdout);
  exit (double (total == 0 || passed < total));
end
