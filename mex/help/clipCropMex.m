%CLIPCROPMEX Trim, crop and merge VID clips into a new clip.
%   CLIPCROPMEX(IN, OUT, RANGES, MODE, GAP) writes the VID file OUT from the
%   clips IN (a file name, or a cell array of K names).
%   CLIPCROPMEX(IN, OUT, RANGES, MODE, GAP, BOXES) crops each input first.
%   CLIPCROPMEX(IN, OUT, RANGES, MODE, GAP, BOXES, COLOUR) sets the
%   background colour.
%
%   RANGES  [] for every frame, else [start end] per input (a 2 x K array):
%           0-based frame numbers, end exclusive, clamped to each clip.
%   MODE    0 side by side, 1 stacked, 2 one after the other.
%   GAP     pixels between the inputs (not negative).
%   BOXES   [] or [left; top; width; height] per input (a 4 x K array); a box
%           outside its input is empty and takes no room.
%   COLOUR  uint8 [r g b] background (white by default; mode 2 is always on
%           white).
%
%   The output size is rounded up to multiples of 8. A line is printed for
%   every 200th frame written. Bad modes, negative gaps, outputs larger than
%   a VID file can hold and an output that is one of the inputs are refused
%   before OUT is created. If an input turns out to be damaged, the error
%   names it and OUT keeps every frame written up to then.
%
%   Example:
%      clipCropMex('in.vid', 'first10.vid', [0 10], 0, 0);
%      clipCropMex({'a.vid', 'b.vid'}, 'both.vid', [], 0, 10, [], uint8([0 0 0]));
%
%   See also CLIPOPENMEX, CLIPREADMEX.
