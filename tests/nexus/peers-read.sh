#!/usr/bin/env bash
# peers-read.sh QUORLEN: other programs read what quorlen writes from NEXUS input.
# Writes a small BEAST-like tree file (TRANSLATE table with numeric keys, a
# quoted name with a blank, a name with '-', comments on leaves, on inner
# nodes, after ':', between a tree's name and '=', [&R] and [&U]), runs
# quorlen --standard and --midpoint on it, each with NEXUS and with --newick
# output, and checks that every peer finds in each output the number of trees
# quorlen must write (--standard: one a branch, 9 for each tree of 6 leaves;
# --midpoint: one a tree) and, in every tree, the 6 names of the TRANSLATE
# table (compared without quotes, '_' as a blank, as NEXUS reads them):
#   R ape: read.nexus / read.tree;  DendroPy: TreeList.get(schema=nexus|newick);
#   ete3: Tree(line, format=1) for each Newick line (ete3 reads no comments but
#   NHX ones: they are taken out first);  FigTree: draws the first tree of each
#   output as SVG under xvfb-run, whose labels must be the 6 names (its Newick
#   reader takes no comment: it reads the Newick output of a copy without).
# A peer that is not installed is skipped, and said so. Exits 1 on a failure.
# Needs: bash, perl; peers from Debian: r-cran-ape, python3-dendropy,
# python3-ete3, figtree and xvfb.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 QUORLEN" >&2; exit 2; }
q=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
py=/usr/bin/python3; [ -x $py ] || py=python3   # Debian's, where its modules are

cat >in.nex <<'EOF'
#NEXUS
[a tree log as BEAST writes them]
begin taxa;
  dimensions ntax=6;
  taxlabels Homo_sapiens 'Pan paniscus' Gorilla_gorilla 'Pongo abelii' Hylobates_lar Macaca-mulatta;
end;
begin trees;
  translate
    1 Homo_sapiens,
    2 'Pan paniscus',
    3 Gorilla_gorilla,
    4 'Pongo abelii',
    5 Hylobates_lar,
    6 Macaca-mulatta
    ;
  tree STATE_0 [&lnP=-3521.5,posterior=-3498.25] = [&R] (((((1[&rate=1.0]:1.5,2[&rate=0.9]:1.5)[&rate=1.1,posterior=1.0]:0.5,3:[&rate=0.95]2.0)[&posterior=0.98]:1.0,4:3.0)[&rate=1.0]:0.5,5:[&rate=1.2]3.5):1.0,6:4.5)[&rate=1.0];
  tree STATE_1000 [&lnP=-3510.2] = [&U] (1:1.2,(2[&rate=0.8]:0.8,3:0.8):[&rate=1.1]0.4,(4:2.5,(5:1.0,6:1.5):0.3):0.7);
end;
EOF
# FigTree reads no comment in Newick (it takes them into the labels, or
# fails); it does in NEXUS: its Newick outputs are made from a copy without.
perl -pe 's/\[[^]]*\]//g if /^\s*tree /' in.nex >fig.nex
printf '%s\n' 'Homo sapiens' 'Pan paniscus' 'Gorilla gorilla' 'Pongo abelii' 'Hylobates lar' 'Macaca-mulatta' >names

# output  input  schema  trees  quorlen's options
table='std.nex in.nex nexus 18 --standard
std.nwk in.nex newick 18 --standard --newick
mid.nex in.nex nexus 2 --midpoint
mid.nwk in.nex newick 2 --midpoint --newick
fig-std.nwk fig.nex newick 18 --standard --newick
fig-mid.nwk fig.nex newick 2 --midpoint --newick'
export TABLE=$table

# Each check prints 'pass ...' or 'FAIL ...', kept in peers.log too.
peer_lines() { tee -a peers.log; }
: >peers.log
while read -r out input _ _ opts; do
    # shellcheck disable=SC2086
    if timeout 60 "$q" $opts "$input" </dev/null >"$out" 2>err; then
        echo "pass quorlen $opts $input: status 0, $(grep -c . "$out") lines"
    else
        echo "FAIL quorlen $opts $input: status $?: $(head -c 200 err)"
    fi | peer_lines
done <<<"$table"

if Rscript -e 'library(ape)' >/dev/null 2>&1; then
    Rscript - <<'EOF' 2>&1 | peer_lines || echo "FAIL ape: R stopped" | peer_lines
suppressMessages(library(ape)); options(warn = -1)
want <- sort(readLines("names"))
norm <- function(x) sort(gsub("_", " ", gsub("^'|'$", "", x)))
for (row in strsplit(readLines(textConnection(Sys.getenv("TABLE"))), " ")) {
    f <- row[1]; schema <- row[3]; n <- as.integer(row[4])
    if (row[2] != "in.nex") next
    how <- if (schema == "nexus") "read.nexus" else "read.tree"
    res <- tryCatch({
        t <- if (schema == "nexus") read.nexus(f) else read.tree(f)
        if (inherits(t, "phylo")) t <- list(t)
        bad <- Filter(function(x) !identical(norm(x$tip.label), want), t)
        if (length(t) != n) sprintf("FAIL %d trees, %d expected", length(t), n)
        else if (length(bad) > 0) sprintf("FAIL names %s", paste(norm(bad[[1]]$tip.label), collapse = ","))
        else sprintf("pass %d trees, their names", n)
    }, error = function(e) paste("FAIL", conditionMessage(e)))
    cat(sub("^(pass|FAIL) ", sprintf("\\1 ape %s %s: ", how, f), res), "\n", sep = "")
}
EOF
else
    echo "R's ape not installed (r-cran-ape): skipped"
fi

if $py -c 'import dendropy' 2>/dev/null; then
    $py - <<'EOF' 2>&1 | peer_lines || echo "FAIL DendroPy: Python stopped" | peer_lines
import os, re, dendropy
want = sorted(open("names").read().split("\n")[:-1])
norm = lambda names: sorted(re.sub(r"^'|'$", "", x).replace("_", " ") for x in names)
for row in os.environ["TABLE"].split("\n"):
    f, inp, schema, n = row.split()[:4]
    if inp != "in.nex": continue
    try:
        tl = dendropy.TreeList.get(path=f, schema=schema, preserve_underscores=True)
        bad = [t for t in tl if norm(l.taxon.label for l in t.leaf_node_iter()) != want]
        if len(tl) != int(n): res = "FAIL %d trees, %s expected" % (len(tl), n)
        elif bad: res = "FAIL names %s" % norm(l.taxon.label for l in bad[0].leaf_node_iter())
        else: res = "pass %s trees, their names" % n
    except Exception as e:
        res = "FAIL %s" % str(e)[:200]
    print(res[:4], "DendroPy", schema, f + ":", res[5:])
EOF
else
    echo "DendroPy not installed (python3-dendropy): skipped"
fi

if $py -c 'import ete3' 2>/dev/null; then
    $py - <<'EOF' 2>&1 | peer_lines || echo "FAIL ete3: Python stopped" | peer_lines
import os, re
from ete3 import Tree
want = sorted(open("names").read().split("\n")[:-1])
norm = lambda names: sorted(re.sub(r"^'|'$", "", x).replace("_", " ") for x in names)
uncomment = lambda s: re.sub(r"('(?:[^']|'')*')|\[[^\]]*\]", lambda m: m.group(1) or "", s)
for row in os.environ["TABLE"].split("\n"):
    f, inp, schema, n = row.split()[:4]
    if inp != "in.nex" or schema != "newick": continue
    try:
        lines = [l.strip() for l in open(f) if l.strip()]
        bad = [t for t in (Tree(uncomment(l), format=1, quoted_node_names=True) for l in lines)
               if norm(t.get_leaf_names()) != want]
        if len(lines) != int(n): res = "FAIL %d trees, %s expected" % (len(lines), n)
        elif bad: res = "FAIL names %s" % norm(bad[0].get_leaf_names())
        else: res = "pass %s trees, their names" % n
    except Exception as e:
        res = "FAIL %s" % str(e)[:200]
    print(res[:4], "ete3 Tree(line, format=1)", f + ":", res[5:])
EOF
else
    echo "ete3 not installed (python3-ete3): skipped"
fi

if command -v figtree >/dev/null && command -v xvfb-run >/dev/null; then
    while read -r out input schema _; do
        [ "$schema" = nexus ] || [ "$input" = fig.nex ] || continue
        if ! timeout 120 xvfb-run -a figtree -graphic SVG "$out" "$out.svg" </dev/null >figtree.log 2>&1; then
            echo "FAIL FigTree $out: $(grep -m1 -i -E 'exception|error' figtree.log)" | peer_lines
            continue
        fi
        # the labels drawn: the leaves' names, and numbers (the scale bar)
        perl -0777 -ne 'for (/>([^<]*)<\/text/g) { s/&amp;/&/g; s/&lt;/</g; s/&gt;/>/g; s/&apos;/\x27/g;
                        s/^\x27|\x27$//g; tr/_/ /; print "$_\n" unless /^[-0-9.eE]+$/ }' "$out.svg" | sort >drawn
        if sort names | cmp -s - drawn; then
            echo "pass FigTree -graphic SVG $out: its first tree drawn, with the names" | peer_lines
        else
            echo "FAIL FigTree -graphic SVG $out: labels drawn: '$(paste -sd, drawn)', not the 6 names" | peer_lines
        fi
    done <<<"$table"
else
    echo "FigTree or xvfb-run not installed (figtree, xvfb): skipped"
fi

echo "$(grep -c '^pass' peers.log || true) passed, $(grep -c '^FAIL' peers.log || true) failed"
! grep -q '^FAIL' peers.log
