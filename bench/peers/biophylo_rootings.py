#!/usr/bin/python3
# biophylo_rootings.py [--first] FILE: the job of `quorlen --support FILE`
# done with Biopython's Bio.Phylo (Debian's python3-biopython), to compare
# speed and results: every tree of FILE rooted in the middle of each of its
# branches with root_with_outgroup, the outgroup's branch given half its
# length, one tree a line on standard output, as Bio.Phylo writes Newick.
# With --first, only the rooting on the branch above the first leaf
# (quorlen --support FILE | head -n 1).
#
# Bio.Phylo reads numeric internal labels as confidences, which stay with
# their clades when the tree is rerooted.
#
# Each rooting starts from the one before, and root_with_outgroup(clade)
# roots on the branch between the clade and its parent at that time; taken
# in pre-order, a clade's parent is then still its parent as read. A root of
# two children stands on one branch: its second child is left out.
import sys

import deep_stack

from Bio import Phylo


def root_above(tree, clade):
    tree.root_with_outgroup(clade, outgroup_branch_length=(clade.branch_length or 0.0) / 2)


def main():
    first = sys.argv[1] == "--first"
    out = sys.stdout
    for tree in Phylo.parse(sys.argv[-1], "newick"):
        if first:
            root_above(tree, next(tree.find_clades(terminal=True)))
            Phylo.write(tree, out, "newick")
            continue
        root = tree.root
        clades = [c for c in tree.find_clades(order="preorder") if c is not root]
        if len(root.clades) == 2:
            clades.remove(root.clades[1])
        for clade in clades:
            root_above(tree, clade)
            Phylo.write(tree, out, "newick")
    out.flush()


if __name__ == "__main__":
    if len(sys.argv) != 2 + (sys.argv[1:2] == ["--first"]):
        sys.exit("usage: biophylo_rootings.py [--first] FILE")
    deep_stack.run(main)
