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
# The Debian packages: vidclip (runtime) and vidclip-dev.
rm -f "$build"/vidclip*_amd64.deb
cmake --build "$build" --target package > "$work/package.log" || { cat "$work/package.log"; exit 1; }
deb=$(ls "$build"/vidclip_*_amd64.deb)
dev=$(ls "$build"/vidclip-dev_*_amd64.deb)
info=$(dpkg-deb --info "$deb")
dev_info=$(dpkg-deb --info "$dev")
echo "$info"
echo "$dev_info"
fail() { echo "check-install: $*" >&2; exit 1; }
for dep in libpng zlib1g libdeflate python3-numpy; do
    grep -q "Depends:.*$dep" <<< "$info" || fail "no $dep dependency in $deb"
done
for dep in "vidclip (=" zlib1g-dev libdeflate-dev libpng-dev; do
    grep -qF "$dep" <<< "$(grep Depends: <<< "$dev_info")" || fail "no $dep dependency in $dev"
done
contents=$(dpkg-deb --contents "$deb")
dev_contents=$(dpkg-deb --contents "$dev")
for f in usr/bin/vid usr/bin/framewise usr/bin/blockexpand usr/bin/memsoak \
         usr/share/doc/vid/LICENSE usr/lib/vid/mex/clipOpenMex.mex \
         usr/lib/python3/dist-packages/vid/__init__.py \
         usr/share/man/man1/vid.1.gz usr/share/man/man1/vid-repair.1.gz usr/share/man/man1/vid-crop.1.gz \
         usr/share/man/man1/framewise.1.gz usr/share/man/man1/blockexpand.1.gz \
         usr/share/man/man1/memsoak.1.gz; do
    grep -q " \./$f\$" <<< "$contents" || fail "$f is not in $deb"
done
grep -q "usr/lib/python3/dist-packages/vid/_vid\.cpython-311-x86_64-linux-gnu\.so$" <<< "$contents" \
    || fail "the Python module is not in $deb"
for f in usr/lib/libvidcore.a usr/include/vid/VidHeader.h usr/lib/pkgconfig/vidclip.pc \
         usr/lib/cmake/VidClip/VidClipConfig.cmake; do
    grep -q " \./$f\$" <<< "$dev_contents" || fail "$f is not in $dev"
    ! grep -q " \./$f\$" <<< "$contents" || fail "$f belongs in $dev, not $deb"
done

# Installed, used and removed on this machine, when asked (CI does: it changes the system).
if [ "${VID_CHECK_DEB_INSTALL:-0}" = 1 ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$(realpath "$deb")" \
        "$(realpath "$dev")" > "$work/apt.log" 2>&1 || { cat "$work/apt.log"; exit 1; }
    (
        cd "$work"
        /usr/bin/vid --version
        /usr/bin/vid info "$OLDPWD/samples/sample_bayer.vid"
        [ -s /usr/share/man/man1/vid-info.1.gz ] || fail "no manual page installed"
        env -u PYTHONPATH /usr/bin/python3 -c "
import vid
with vid.open('$OLDPWD/samples/sample_bayer.vid') as c:
    assert len(c) == 12 and c[0].shape == (c.height, c.width, 3), c
print('python3: vid', vid.__version__, 'from', vid.__file__)"
        g++ -std=c++17 -o consumer-sys "$OLDPWD/tests/install/consumer.cpp" \
            $(pkg-config --cflags --libs vidclip)
        ./consumer-sys "$OLDPWD/samples/sample_bayer.vid"
    )
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y -qq vidclip-dev vidclip \
        > "$work/apt.log" 2>&1 || { cat "$work/apt.log"; exit 1; }
    [ ! -e /usr/bin/vid ] && [ ! -e /usr/lib/libvidcore.a ] \
        && [ ! -e /usr/lib/python3/dist-packages/vid ] || fail "removing left files behind"
    echo "=== both packages installed, used and removed"
fi
echo "=== install, consumers and packages checked"
