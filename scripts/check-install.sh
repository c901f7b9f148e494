#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what a user of it gets: the programs
# with --version, a consumer of the core built with find_package and with pkg-config and run
# on the shipped sample, the MEX modules, help files and documentation; then builds the
# Debian package and inspects it.
# Usage: scripts/check-install.sh [build directory, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" > "$work/install.log"
for p in vid framewise blockexpand memsoak; do "$prefix/bin/$p" --version; done
for f in include/vid/VidHeader.h include/vid/vid_version.h lib/libvidcore.a \
         lib/cmake/VidClip/VidClipConfig.cmake lib/pkgconfig/vidclip.pc \
         lib/vid/mex/clipOpenMex.mex lib/vid/mex/clipOpenMex.m lib/vid/mex/VidReader.m \
         share/doc/vid/README.md share/doc/vid/LICENSE; do
    [ -e "$prefix/$f" ] || { echo "check-install: $f is missing" >&2; exit 1; }
done
# Each installed header compiles on its own.
for h in "$prefix"/include/vid/*.h; do
    echo "#include <vid/$(basename "$h")>" | g++ -std=c++17 -fsyntax-only -I"$prefix/include" -x c++ -
done
# The consumer, with find_package ...
cmake -S tests/install -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" > "$work/consumer.log"
cmake --build "$work/consumer" > "$work/consumer-build.log"
"$work/consumer/consumer" samples/sample_bayer.vid
# ... and with pkg-config.
g++ -std=c++17 -o "$work/consumer-pc" tests/install/consumer.cpp -I"$prefix/include" \
    $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs vidclip)
"$work/consumer-pc" samples/sample_bayer.vid
# The Debian package.
cmake --build "$build" --target package > "$work/package.log" || { cat "$work/package.log"; exit 1; }
deb=$(ls "$build"/vidclip_*_amd64.deb)
info=$(dpkg-deb --info "$deb")
echo "$info"
for dep in libpng zlib1g libdeflate; do
    grep -q "Depends:.*$dep" <<< "$info" || { echo "check-install: no $dep dependency" >&2; exit 1; }
done
contents=$(dpkg-deb --contents "$deb")
for f in usr/bin/vid usr/bin/framewise usr/lib/libvidcore.a usr/share/doc/vid/LICENSE \
         usr/lib/vid/mex/clipOpenMex.mex; do
    grep -q " \./$f\$" <<< "$contents" || { echo "check-install: $f is not in $deb" >&2; exit 1; }
done
echo "=== install, consumers and package checked"
