#!/usr/bin/env bash
# The wheel of the built package: tagged for the interpreter and platform, holding the
# compiled module, built without writing into the source or build trees.
# Usage: wheel_check.sh <source dir> <build dir>
set -euo pipefail
src=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
before=$(cd "$src" && git status --porcelain --ignored python 2>/dev/null || true)
wheel=$("$src/scripts/python-wheel.sh" "$build" "$work/dist")
tag=$(/usr/bin/python3 -c 'import sys, sysconfig; print("cp%d%d-cp%d%d-%s" % (sys.version_info[:2] * 2 + (sysconfig.get_platform().replace("-", "_").replace(".", "_"),)))')
case "$(basename "$wheel")" in
    vid-*-"$tag".whl) ;;
    *) echo "wheel $(basename "$wheel") is not tagged $tag" >&2; exit 1 ;;
esac
listing=$(/usr/bin/python3 -m zipfile -l "$wheel")
grep -q "vid/_vid\..*\.so" <<< "$listing" || { echo "no module in the wheel" >&2; exit 1; }
for left in build vid.egg-info; do
    [ ! -e "$build/python/$left" ] || { echo "pip wrote $build/python/$left" >&2; exit 1; }
done
after=$(cd "$src" && git status --porcelain --ignored python 2>/dev/null || true)
[ "$before" = "$after" ] || { echo "the source tree changed" >&2; exit 1; }
# It installs and imports in an environment of its own.
/usr/bin/python3 -m venv --system-site-packages "$work/env" > /dev/null
"$work/env/bin/python" -m pip install -q --no-index --no-deps "$wheel"
(cd "$work" && env -u PYTHONPATH "$work/env/bin/python" -c "import vid; assert vid.__file__.startswith('$work/env')")
echo "wheel $(basename "$wheel") checked"
