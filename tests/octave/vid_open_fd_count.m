function n = vid_open_fd_count ()
  % Number of file descriptors this Octave process holds open (entries of /proc/self/fd,
  % less the one that listing the directory itself opens).
  d = dir ("/proc/self/fd");
  names = {d.name};
  n = sum (! strcmp (names, ".") & ! strcmp (names, ".."));
end
