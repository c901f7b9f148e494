function msg = vid_error_text (fn, nout)
  % Calls fn (a function handle) asking for nout outputs (default 0) and returns the text of
  % the error it raised, without the "<function>: " prefix that Octave puts in front of a MEX
  % error; "" when fn raised none. Octave drops one trailing line feed of a MEX error text:
  % compare against the expected text after vid_strip_lf.
  if (nargin < 2)
    nout = 0;
  end
  msg = "";
  try
    switch (nout)
      case 0
        fn ();
      case 1
        a = fn ();
      case 2
        [a, b] = fn ();
      otherwise
        [a, b, c] = fn ();
    end
  catch err
    msg = regexprep (err.message, '^clip[A-Za-z]+Mex: ', '', 'once');
  end
end
