#!/usr/bin/python3
# ete3_outgroup.py FILE NAMES: every tree of FILE (Newick, one a line,
# internal labels read as support values) rooted with ete3's set_outgroup on
# the leaves NAMES (comma-separated) that the tree has: a single leaf's own
# branch, or for several the branch above their common ancestor (taken where
# the tree is rooted outside them, so that the ancestor is not the root).
# Writes each tree with lengths and supports (ete3's format 0), one a line.
# A tree with none of the names is written unrooted-as-read; how many trees
# had none, or had names that are not a clade, goes to standard error.
# Needs Debian's python3-ete3.
import sys

import deep_stack

from ete3 import Tree


def main():
    path, names = sys.argv[1], [n for n in sys.argv[2].split(",") if n]
    wanted = set(names)
    out = sys.stdout
    missing = not_clade = 0
    with open(path) as f:
        for line in f:
            if not line.strip():
                continue
            tree = Tree(line.strip(), format=0)
            leaves = {leaf.name: leaf for leaf in tree.iter_leaves() if leaf.name in wanted}
            present = [leaves[n] for n in names if n in leaves]
            if not present:
                missing += 1
            elif len(present) == 1:
                tree.set_outgroup(present[0])
            else:
                ancestor = tree.get_common_ancestor(present)
                if ancestor is tree:
                    # The names lie on both sides of the root: root first
                    # on a leaf outside them.
                    other = next((leaf for leaf in tree.iter_leaves() if leaf.name not in wanted), None)
                    if other is not None:
                        tree.set_outgroup(other)
                        ancestor = tree.get_common_ancestor(present)
                if ancestor is not tree:
                    if len(ancestor) != len(present):
                        not_clade += 1
                    tree.set_outgroup(ancestor)
            out.write(tree.write(format=0))
            out.write("\n")
    out.flush()
    if missing or not_clade:
        print(f"ete3_outgroup: {missing} trees without the names, {not_clade} where they are not a clade",
              file=sys.stderr)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: ete3_outgroup.py FILE NAMES")
    deep_stack.run(main)
