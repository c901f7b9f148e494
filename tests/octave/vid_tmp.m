function p = vid_tmp (name)
  % A path in this test's scratch directory (VID_TEST_TMP, created by CTest per test file).
  d = getenv ("VID_TEST_TMP");
  if (isempty (d))
    d = tempdir ();
  end
  p = fullfile (d, name);
end
