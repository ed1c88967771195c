#!/usr/bin/env bash
# Breaks each promise listed in scripts/mutants.txt, one at a time, and runs the unit suite
# against it: every mutant must make a test fail. Prints "N of N caught"; exits 1 when a
# mutant survives or cannot be applied or built.
#
# usage: scripts/mutants.sh [NAME...]   (default: every mutant in the list)
# Builds in build-mutants/ (configured once, then one incremental build per mutant).
set -euo pipefail
cd "$(dirname "$0")/.."
list=scripts/mutants.txt
build=build-mutants
start=$(date +%s)

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" -j"$(nproc)" --target zr_unit_tests >/dev/null

# name|file|find|replace per line, with \n kept as written.
mutants=$(python3 - "$list" <<'PY'
import sys
blocks, cur = [], []
for line in open(sys.argv[1], encoding="utf-8").read().split("\n"):
    if line.startswith("#"):
        continue
    if line.strip() == "":
        if cur:
            blocks.append(cur)
        cur = []
        continue
    cur.append(line)
if cur:
    blocks.append(cur)
for b in blocks:
    if len(b) != 4:
        sys.exit("mutants.txt: a mutant needs four lines, got: %r" % b)
    print("\x1f".join([b[0].split(":")[0], b[1], b[2], b[3]]))
PY
)

saved=""
restore() { [ -n "$saved" ] && cp "$saved" "$saved_for" && rm -f "$saved"; saved=""; }
trap restore EXIT

total=0 caught=0 failed=()
while IFS=$'\x1f' read -r name file find replace; do
    [ -n "$name" ] || continue
    if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -qx "$name"; then continue; fi
    total=$((total + 1))
    saved=$(mktemp) saved_for=$file
    cp "$file" "$saved"
    if ! python3 - "$file" "$find" "$replace" <<'PY'
import sys
path, find, repl = sys.argv[1], sys.argv[2].replace("\\n", "\n"), sys.argv[3].replace("\\n", "\n")
text = open(path, encoding="utf-8").read()
if text.count(find) != 1:
    sys.exit("found %d times" % text.count(find))
open(path, "w", encoding="utf-8").write(text.replace(find, repl))
PY
    then
        echo "mutant $name: does not apply to $file (update scripts/mutants.txt)"
        failed+=("$name (does not apply)")
        restore
        continue
    fi
    if ! cmake --build "$build" -j"$(nproc)" --target zr_unit_tests >"$build/mutant.log" 2>&1; then
        echo "mutant $name: does not build"
        tail -5 "$build/mutant.log"
        failed+=("$name (does not build)")
    elif timeout 300 "$build/tests/zr_unit_tests" --gtest_brief=1 >"$build/mutant-run.log" 2>&1; then
        echo "mutant $name: SURVIVED"
        failed+=("$name (survived)")
    else
        failing=$(grep -c '^\[  FAILED  \] [A-Za-z]' "$build/mutant-run.log" || true)
        echo "mutant $name: caught ($failing failing tests)"
        caught=$((caught + 1))
    fi
    restore
done <<<"$mutants"
trap - EXIT
# Back to the code as it is, so that the build directory can be used again.
cmake --build "$build" -j"$(nproc)" --target zr_unit_tests >/dev/null

echo "$caught of $total caught ($(( $(date +%s) - start )) s)"
if [ ${#failed[@]} -gt 0 ]; then
    printf 'not caught: %s\n' "${failed[@]}"
    exit 1
fi
