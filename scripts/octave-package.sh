#!/usr/bin/env bash
# Writes the Octave package <build>/vid-<version>.tar.gz: DESCRIPTION, COPYING, INDEX, the two
# classes in inst/, and in src/ the sources of the MEX modules and of the oct-file vidReadFrames
# with a Makefile that builds them with mkoctfile, and the functions' help files (installed beside the modules).
# Usage: scripts/octave-package.sh [build directory, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
version=$(sed -n 's/^project(vidclip VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "octave-package: no version in CMakeLists.txt" >&2; exit 1; }
stage=$build/octave-package/vid-$version
rm -rf "$build/octave-package"
mkdir -p "$stage/inst" "$stage/src/core" "$stage/src/mex"
cat > "$stage/DESCRIPTION" <<DESC
Name: vid
Version: $version
Date: $(date +%Y-%m-%d)
Author: The VID clip authors
Maintainer: The VID clip authors
Title: VID clips
Description: Read, write, crop and merge VID clips (individually compressed frames, RGB or
 Bayer mosaics) from Octave: the functions clipOpenMex, clipReadMex, clipWriteMex,
 clipCloseMex and clipCropMex, and the classes VidReader and VidWriter.
Depends: octave (>= 7.0.0)
License: MIT
DESC
cp LICENSE "$stage/COPYING"
cat > "$stage/INDEX" <<'IDX'
vid >> VID clips
Classes
 VidReader
 VidWriter
Functions
 clipOpenMex
 clipReadMex
 clipWriteMex
 clipCloseMex
 clipCropMex
IDX
cp mex/classes/VidReader.m mex/classes/VidWriter.m "$stage/inst/"
# The core's layer folders go into one flat folder, with the front ends' errbox beside them.
cp core/*.h core/*/*.cpp core/*/*.h core/*/*.inc tools/errbox.h tools/errbox.cpp "$stage/src/core/"
sed "s/@PROJECT_VERSION@/$version/" core/base/vid_version.h.in > "$stage/src/core/vid_version.h"
cp mex/*.cpp mex/*.cc mex/*.h mex/octFunction.map "$stage/src/mex/"
# help reads a MEX function's help from a .m file beside the module, which pkg installs
# into an architecture folder of its own: post_install puts the help files there.
mkdir -p "$stage/inst/help"
cp mex/help/*.m "$stage/inst/help/"
cat > "$stage/post_install.m" <<'POST'
function post_install (desc)
  % Puts the help texts of the MEX functions beside the modules, where help looks for them.
  for arch = dir (fullfile (desc.archprefix, "*-*"))'
    if (arch.isdir)
      copyfile (fullfile (desc.dir, "help", "*.m"), fullfile (desc.archprefix, arch.name));
    end
  end
end
POST

cp packaging/octave/Makefile "$stage/src/Makefile"
tar -C "$build/octave-package" -czf "$build/vid-$version.tar.gz" "vid-$version"
echo "$build/vid-$version.tar.gz"
