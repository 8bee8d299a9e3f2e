#!/usr/bin/env bash
# valgrind memcheck of the program on the sample tree and on a random tree of
# 10,000 leaves, in both modes, and in the standard mode on a tree with
# lengths and supports, on several trees and on a malformed one, and every
# way of choosing a root on a tree with lengths (minimal ancestor deviation
# on two threads) and on several trees; and on NEXUS files, a good one and a
# bad one, written as NEXUS and as Newick: any error or
# any block not freed fails. The program must be linked dynamically, for
# valgrind to see its allocations.
# Usage: memcheck.sh BUILD-DIR (with quorlen and treegen built in it).
set -euo pipefail
build=$1
src=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/treegen" random 10000 1 >"$work/random-10000.nwk"
"$build/treegen" --lengths random 1000 2 >"$work/lengths-1000.nwk"
printf '(A:1,(B,C)90:2);\n[&R] (D,E,(F,G));\n' >"$work/several.nwk"
printf '(A,B);\n(C,(D' >"$work/malformed.nwk"
printf '#NEXUS\nbegin taxa; end;\nbegin trees; translate 1 A, 2 %s, 3 C;\ntree t [&x] = [&R] ((1:1,2[&c]:2):1,3:[&r]1);\nend;\n' "'B b'" >"$work/good.nex"
printf '#NEXUS\nbegin trees; translate 1 A, 2 B;\ntree t = (1,2);\ntranslate 1 A, 1 B;\n' >"$work/bad.nex"
memcheck() {
    local status=0
    valgrind -q --error-exitcode=1 --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all \
        "$build/quorlen" "$@" >/dev/null || status=$?
    # 255 is the program's own error, expected of a malformed input.
    [ "$status" = 0 ] || [ "$status" = 255 ] || exit 1
    echo "memcheck: no errors, no leaks: $*"
}
for tree in "$src/examples/sample.nwk" "$work/random-10000.nwk"; do
    memcheck "$tree"
    memcheck --standard "$tree"
done
memcheck --support "$work/lengths-1000.nwk"
memcheck --standard "$work/several.nwk"
memcheck --standard "$work/malformed.nwk" 2>/dev/null
for how in "--outgroup L0" --midpoint --minvar "--minvar --scores" --mad "--mad --scores"; do
    memcheck --support $how "$work/lengths-1000.nwk"
done
memcheck --midpoint "$work/several.nwk" 2>/dev/null
for nexus in "$work/good.nex" "$work/bad.nex"; do
    memcheck --support "$nexus" 2>/dev/null
    memcheck --standard --newick "$nexus" 2>/dev/null
    memcheck --outgroup 'B b' "$nexus" 2>/dev/null
done
# The clock, with its reports, from a table (read on a thread of its own)
# and from names; and a bad table.
"$build/treegen" --lengths --dates "$work/dates.csv" random 1000 3 >"$work/dated.nwk"
memcheck --clock --dates "$work/dates.csv" --scores --tips "$work/tips.tsv" --summary "$work/summary.tsv" \
    --plot "$work/plot.svg" "$work/dated.nwk"
memcheck --clock=r2 --dates-from-names "$src/examples/flu.nwk"
printf 'name,date\nA,soon\n' >"$work/bad.csv"
memcheck --clock --dates "$work/bad.csv" "$work/dated.nwk" 2>/dev/null
