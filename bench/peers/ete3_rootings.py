#!/usr/bin/python3
# The same job as `quorlen --support FILE` done with ete3 (Debian's
# python3-ete3), to compare speed: every tree of the file rooted in the
# middle of each of its branches, internal labels read as support values,
# one tree a line on standard output.
import sys

from ete3 import Tree

with open(sys.argv[1]) as f:
    text = f.read()
out = sys.stdout
for line in text.split(";"):
    if not line.strip():
        continue
    tree = Tree(line + ";", format=0)
    root = tree.get_tree_root()
    nodes = [n for n in tree.traverse("postorder") if n is not root]
    # A root of two children stands on one branch: skip its second child.
    if len(root.children) == 2:
        nodes.remove(root.children[1])
    for node in nodes:
        tree.set_outgroup(node)
        tree = node.get_tree_root()
        out.write(tree.write(format=0))
        out.write("\n")
