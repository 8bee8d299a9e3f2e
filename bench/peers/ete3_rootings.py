#!/usr/bin/python3
# ete3_rootings.py [--first] FILE: the same job as `quorlen --support FILE`
# done with ete3 (Debian's python3-ete3), to compare speed: every tree of the
# file rooted in the middle of each of its branches with set_outgroup,
# internal labels read as support values, one tree a line on standard output
# (ete3's format 0). With --first, only the rooting on the branch above the
# first leaf (quorlen --support FILE | head -n 1).
#
# Each rooting starts from the one before, and set_outgroup(node) roots on
# the branch between the node and its parent at that time. In pre-order a
# node comes before everything below it, so its parent then is still its
# parent as read (in post-order, a node taken right after its child would be
# rooted on the child's branch again).
import sys

import deep_stack

from ete3 import Tree


def main():
    first = sys.argv[1] == "--first"
    with open(sys.argv[-1]) as f:
        text = f.read()
    out = sys.stdout
    for line in text.split(";"):
        if not line.strip():
            continue
        tree = Tree(line + ";", format=0)
        if first:
            tree.set_outgroup(next(tree.iter_leaves()))
            out.write(tree.write(format=0))
            out.write("\n")
            continue
        root = tree.get_tree_root()
        nodes = [n for n in tree.traverse("preorder") if n is not root]
        # A root of two children stands on one branch: skip its second child.
        if len(root.children) == 2:
            nodes.remove(root.children[1])
        for node in nodes:
            tree.set_outgroup(node)
            tree = node.get_tree_root()
            out.write(tree.write(format=0))
            out.write("\n")
    out.flush()


if __name__ == "__main__":
    if len(sys.argv) != 2 + (sys.argv[1:2] == ["--first"]):
        sys.exit("usage: ete3_rootings.py [--first] FILE")
    deep_stack.run(main)
