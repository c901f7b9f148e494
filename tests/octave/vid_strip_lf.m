function s = vid_strip_lf (s)
  % The text a MEX error reaches a script with: one trailing line feed removed.
  if (numel (s) > 0 && s(end) == "\n")
    s = s(1:end-1);
  end
end
