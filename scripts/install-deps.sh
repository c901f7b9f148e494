#!/usr/bin/env bash
# Installs the Debian packages a make target needs, only those that are missing.
# Usage: scripts/install-deps.sh GROUP...   (groups: build, test, fuzz, bench, package, windows)
set -euo pipefail

declare -A GROUPS_PKGS=(
    [build]="build-essential cmake pkg-config nlohmann-json3-dev zlib1g-dev libdeflate-dev libpng-dev pybind11-dev python3-dev python3-numpy help2man libcpp-httplib-dev libturbojpeg0-dev libaravis-dev libusb-1.0-0-dev libtiff-dev"
    [test]="libgtest-dev libgmock-dev octave liboctave-dev ffmpeg clang-format python3-pytest python3-dask python3-distributed python3-xarray python3-pip python3-setuptools python3-wheel python3-venv chromium chromium-driver python3-selenium aravis-tools python3-tifffile siril"
    [fuzz]="clang libclang-rt-14-dev"
    [bench]="libbenchmark-dev libopencv-imgproc-dev pigz python3-h5py python3-hdf5plugin python3-zarr python3-numcodecs python3-av python3-pil eso-midas-testdata libjxl-testdata"
    [package]="dpkg-dev file"
    [windows]="g++-mingw-w64-x86-64 g++-mingw-w64-i686 libz-mingw-w64-dev mingw-w64-tools wine wine64 googletest"
)

missing=()
for group in "$@"; do
    for pkg in ${GROUPS_PKGS[$group]:?unknown package group $group}; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed"; then
            missing+=("$pkg")
        fi
    done
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
