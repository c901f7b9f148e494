#!/usr/bin/env bash
# Checks the import and export tables of Windows deliverables with objdump -p.
# Usage: check-pe-tables.sh OBJDUMP DEF_DIR KIND FILE_OR_DIR...   (a directory stands for the
# programs, *.exe, in it)
#   KIND mex:     imports only from KERNEL32.dll, msvcrt.dll, libmx.dll and libmex.dll (both
#                 of the last two required), every libmx/libmex name listed, undecorated, in
#                 DEF_DIR/libmx.def or libmex.def; exports exactly one name, mexFunction.
#   KIND program: imports only from KERNEL32.dll and msvcrt.dll (static C/C++ runtimes); the
#                 MEX loader tests (test_windows_*) also from the stand-in libmx/libmex.
set -euo pipefail
objdump=$1 def_dir=$2 kind=$3; shift 3
files=()
for arg in "$@"; do
    if [ -d "$arg" ]; then files+=("$arg"/*.exe); else files+=("$arg"); fi
done
[ ${#files[@]} -gt 0 ] && [ -e "${files[0]}" ] || { echo "no files to check"; exit 1; }

def_names() { sed -n '/^EXPORTS/,$p' "$1" | tail -n +2 | awk 'NF && $1 !~ /^;/ {print $1}'; }
allowed_mx=$(def_names "$def_dir/libmx.def")
allowed_mex=$(def_names "$def_dir/libmex.def")

failures=0
fail() { echo "FAIL $file: $*"; failures=$((failures + 1)); }

for file in "${files[@]}"; do
    dump=$("$objdump" -p "$file") || { fail "objdump could not read it"; continue; }
    dlls=$(printf '%s\n' "$dump" | awk '/DLL Name:/ {print $3}' | sort -u)
    # name lines of the import tables: "<vma> <hint> <name>" under each "DLL Name:"
    imports=$(printf '%s\n' "$dump" | awk '
        /DLL Name:/ {dll = $3; next}
        /^$/ {dll = ""}
        dll != "" && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ && NF == 3 {print dll, $3}')
    exports=$(printf '%s\n' "$dump" | awk '
        /\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
        on && /^[ \t]*\[ *[0-9]+\]/ {print $NF; next}
        on {on = 0}')

    case $kind in
    mex)
        allowed="KERNEL32.dll msvcrt.dll libmx.dll libmex.dll"
        for need in libmx.dll libmex.dll; do
            grep -qx "$need" <<< "$dlls" || fail "does not import $need"
        done
        while read -r dll name; do
            [ -n "$dll" ] || continue
            case $dll in
            libmx.dll) listed=$allowed_mx ;;
            libmex.dll) listed=$allowed_mex ;;
            *) continue ;;
            esac
            grep -qx -- "$name" <<< "$listed" || fail "imports $name from $dll, not in its .def"
        done <<< "$imports"
        [ "$exports" = "mexFunction" ] ||
            fail "exports [$(echo $exports)] instead of mexFunction alone"
        ;;
    program)
        allowed="KERNEL32.dll msvcrt.dll"
        # the MEX loader tests run modules against the test-only stand-in DLLs
        case $(basename "$file") in test_windows_*) allowed="$allowed libmx.dll libmex.dll" ;; esac
        ;;
    *) echo "unknown kind $kind"; exit 2 ;;
    esac
    for dll in $dlls; do
        grep -qw -- "$dll" <<< "$allowed" || fail "imports from $dll"
    done
    echo "checked $file: imports [$(echo $dlls)]${exports:+, exports [$(echo $exports)]}"
done
[ "$failures" -eq 0 ]
