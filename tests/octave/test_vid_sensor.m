% Sensor descriptions in Octave: a red field through each pattern reads red through VidReader,
% 'native' keeps 16 bits, a mono clip reads as one Grayscale plane, and the five functions
% keep their own rendering.

%!test
%! for cfa = {"RGGB", "BGGR", "GRBG", "GBRG"}
%!   p = cfa{1};
%!   m = zeros (16, 24, "uint16");
%!   for y = 0:1
%!     for x = 0:1
%!       if (p(2 * y + x + 1) == "R")
%!         m(1 + y:2:end, 1 + x:2:end) = 4095;
%!       end
%!     end
%!   end
%!   name = vid_tmp (["red-" p ".vid"]);
%!   w = VidWriter (name, 24, 16, "Kind", "bayer16", "Metadata", struct ("cfa", p, "bit_depth", 12));
%!   writeVideo (w, m);
%!   close (w);
%!   r = VidReader (name);
%!   f = read (r, 1);
%!   assert (squeeze (f(8, 12, :))', uint8 ([255 0 0]));
%!   n = read (r, 1, "native");
%!   assert (class (n), "uint16");
%!   assert (squeeze (n(8, 12, :))', uint16 ([65535 0 0]));
%!   % clipReadMex keeps the rendering of every earlier version (the fixed demosaic).
%!   [h, ~] = clipOpenMex (name);
%!   old = clipReadMex (h, 0);
%!   clipCloseMex (h);
%!   assert (size (old), [16 24 3]);
%! end

%!test
%! % the same red field at each bit depth, one-byte samples at 8 bits
%! for bits = [8 10 14 16]
%!   kind = "bayer16";
%!   white = 2 ^ bits - 1;
%!   m = zeros (16, 24, "uint16");
%!   m(1:2:end, 1:2:end) = white;
%!   if (bits == 8)
%!     kind = "bayer8";
%!     m = uint8 (m);
%!   end
%!   name = vid_tmp (sprintf ("red-%d.vid", bits));
%!   w = VidWriter (name, 24, 16, "Kind", kind, "Metadata", struct ("cfa", "RGGB", "bit_depth", bits));
%!   writeVideo (w, m);
%!   close (w);
%!   f = read (VidReader (name), 1);
%!   assert (squeeze (f(8, 12, :))', uint8 ([255 0 0]));
%! end

%!test
%! ramp = uint16 (repmat (round ((0:23) * 4095 / 23), 16, 1));
%! name = vid_tmp ("mono.vid");
%! w = VidWriter (name, 24, 16, "Kind", "mono16", "Metadata", struct ("bit_depth", 12));
%! writeVideo (w, ramp);
%! close (w);
%! r = VidReader (name);
%! assert ({r.Kind, r.VideoFormat}, {"mono16", "Grayscale"});
%! f = read (r, 1);
%! assert (size (f), [16 24]);
%! assert (f(8, [1 end]), uint8 ([0 255]));
%! assert (all (diff (double (f(8, :))) > 0));
%! assert (readMosaic (r, 1), ramp);
