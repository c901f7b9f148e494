#!/usr/bin/env bash
# The Octave package: built by scripts/octave-package.sh, installed by `pkg install` into a
# fresh prefix, loaded in a new Octave from another folder, then a round trip through the
# classes and the functions, and the functions' help.
# Usage: package_roundtrip.sh <source dir> <build dir>
set -euo pipefail
src=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tarball=$("$src/scripts/octave-package.sh" "$build" | tail -1)
# Nothing outside $work is touched: the package lists (the user's and the system-wide one,
# which `pkg install` writes when run as root) and the prefix all live in $work, and so does
# HOME.
system_list=$(octave-cli --norc --no-history --eval "disp (pkg ('global_list'))" | tail -1)
fingerprint() { if [ -e "$1" ]; then cksum < "$1"; else echo none; fi; }
before=$(fingerprint "$system_list")
export HOME=$work
pkgs="pkg prefix $work/pkgs $work/pkgs; pkg local_list $work/pkgs/list; pkg global_list $work/pkgs/global_list;"
mkdir -p "$work/pkgs"
cd "$work"
octave-cli --norc --no-history --eval "$pkgs pkg install -local $tarball" > install.log 2>&1 \
    || { cat install.log; exit 1; }
octave-cli --norc --no-history --eval "$pkgs pkg load vid;
  assert (exist ('vidReadFrames'), 3);
  w = VidWriter ('clip.vid', 32, 16, 'CompressionEffort', 1);
  frames = uint8 (reshape (mod (0:32*16*3*5-1, 251), 16, 32, 3, 5));
  writeVideo (w, frames); close (w);
  r = VidReader ('clip.vid');
  assert (read (r, 1:5), frames);
  [h, d] = clipOpenMex ('clip.vid');
  assert (d', [32 16 5]);
  assert (uint8 (clipReadMex (h, 4)), frames(:, :, :, 5));
  clipCloseMex (h);
  clipCropMex ('clip.vid', 'crop.vid', [1 3], 0, 0);
  assert (VidReader ('crop.vid').NumFrames, 2);
  text = evalc ('help clipOpenMex');
  assert (! isempty (strfind (text, 'CLIPOPENMEX(FILENAME)')), text);
  assert (! isempty (strfind (evalc ('help VidReader'), 'readMosaic')));
  disp ('package round trip passed');"
after=$(fingerprint "$system_list")
[ "$before" = "$after" ] || { echo "the system-wide package list $system_list changed" >&2; exit 1; }
