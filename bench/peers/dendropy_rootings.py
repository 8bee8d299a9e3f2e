#!/usr/bin/python3
# dendropy_rootings.py [--first] FILE: the job of `quorlen --support FILE`
# done with DendroPy (Debian's python3-dendropy), to compare speed and
# results: every tree of FILE rooted in the middle of each of its branches
# with reroot_at_edge, one tree a line on standard output. With --first,
# only the rooting on the branch above the first leaf (quorlen --support
# FILE | head -n 1).
#
# Each tree is read as unrooted, and a root of two children is made one of
# three with collapse_basal_bifurcation, so that its two branches are one.
# DendroPy keeps internal labels as node labels: rerooting swaps the lengths
# along the reversed path but leaves each label on its node, so a support
# does not move with its branch; DendroPy has nothing that would move it.
# Lengths are written as DendroPy writes floats.
#
# Each rooting starts from the one before, and reroot_at_edge(node.edge)
# roots on the branch between the node and its parent at that time; taken in
# pre-order, a node's parent is then still its parent as read.
import sys

import deep_stack

import dendropy


def half(length):
    return None if length is None else length / 2


def main():
    first = sys.argv[1] == "--first"
    out = sys.stdout
    trees = dendropy.Tree.yield_from_files(files=[sys.argv[-1]], schema="newick",
                                           rooting="force-unrooted", preserve_underscores=True)
    for tree in trees:
        tree.collapse_basal_bifurcation()
        if first:
            nodes = [next(tree.leaf_node_iter())]
        else:
            nodes = [n for n in tree.preorder_node_iter() if n is not tree.seed_node]
        for node in nodes:
            length = half(node.edge.length)
            tree.reroot_at_edge(node.edge, length1=length, length2=length)
            out.write(tree.as_string(schema="newick", suppress_rooting=True).rstrip("\n"))
            out.write("\n")
    out.flush()


if __name__ == "__main__":
    if len(sys.argv) != 2 + (sys.argv[1:2] == ["--first"]):
        sys.exit("usage: dendropy_rootings.py [--first] FILE")
    deep_stack.run(main)
