#!/usr/bin/python3
# same_clock.py SUMMARY TREE PEER-TREE RATE ROOT-DATE R2: compares a root
# from a root-to-tip regression with quorlen's. SUMMARY is quorlen's
# --summary table and TREE its rooted tree (the first of each is used);
# PEER-TREE is the peer's rooted tree of the same leaves, and RATE, ROOT-DATE
# and R2 its figures. Prints four fields, tab-separated:
#   the root: "same" where both stand on the same point of the tree, else
#             both described
#   rate, root date, R²: "agree (VALUE)" where the two values agree to 6
#             significant digits (rounded to 6 they are equal, or they
#             differ by less than 5e-7 of quorlen's, across a rounding),
#             VALUE quorlen's to 6; else "QUORLEN's against PEER's
#             (relative difference)", both in full
# A root stands on a branch, which parts the leaves in two (its two halves
# both longer than 0), or on a node (three or more children, or a half of
# length 0), known by the branches that meet there; a branch by the leaves
# of its smaller side.
#
# same_clock.py --split TREE prints where TREE's root stands, as above.
# The trees are read without recursion; names are compared as written.
import math
import re
import sys

TOKEN = re.compile(r"'(?:[^']|'')*'|\[[^\]]*\]|[(),:;]|[^(),:;'\[\]\s]+|\s+")


class Tree:
    def __init__(self):
        self.children = [[]]
        self.names = [None]
        self.lengths = [None]
        self.parent = [-1]

    def add(self, parent):
        self.children.append([])
        self.names.append(None)
        self.lengths.append(None)
        self.parent.append(parent)
        self.children[parent].append(len(self.parent) - 1)
        return len(self.parent) - 1

    def leaves_under(self, x):
        found, stack = [], [x]
        while stack:
            y = stack.pop()
            if self.children[y]:
                stack.extend(self.children[y])
            else:
                found.append(self.names[y])
        return found


def read_tree(path):
    """The first tree of the Newick file at PATH, node 0 its root."""
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        text = f.read()
    tree = Tree()
    current = None   # the node whose name or length may come next
    open_node = -1   # the node whose children are being read
    want_length = False
    for token in TOKEN.findall(text):
        if token.isspace() or token.startswith("["):
            continue
        if token in ",):" and current is None and open_node >= 0:
            current = tree.add(open_node)  # a leaf with no name
        if token == "(":
            open_node = 0 if open_node < 0 else tree.add(open_node)
            current = None
        elif token == ",":
            current = None
        elif token == ")":
            if open_node < 0:
                raise ValueError(f"{path}: ')' with no '('")
            current = open_node
            open_node = tree.parent[open_node]
        elif token == ":":
            want_length = True
        elif token == ";":
            break
        elif want_length:
            tree.lengths[current] = float(token)
            want_length = False
        else:
            if current is None:
                current = tree.add(open_node)
            tree.names[current] = token[1:-1].replace("''", "'") if token.startswith("'") else token
    if open_node != -1 or current != 0 or not tree.children[0]:
        raise ValueError(f"{path}: not one whole tree")
    return tree


def root_point(tree):
    """Where the root stands: ("branch", SIDE) or ("node", {SIDE, ...}),
    each SIDE the frozenset of the leaves on a branch's smaller side (of two
    the same size, the side without the first name)."""
    leaves = frozenset(tree.leaves_under(0))
    first = min(leaves)

    def side(x):
        under = frozenset(tree.leaves_under(x))
        other = len(leaves) - len(under)
        if len(under) < other or (len(under) == other and first not in under):
            return under
        return leaves - under

    children = tree.children[0]
    if len(children) == 2 and all((tree.lengths[c] or 0) > 0 for c in children):
        return ("branch", side(children[0]))
    if len(children) == 2:
        # A half of length 0: the root stands on that child, where its
        # branch (the two halves as one) and its children's meet.
        node = next(c for c in children if not (tree.lengths[c] or 0) > 0)
        return ("node", frozenset([side(node)] + [side(c) for c in tree.children[node]]))
    return ("node", frozenset(side(c) for c in children))


def described(point):
    def names(s):
        shown = sorted(s, key=lambda n: (len(n), n))
        text = ",".join(shown[:4]) + (",..." if len(shown) > 4 else "")
        return f"{len(s)} " + ("leaf" if len(s) == 1 else "leaves") + f" ({text})"

    kind, where = point
    if kind == "branch":
        return "branch of " + names(where)
    sides = sorted(where, key=len)
    return "node of the branches of " + "; ".join(names(s) for s in sides)


def agreement(ours, theirs):
    difference = abs(ours - theirs) / abs(ours) if ours else (0.0 if ours == theirs else math.inf)
    if f"{ours:.6g}" == f"{theirs:.6g}" or difference < 5e-7:
        return f"agree ({ours:.6g})"
    return f"{ours!r} against {theirs!r} ({difference:.1e})"


def summary_row(path):
    with open(path, encoding="utf-8") as f:
        header = f.readline().rstrip("\n").split("\t")
        row = f.readline().rstrip("\n").split("\t")
    return dict(zip(header, row))


def main(argv):
    if len(argv) == 2 and argv[0] == "--split":
        print(described(root_point(read_tree(argv[1]))))
        return 0
    if len(argv) != 6:
        sys.stderr.write("usage: same_clock.py SUMMARY TREE PEER-TREE RATE ROOT-DATE R2\n"
                         "       same_clock.py --split TREE\n")
        return 2
    summary, ours_file, theirs_file = argv[:3]
    row = summary_row(summary)
    ours, theirs = root_point(read_tree(ours_file)), root_point(read_tree(theirs_file))
    if ours == theirs:
        fields = ["same"]
    else:
        fields = [f"quorlen: {described(ours)}; the peer: {described(theirs)}"]
    for key, value in zip(("rate", "root_date", "r2"), argv[3:]):
        fields.append(agreement(float(row[key]), float(value)))
    print("\t".join(fields))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
