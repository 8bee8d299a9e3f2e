#!/usr/bin/python3
# ete3_midpoint.py FILE: every tree of FILE (Newick, one a line, internal
# labels read as support values) rooted with ete3's get_midpoint_outgroup and
# set_outgroup: ete3 puts the root in the middle of the branch that holds the
# midpoint of the longest leaf-to-leaf path, not at the midpoint itself.
# Writes each tree with lengths and supports (ete3's format 0), one a line.
# Needs Debian's python3-ete3.
import sys

import deep_stack

from ete3 import Tree


def main():
    out = sys.stdout
    with open(sys.argv[1]) as f:
        for line in f:
            if not line.strip():
                continue
            tree = Tree(line.strip(), format=0)
            outgroup = tree.get_midpoint_outgroup()
            if outgroup is not None and outgroup is not tree:
                tree.set_outgroup(outgroup)
            out.write(tree.write(format=0))
            out.write("\n")
    out.flush()


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: ete3_midpoint.py FILE")
    deep_stack.run(main)
