function msg = vid_error_text (fn)
  % Calls fn (a function handle) and returns the text of the error it raised, without the
  % "<function>: " prefix that Octave puts in front of a MEX error; "" when fn raised none.
  % Octave drops one trailing line feed of a MEX error text: compare against the expected
  % text after vid_strip_lf.
  msg = "";
  try
    fn ();
  catch err
    msg = regexprep (err.message, '^clip[A-Za-z]+Mex: ', '', 'once');
  end
end
