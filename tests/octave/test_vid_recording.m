% Recording from Octave: Bayer mosaics through VidWriter, frame times, rate and metadata read
% back by VidReader; the five functions read a file with a clip block as the same file
% without; clipCropMex keeps the first input's block and its frames' times.

%!function id = error_id (f)
%!  id = "";
%!  try
%!    f ();
%!  catch err
%!    id = err.identifier;
%!  end
%!endfunction

%!test
%! m = uint16 (mod (reshape (0:(30*40-1), 30, 40) * 37, 4096));
%! frames = cat (3, m, m + 1, m + 2);
%! meta = struct ("camera", "cam0", "bit_depth", 12, "gains", [1; 1.2; 2.9]);   % JSON arrays come back as columns
%! for kind = {"bayer16", "bayer8"}
%!   name = vid_tmp ([kind{1} ".vid"]);
%!   data = frames;
%!   meta.bit_depth = 12;
%!   if (strcmp (kind{1}, "bayer8"))
%!     data = uint8 (mod (frames, 256));
%!     meta.bit_depth = 8;            % a one-byte sample holds at most 8 bits
%!   end
%!   w = VidWriter (name, 40, 30, "Kind", kind{1}, "FrameRate", 200, "Metadata", meta, ...
%!                  "FramesReserved", 2);
%!   writeVideo (w, data(:, :, 1:2), "Timestamp", [1.5 1.505]);
%!   writeVideo (w, data(:, :, 3), "Timestamp", int64 (1515000000));
%!   close (w);
%!   r = VidReader (name);
%!   assert ({r.Kind, r.NumFrames, r.FrameRate, r.Duration}, {kind{1}, 3, 200, 3 / 200});
%!   assert (r.Timestamps, [0; 0.005; 0.015], 1e-12);
%!   assert (r.Metadata, meta);
%!   for k = 1:3
%!     assert (readMosaic (r, k), data(:, :, k));
%!   end
%!   r.CurrentTime = 0.01;                 % the first frame at or after 10 ms
%!   assert (r.CurrentTime, 0.015, 1e-12);
%!   readFrame (r);
%!   assert (! hasFrame (r));
%! end
%! assert (error_id (@() VidWriter (vid_tmp ("x.vid"), 40, 30, "Kind", "bayer12")), "vid:badArgument");
%! w = VidWriter (vid_tmp ("y.vid"), 40, 30, "Kind", "bayer16");
%! assert (error_id (@() writeVideo (w, uint8 (m))), "vid:badImage");
%! close (w);

%!test
%! img = uint8 (mod (reshape (0:(24*32*3-1), 24, 32, 3) * 7, 256));
%! plain = vid_tmp ("plain.vid");
%! h = clipOpenMex (plain, int32 ([32 24 2]));
%! clipWriteMex (h, img);
%! clipWriteMex (h, 255 - img);
%! clipCloseMex (h);
%! recorded = vid_tmp ("recorded.vid");
%! w = VidWriter (recorded, 32, 24, "FrameRate", 25, "Metadata", struct ("camera", "c"));
%! writeVideo (w, cat (4, img, 255 - img), "Timestamp", [0 0.04]);
%! close (w);
%! [a, da] = clipOpenMex (plain);
%! [b, db] = clipOpenMex (recorded);
%! assert (da, db);
%! for k = 0:1
%!   assert (clipReadMex (a, k), clipReadMex (b, k));
%! end
%! clipCloseMex (a);
%! clipCloseMex (b);
%! cropped = vid_tmp ("cropped.vid");
%! clipCropMex (recorded, cropped, [1 2], 0, 0);
%! r = VidReader (cropped);
%! assert ({r.NumFrames, r.FrameRate, r.Metadata.camera}, {1, 25, "c"});
%! assert (r.Timestamps, 0);
%! assert (read (r, 1), 255 - img);
%! r = VidReader (plain);
%! assert ({r.FrameRate, r.Timestamps, r.Metadata}, {NaN, [], struct()});

%!test
%! % Compact records from VidWriter, read by VidReader and by the five functions alike.
%! img = uint8 (mod (reshape (0:(24*32*3-1), 24, 32, 3) * 5, 256));
%! name = vid_tmp ("compact.vid");
%! w = VidWriter (name, 32, 24, "Records", "compact", "CompressionEffort", 2);
%! writeVideo (w, cat (4, img, 255 - img));
%! close (w);
%! [h, dims] = clipOpenMex (name);
%! assert (dims, [32; 24; 2]);
%! assert (clipReadMex (h, 1), double (255 - img));
%! clipCloseMex (h);
%! m = uint16 (mod (reshape (0:(30*40-1), 30, 40) * 37, 4096));
%! w = VidWriter (vid_tmp ("compact16.vid"), 40, 30, "Kind", "bayer16", "Records", "compact");
%! writeVideo (w, cat (3, m, m + 9));
%! close (w);
%! r = VidReader (vid_tmp ("compact16.vid"));
%! assert (readMosaic (r, 2), m + 9);
%! assert (error_id (@() VidWriter (vid_tmp ("x.vid"), 8, 8, "Records", "tiny")), "vid:badArgument");
