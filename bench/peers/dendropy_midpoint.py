#!/usr/bin/python3
# dendropy_midpoint.py FILE: every tree of FILE (Newick, one a line) rooted
# with DendroPy's reroot_at_midpoint. Internal labels are read and written as
# node labels, so a support value stays with its node, not with its branch.
# Lengths are written as DendroPy writes floats. One tree a line.
# Needs Debian's python3-dendropy.
import sys

import deep_stack

import dendropy


def main():
    out = sys.stdout
    trees = dendropy.Tree.yield_from_files(files=[sys.argv[1]], schema="newick",
                                           rooting="force-rooted", preserve_underscores=True)
    for tree in trees:
        tree.reroot_at_midpoint(update_bipartitions=False)
        out.write(tree.as_string(schema="newick", suppress_rooting=True).rstrip("\n"))
        out.write("\n")
    out.flush()


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: dendropy_midpoint.py FILE")
    deep_stack.run(main)
