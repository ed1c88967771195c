#!/bin/sh
# Checks that a DLL's export table holds exactly the names of api/zr.def: no name missing,
# none extra (no plain ZRTestModeSet, no Name@N duplicates), decorated names exactly as listed;
# and that it imports no compiler runtime DLL.
# usage: check_exports.sh zr.dll api/zr.def [objdump]
set -eu
dll=$1
def=$2
objdump=${3:-i686-w64-mingw32-objdump}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Names after EXPORTS, comments and blank lines dropped.
sed -e 's/;.*//' -e 's/^[[:space:]]*//' -e 's/[[:space:]].*//' "$def" |
    awk 'found && NF { print } /^EXPORTS$/ { found = 1 }' | sort > "$tmp/expected"

"$objdump" -p "$dll" > "$tmp/dump" || { echo "check_exports: $objdump cannot read $dll" >&2; exit 1; }
# The name table: lines "[   n] Name" after "[Ordinal/Name Pointer] Table".
awk '/^\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
     table && /^[[:space:]]*\[[[:space:]]*[0-9]+\]/ { sub(/^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]*/, ""); print; next }
     table && NF == 0 { table = 0 }' "$tmp/dump" | sort > "$tmp/actual"

if ! cmp -s "$tmp/expected" "$tmp/actual"; then
    echo "check_exports: the export table of $dll differs from $def" >&2
    echo "  (< only in $def, > only in the DLL)" >&2
    diff "$tmp/expected" "$tmp/actual" | grep '^[<>]' | sed 's/^/  /' >&2
    exit 1
fi
echo "check_exports: $(wc -l < "$tmp/actual") exports of $(basename "$dll") match $(basename "$def")"

# Nothing but Windows' own DLLs: the mingw runtimes (libgcc_s_*, libstdc++-6, libwinpthread-1)
# must be linked in, not imported.
runtimes=$(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' "$tmp/dump" | grep -i '^lib' || true)
if [ -n "$runtimes" ]; then
    echo "check_exports: $dll imports compiler runtime DLLs: $(echo $runtimes)" >&2
    exit 1
fi
echo "check_exports: $(basename "$dll") imports only $(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' "$tmp/dump" | sort -u | tr '\n' ' ')"
