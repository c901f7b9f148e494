%CLIPCLOSEMEX Close a VID clip and release its handle.
%   CLIPCLOSEMEX(H) closes the clip of handle H from CLIPOPENMEX. For a
%   writer it writes the final header (the number of frames written) and the
%   offsets table; for a reader it closes the file. Afterwards H and every
%   copy of it are refused by all clip functions.
%
%   Errors: a missing, closed or foreign handle, or a failure to finish the
%   file (for example a full disk), raise an error with the reason; the
%   handle is released in any case.
%
%   Example:
%      h = clipOpenMex('out.vid', int32([64 48 1]));
%      clipWriteMex(h, zeros(48, 64, 3, 'uint8'));
%      clipCloseMex(h);
%
%   See also CLIPOPENMEX, CLIPREADMEX, CLIPWRITEMEX.
