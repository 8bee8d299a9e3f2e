#!/usr/bin/env bash
# mrbayes-run.sh OUTDIR: real MrBayes tree files for quorlen's NEXUS reader.
# Makes up a DNA matrix of 8 taxa and 100 sites (same one every run: its own
# random generator, fixed seed), evolved along ((1,2),(3,4)),((5,6),(7,8)) so
# that the runs find a shape; runs MrBayes (`mb`, Debian package mrbayes) in
# batch mode for 2000 generations, one run of 2 chains, fixed seeds; leaves in
# OUTDIR the sampled trees (.t), the consensus (.con.tre) and the credible set
# (.trprobs), and prints their paths, one a line. Under 10 s on one core.
# The names hold '_', '.' and '-': MrBayes refuses quoted names, and writes
# '-' (punctuation in NEXUS) unquoted in its TRANSLATE tables all the same.
# Needs: bash, mrbayes.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 OUTDIR" >&2; exit 2; }
command -v mb >/dev/null || { echo "$0: mb (MrBayes) not installed" >&2; exit 3; }
mkdir -p "$1"
cd "$1"

seed=20240611
rand() { seed=$(( (seed * 1103515245 + 12345) % 2147483648 )); r=$(( seed / 65536 % $1 )); }
bases=ACGT
# mutate SEQ K: SEQ with K sites drawn at random set to a random base, in $out
mutate() {
    out=$1
    local k
    for ((k = 0; k < $2; k++)); do
        rand 100; local i=$r
        rand 4
        out=${out:0:i}${bases:r:1}${out:i+1}
    done
}
root=
for ((i = 0; i < 100; i++)); do rand 4; root+=${bases:r:1}; done
mutate "$root" 10; a=$out
mutate "$root" 10; b=$out
mutate "$a" 6; a1=$out
mutate "$a" 6; a2=$out
mutate "$b" 6; b1=$out
mutate "$b" 6; b2=$out
names=(Homo_sapiens Pan_troglodytes Gorilla-gorilla Pongo.abelii
       Macaca_mulatta Papio_anubis Mus_musculus Rattus_norvegicus)
parents=("$a1" "$a1" "$a2" "$a2" "$b1" "$b1" "$b2" "$b2")

{
    printf '#NEXUS\n[made up by mrbayes-run.sh]\nbegin data;\n'
    printf '  dimensions ntax=8 nchar=100;\n  format datatype=dna missing=? gap=-;\n  matrix\n'
    for i in "${!names[@]}"; do
        mutate "${parents[i]}" 3
        printf '    %-20s %s\n' "${names[i]}" "$out"
    done
    printf '  ;\nend;\n'
    printf 'begin mrbayes;\n'
    printf '  set autoclose=yes nowarn=yes seed=12345 swapseed=12345;\n'
    printf '  lset nst=2 rates=equal;\n'
    printf '  mcmcp ngen=2000 samplefreq=100 printfreq=1000 diagnfreq=1000 nruns=1 nchains=2 filename=mb;\n'
    printf '  mcmc;\n  sumt;\nend;\n'
} > mb-data.nex

rm -f mb.t mb.con.tre mb.trprobs
if ! timeout 60 mb mb-data.nex > mb.log 2>&1; then
    echo "$0: mb failed, see $PWD/mb.log:" >&2
    grep -i -m 5 error mb.log >&2 || true
    exit 1
fi
for f in mb.t mb.con.tre mb.trprobs; do
    [ -s "$f" ] || { echo "$0: mb wrote no $f (see $PWD/mb.log)" >&2; exit 1; }
    echo "$PWD/$f"
done
