#!/usr/bin/python3
# same_root.py A B [INPUT]: A and B are files of rooted Newick trees, the same
# trees in the same order with the same leaf names, rooted by two programs.
# Prints one line saying, over all pairs of trees:
#   - on how many the roots stand on the same split of the leaves (a root of
#     two children splits the leaves under its first child from the rest; a
#     root of 3+ children stands on a node, and is the same when the splits of
#     its children are: such roots are counted apart);
#   - how many support values moved: for every branch, the split it stands for
#     and the label of its lower node read as a support value (a leaf's label
#     is its name, so a leaf's branch has none); the two halves of a root
#     branch are one branch whose supports are those of both halves. Labels
#     that differ on the root branch of A or B are counted apart, and so are,
#     given the INPUT the trees came from, those on the branch that INPUT's
#     root stood on when the two halves there had different supports (a
#     program that removes that root keeps one of the two);
#   - the largest difference between the lengths of the two halves of the root
#     branch where the roots agree, and between the lengths of every other
#     branch (the two halves of a root branch counted as one), as exact
#     decimals, so that a rounded length shows.
# The trees are read without recursion, so a tree a million deep is fine.
# Always exits 0: a file that cannot be read is said so on the line.
# same_root.py --check runs it on a few small trees whose answers are known.
import random
import re
import sys
from decimal import Decimal, InvalidOperation
from itertools import zip_longest

TOKEN = re.compile(r"'(?:[^']|'')*'|\[[^\]]*\]|[(),:;]|[^(),:;'\[\]\s]+|\s+")

# Each leaf name gets a random 128-bit key; a set of leaves is keyed by the
# exclusive or of its members' keys, and a split by the smaller of the keys
# of its two sides.
_keys = {}
_random = random.Random(20240611)


def leaf_key(name):
    key = _keys.get(name)
    if key is None:
        key = _keys[name] = _random.getrandbits(128)
    return key


class Tree:
    __slots__ = ("sets", "labels", "lengths", "internal", "root", "root_children", "leaves")

    def __init__(self):
        self.sets = []        # the key of the leaves under each node
        self.labels = []      # each node's label, None if it has none
        self.lengths = []     # each node's length as written, None if none
        self.internal = []    # whether each node has children
        self.root = None
        self.root_children = []
        self.leaves = 0


def unquote(token):
    if token.startswith("'"):
        return token[1:-1].replace("''", "'")
    return token.replace("_", " ")


def read_trees(path):
    """Yields each tree of the file at PATH; raises ValueError where malformed."""
    try:
        yield from _read_trees(path)
    except ValueError as error:
        raise ValueError(f"{path}: {error}") from None


def _read_trees(path):
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        text = f.read()
    tree = Tree()
    stack = []        # open groups: [key so far, [child nodes]]
    current = None    # the node whose label or length may follow
    want_length = False
    closed = False    # the outermost group has closed
    number = 1

    def add(key, is_internal):
        tree.sets.append(key)
        tree.labels.append(None)
        tree.lengths.append(None)
        tree.internal.append(is_internal)
        node = len(tree.sets) - 1
        if stack:
            stack[-1][0] ^= key
            stack[-1][1].append(node)
        return node

    for match in TOKEN.finditer(text):
        token = match.group()
        first = token[0]
        if first.isspace() or first == "[":
            continue
        if want_length:
            if first in "(),:;":
                raise ValueError(f"tree {number}: no length after ':'")
            tree.lengths[current] = token
            want_length = False
            continue
        if first == "(":
            if closed or current is not None:
                raise ValueError(f"tree {number}: unexpected '('")
            stack.append([0, []])
        elif first == ",":
            if not stack:
                raise ValueError(f"tree {number}: ',' outside the tree")
            if current is None:
                current = add(leaf_key(""), False)
                tree.leaves += 1
            current = None
        elif first == ")":
            if not stack:
                raise ValueError(f"tree {number}: unbalanced ')'")
            if current is None:
                current = add(leaf_key(""), False)
                tree.leaves += 1
            key, children = stack.pop()
            current = add(key, True)
            if not stack:
                closed = True
                tree.root = current
                tree.root_children = children
        elif first == ":":
            if current is None:
                current = add(leaf_key(""), False)
                tree.leaves += 1
            want_length = True
        elif first == ";":
            if stack:
                raise ValueError(f"tree {number}: ';' before the tree is closed")
            if tree.root is None:
                if current is None:
                    raise ValueError(f"tree {number}: empty")
                tree.root = current
            yield tree
            tree = Tree()
            current = None
            closed = False
            number += 1
        else:
            name = unquote(token)
            if current is None:
                if closed:
                    raise ValueError(f"tree {number}: unexpected {token!r}")
                current = add(leaf_key(name), False)
                tree.leaves += 1
                tree.labels[current] = name
            elif tree.labels[current] is None and tree.internal[current]:
                tree.labels[current] = name
            else:
                raise ValueError(f"tree {number}: unexpected {token!r}")
    if stack or tree.sets:
        raise ValueError(f"tree {number}: the file ends inside a tree")


def support(label):
    """A label as a support value: numbers compare by value."""
    if label is None or label == "":
        return None
    try:
        return float(label)
    except ValueError:
        return label


def decimal(length):
    if length is None:
        return None
    try:
        return Decimal(length)
    except InvalidOperation:
        return None


def branches(tree):
    """Maps each branch's split to (support, length); returns it, the split of
    a root of two children (None otherwise) and the root's signature."""
    total = tree.sets[tree.root]
    sets, internal, labels, lengths = tree.sets, tree.internal, tree.labels, tree.lengths
    out = {}
    for node in range(len(sets)):
        if node == tree.root:
            continue
        key = sets[node]
        other = key ^ total
        if other < key:
            key = other
        out[key] = (support(labels[node]) if internal[node] else None, lengths[node])
    root_split = None
    children = tree.root_children
    signature = frozenset(min(sets[c], sets[c] ^ total) for c in children)
    if len(children) == 2:
        root_split = next(iter(signature))
        halves = [(support(labels[c]) if internal[c] else None, decimal(lengths[c])) for c in children]
        found = frozenset(s for s, _ in halves if s is not None)
        lengths_of = [d for _, d in halves]
        out[root_split] = (found, sum(lengths_of) if None not in lengths_of else None)
    return out, root_split, signature


def input_root_split(tree):
    """The split of the input's root branch when its two halves carry
    different supports; None otherwise."""
    children = tree.root_children
    if len(children) != 2 or not all(tree.internal[c] for c in children):
        return None
    first, second = (support(tree.labels[c]) for c in children)
    if first == second:
        return None
    total = tree.sets[tree.root]
    return min(tree.sets[children[0]], tree.sets[children[0]] ^ total)


def show(difference):
    """A difference written exactly: positionally from 0.0001 up, with an
    exponent below."""
    difference = difference.normalize()
    if difference == 0:
        return "0"
    return format(difference, "f" if difference >= Decimal("0.0001") else "g")


def as_set(value):
    if isinstance(value, frozenset):
        return value
    return frozenset() if value is None else frozenset([value])


def compare(path_a, path_b, path_input=None):
    pairs = same = 0
    moved = moved_root = moved_input_root = 0
    root_diff = other_diff = Decimal(0)
    missing_lengths = 0
    many_a = many_b = 0
    leaves_differ = splits_differ = 0
    count_a = count_b = 0
    inputs = read_trees(path_input) if path_input else iter(())
    for a, b in zip_longest(read_trees(path_a), read_trees(path_b)):
        if a is not None:
            count_a += 1
        if b is not None:
            count_b += 1
        source = next(inputs, None)
        if a is None or b is None:
            continue
        pairs += 1
        many_a += len(a.root_children) > 2
        many_b += len(b.root_children) > 2
        if a.leaves != b.leaves or a.sets[a.root] != b.sets[b.root]:
            leaves_differ += 1
            continue
        split_a, root_a, sign_a = branches(a)
        split_b, root_b, sign_b = branches(b)
        if sign_a == sign_b:
            same += 1
            if root_a is not None and root_b is not None:
                ca, cb = a.root_children, b.root_children
                if a.sets[ca[0]] != b.sets[cb[0]]:
                    cb = cb[::-1]
                for x, y in zip(ca, cb):
                    la, lb = decimal(a.lengths[x]), decimal(b.lengths[y])
                    if la is None or lb is None:
                        missing_lengths += (la is None) != (lb is None)
                    else:
                        root_diff = max(root_diff, abs(la - lb))
        if split_a.keys() != split_b.keys():
            splits_differ += 1
        old_root = input_root_split(source) if source is not None else None
        for key, (support_a, length_a) in split_a.items():
            if key not in split_b:
                continue
            support_b, length_b = split_b[key]
            if key in (root_a, root_b) or key == old_root:
                differ = as_set(support_a) != as_set(support_b)
            else:
                differ = support_a != support_b
            if differ:
                if key == old_root:
                    moved_input_root += 1
                elif key in (root_a, root_b):
                    moved_root += 1
                else:
                    moved += 1
            if sign_a == sign_b and key == root_a:
                continue  # its halves were compared above
            if not isinstance(length_a, Decimal):
                length_a = decimal(length_a)
            if not isinstance(length_b, Decimal):
                length_b = decimal(length_b)
            if length_a is None or length_b is None:
                missing_lengths += (length_a is None) != (length_b is None)
            else:
                other_diff = max(other_diff, abs(length_a - length_b))
    line = (f"same root split: {same}/{pairs}; supports moved: {moved}"
            f" (and {moved_root} on the root branch")
    if path_input:
        line += f", {moved_input_root} on the input's root branch"
    line += f"); largest length difference: {show(root_diff)} at the root, {show(other_diff)} elsewhere"
    if missing_lengths:
        line += f"; lengths in one only: {missing_lengths}"
    if many_a or many_b:
        line += f"; roots of 3+ children: {many_a} in A, {many_b} in B"
    if leaves_differ:
        line += f"; leaf sets differ: {leaves_differ}"
    if splits_differ:
        line += f"; unrooted trees differ: {splits_differ}"
    if count_a != count_b:
        line += f"; trees: {count_a} in A, {count_b} in B"
    return line


# Pairs of files (A, B, INPUT) and the line that must be said of them.
CHECKS = [
    ("((A:1,B:2)70:3,(C:4,D:5)80:6);", "((D:5,C:4)80:6,(B:2,A:1)70:3);", None,
     "same root split: 1/1; supports moved: 0 (and 0 on the root branch); "
     "largest length difference: 0 at the root, 0 elsewhere"),
    ("(A:0.5,((C:1,D:1)10:0.001,'B':1)20:0.5);\n(A:1,(B:1,C:1)9:1);",
     "(A:0.5,((C:1,D:1)20:0.001,B:1)10:0.5);\n((A:1,C:1):0.5,B:0.5);", None,
     "same root split: 1/2; supports moved: 1 (and 2 on the root branch); "
     "largest length difference: 0 at the root, 1 elsewhere"),
    ("((A:0.333333333,B:2)70:3,(C:4,D:5)80:6);", "((A:0.3333333333333333,B:2)70:2,(C:4,D:5)80:7);", None,
     "same root split: 1/1; supports moved: 0 (and 0 on the root branch); "
     "largest length difference: 1 at the root, 3.333333e-10 elsewhere"),
    ("(C:2,(D:5,(A:1,B:2)70:9):2);", "(C:2,(D:5,(A:1,B:2)80:9):2);",
     "((A:1,B:2)70:3,(C:4,D:5)80:6);",
     "same root split: 1/1; supports moved: 0 (and 0 on the root branch, 1 on the input's root branch); "
     "largest length difference: 0 at the root, 0 elsewhere"),
    ("((A:1,B:2)70:1.5,(C:4,D:5)70:7.5);", "((A:1,B:2)80:4.5,(C:4,D:5)80:4.5);",
     "((A:1,B:2)70:3,(C:4,D:5)80:6);",
     "same root split: 1/1; supports moved: 0 (and 0 on the root branch, 1 on the input's root branch); "
     "largest length difference: 3 at the root, 0 elsewhere"),
    ("(A,B,(C,D)x);\n(A,B,(C,D));", "((A,B),(C,D));\n((A,C),(B,D));\n(E,F);", None,
     "same root split: 0/2; supports moved: 0 (and 1 on the root branch); "
     "largest length difference: 0 at the root, 0 elsewhere; roots of 3+ children: 2 in A, 0 in B; "
     "unrooted trees differ: 1; trees: 2 in A, 3 in B"),
    ("(A,B);", "(A,(B,C));", None, "same root split: 0/1; supports moved: 0 (and 0 on the root branch); "
     "largest length difference: 0 at the root, 0 elsewhere; leaf sets differ: 1"),
]


def check():
    """Runs compare on the small trees of CHECKS; says how many gave their line."""
    import os
    import tempfile
    passed = failed = 0
    with tempfile.TemporaryDirectory() as folder:
        for number, case in enumerate(CHECKS, 1):
            paths = []
            for name, text in zip("abi", case[:3]):
                if text is None:
                    continue
                paths.append(os.path.join(folder, name))
                with open(paths[-1], "w") as f:
                    f.write(text + "\n")
            got = compare(*paths)
            if got == case[3]:
                passed += 1
            else:
                failed += 1
                print(f"check {number}: got\n  {got}\nwanted\n  {case[3]}")
    print(f"{passed} passed, {failed} failed")


def main():
    if sys.argv[1:] == ["--check"]:
        check()
        return
    if len(sys.argv) not in (3, 4):
        print("usage: same_root.py A B [INPUT] | same_root.py --check", file=sys.stderr)
        return
    try:
        print(compare(*sys.argv[1:]))
    except (OSError, ValueError) as error:
        print(f"not compared: {error}")


if __name__ == "__main__":
    main()
    sys.exit(0)
