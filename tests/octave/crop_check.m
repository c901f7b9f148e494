## Helper of the clipCropMex tests.
function crop_check (name, w, h, n, expected_fn)
  ## The output has the given geometry and frame count, and frame f equals expected_fn (f).
  [hv, info] = clipOpenMex (name);
  unwind_protect
    assert (info(:)', [w h n]);
    for f = 0:n-1
      got = uint8 (clipReadMex (hv, f));
      want = expected_fn (f);
      if (! isequal (got, want))
        [r, c] = find (any (got != want, 3), 1);
        error ("frame %d differs first at row %d, column %d (0-based)", f, r - 1, c - 1);
      end
    end
  unwind_protect_cleanup
    clipCloseMex (hv);
  end_unwind_protect
endfunction
