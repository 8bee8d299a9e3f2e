#!/usr/bin/env bash
# valgrind memcheck of the program on the sample tree and on a random tree of
# 10,000 leaves: any error or any block not freed fails. The program must be
# linked dynamically, for valgrind to see its allocations.
# Usage: memcheck.sh BUILD-DIR (with quorlen and treegen built in it).
set -euo pipefail
build=$1
src=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/treegen" random 10000 1 >"$work/random-10000.nwk"
for tree in "$src/examples/sample.nwk" "$work/random-10000.nwk"; do
    valgrind -q --error-exitcode=1 --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all \
        "$build/quorlen" "$tree" >/dev/null
    echo "memcheck: no errors, no leaks: $(basename "$tree")"
done
