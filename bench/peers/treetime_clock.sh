#!/bin/bash
# treetime_clock.sh TREE DATES OUTDIR [LIMIT]: times TreeTime's root-to-tip
# regression on TREE with the dates of DATES (a CSV `name,date`),
#   treetime clock --tree TREE --dates DATES --reroot least-squares
#       --clock-filter 0 --sequence-length 1000 --outdir OUTDIR
# by treetime_clock.py, once, by GNU time, stopped past LIMIT seconds (1200
# by default), in at most PEER_MEMORY_KB KB of address space (12 GB by
# default). Not under nice, unlike the other peers: its time is set beside
# quorlen's as a ratio. Prints one line, tab-separated:
#   seconds  peak_kb  rate  root_date  r2  where-the-root-stands
# the figures in full (treetime_clock.py), where the root stands as
# same_clock.py --split says it of OUTDIR/rerooted.newick. Stopped, it
# prints ">LIMIT s" and "-" for the rest, "stopped" last; failed, "failed
# (STATUS)" and TreeTime's last message. Its output stays in OUTDIR:
# treetime.log (its messages), rerooted.newick, rtt.csv,
# root_to_tip_regression.pdf, and figures (the line of treetime_clock.py).
# Needs: apt-get install -y python3-treetime time
if [ $# -lt 3 ] || [ $# -gt 4 ]; then
    echo "usage: treetime_clock.sh TREE DATES OUTDIR [LIMIT]" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd -P)
tree=$1 dates=$2 outdir=$3 limit=${4:-1200}
memory=${PEER_MEMORY_KB:-12000000}
mkdir -p "$outdir" || exit 1
rm -f "$outdir/rerooted.newick" "$outdir/figures"
times=$(mktemp) || exit 1
(
    ulimit -v "$memory"
    exec /usr/bin/time -f '%e %M' -o "$times" timeout -k 5 "$limit" \
        /usr/bin/python3 "$here/treetime_clock.py" "$tree" "$dates" "$outdir" >"$outdir/figures" 2>"$outdir/errors"
)
status=$?
read -r seconds kb < <(tail -n 1 "$times")
rm -f "$times"
if [ "$status" = 124 ] || [ "$status" = 137 ]; then
    printf '>%s s\t-\t-\t-\t-\tstopped\n' "$limit"
elif [ "$status" != 0 ] || [ ! -s "$outdir/rerooted.newick" ]; then
    printf 'failed (%s)\t%s\t-\t-\t-\t%s\n' "$status" "${kb:--}" "$(tail -n 1 "$outdir/errors" | cut -c 1-200)"
else
    read -r rate root_date r2 _ <"$outdir/figures"
    printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$seconds" "$kb" "$rate" "$root_date" "$r2" \
        "$(/usr/bin/python3 "$here/same_clock.py" --split "$outdir/rerooted.newick")"
fi
