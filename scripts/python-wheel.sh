#!/usr/bin/env bash
# Builds a wheel of the built Python package (<build>/python) for the interpreter it was
# built against, tagged for that interpreter and platform (cp311-cp311-linux_x86_64 on
# Debian 12), without writing into the source or build trees: pip works in a copy.
# Usage: scripts/python-wheel.sh <build dir> <output dir>    (prints the wheel's path)
set -euo pipefail
build=$(realpath "$1")
out=$(mkdir -p "$2" && realpath "$2")
python=${VID_PYTHON:-/usr/bin/python3}
[ -f "$build/python/pyproject.toml" ] || { echo "no built Python package in $build/python" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$build/python/vid" "$build/python/pyproject.toml" "$work/"
rm -rf "$work/vid/__pycache__"
# The package holds a compiled module: a binary distribution, never py3-none-any.
cat > "$work/setup.py" <<'PY'
from setuptools import setup
from setuptools.dist import Distribution


class BinaryDistribution(Distribution):
    def has_ext_modules(self):
        return True


setup(distclass=BinaryDistribution)
PY
(cd "$work" && "$python" -m pip wheel --no-build-isolation --no-deps --no-index -q -w "$out" .) >&2
ls "$out"/vid-*.whl
