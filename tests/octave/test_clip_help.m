% help for each of the five functions prints its calling forms and an example.

%!test
%! forms = struct ("clipOpenMex", "[H, DIMS] = CLIPOPENMEX(FILENAME)", ...
%!                 "clipReadMex", "IMG = CLIPREADMEX(H, F)", ...
%!                 "clipWriteMex", "CLIPWRITEMEX(H, IMG)", ...
%!                 "clipCloseMex", "CLIPCLOSEMEX(H)", ...
%!                 "clipCropMex", "CLIPCROPMEX(IN, OUT, RANGES, MODE, GAP)");
%! for name = fieldnames (forms)'
%!   text = evalc (sprintf ("help %s", name{1}));
%!   assert (! isempty (strfind (text, forms.(name{1}))), text);
%!   assert (! isempty (strfind (text, "Example")), text);
%!   assert (isempty (strfind (text, "is not documented")), text);
%!   assert (exist (name{1}), 3);        % the module is still what gets called
%! end
