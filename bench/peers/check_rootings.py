#!/usr/bin/python3
# check_rootings.py QUORLEN PEER-COMMAND...: runs each PEER-COMMAND (one
# argument each, split like a shell line, the tree file appended) and
# `QUORLEN --support` on a few small trees, and prints one line per peer:
# "agrees", or how its rootings differ from quorlen's. The rootings of a tree
# are compared as a set: the same root splits, and on each rooting the same
# branches with the same lengths (exact decimals, the root's two halves each
# on its side) and the same supports (by value, so 90 and 90.00 agree), and
# the same label on the root. Each peer is also run with --first, whose tree
# must stand on the root split of quorlen's first line for that tree.
# Trees are read with same_root.py's reader; each tree of the table has
# leaves of its own, which tells whose tree a rooting is.
import os
import re
import shlex
import subprocess
import sys
import tempfile
from decimal import ROUND_HALF_EVEN, Decimal
from itertools import combinations

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import same_root  # noqa: E402

TABLE = [
    ("two-child root, supports on both sides", "((A1:1,(B1:1,C1:1)60:2)90:3,((D1:1,E1:1)70:2,F1:1)90:6);"),
    ("three-child root with a label", "(A2:1,B2:2,(C2:3,(D2:4,E2:1)70:2)50:5)99;"),
    ("root's children differ in supports", "((A3:1,B3:2)90:3,(C3:4,D3:5)80:6);"),
    ("many decimals", "((A4:0.123456789,B4:0.1)85:0.1,(C4:0.000123456789,(D4:0.000015,E4:0.7)65:0.3)75:0.2);"),
    ("a leaf on the root", "(A5:0.5,((B5:1,C5:2)95:0.25,D5:0.75)65:1.5);"),
]


class Rooting:
    """One rooted tree: its root split, each branch's (support, length) by
    split, each root half's (support, length) by the leaves on its side."""

    def __init__(self, tree, names):
        total = tree.sets[tree.root]
        leaves = {tree.sets[n] for n in range(len(tree.sets)) if not tree.internal[n]}
        self.total = total
        self.names = names
        children = tree.root_children
        self.children = len(children)
        self.split = min(tree.sets[children[0]], tree.sets[children[0]] ^ total) if len(children) == 2 else None
        self.branches = {}
        self.halves = {}
        self.leaf_branches = set()
        for node in range(len(tree.sets)):
            if node == tree.root:
                continue
            key = tree.sets[node]
            support = same_root.support(tree.labels[node]) if tree.internal[node] else None
            length = same_root.decimal(tree.lengths[node])
            split = min(key, key ^ total)
            if key in leaves or key ^ total in leaves:
                self.leaf_branches.add(split)
            if self.split is not None and node in children:
                self.halves[key] = (support, length)
            else:
                self.branches[split] = (support, length)
        self.root_label = same_root.support(tree.labels[tree.root])
        self.root_length = same_root.decimal(tree.lengths[tree.root])

    def side(self, split):
        """The leaves of the smaller side of a split, by name."""
        sides = [self.names.get(split), self.names.get(split ^ self.total)]
        return " ".join(min((s for s in sides if s), key=len, default=["?"]))


def split_names(tree_text):
    """Maps the key of every set of the tree's leaves to their names."""
    names = re.findall(r"[(,]([A-Za-z]\w*)", tree_text)
    out = {}
    for size in range(1, len(names)):
        for group in combinations(names, size):
            key = 0
            for name in group:
                key ^= same_root.leaf_key(name)
            out.setdefault(key, list(group))
    return out


def read(path):
    """The rootings of the file at PATH, grouped by the set of their leaves."""
    groups = {}
    for tree in same_root.read_trees(path):
        groups.setdefault(tree.sets[tree.root], []).append(tree)
    return groups


def rounding_rules(q, p):
    """The roundings that turn length q into p: ('significant', k) or ('decimals', k)."""
    rules = set()
    for kind in ("significant", "decimals"):
        for k in range(1 if kind == "significant" else 0, 17):
            unit = Decimal(1).scaleb(q.adjusted() - k + 1 if kind == "significant" else -k)
            if p % unit == 0 and (abs(p - q) < unit / 2 or p == q.quantize(unit, ROUND_HALF_EVEN)):
                rules.add((kind, k))
    return rules


class Differences:
    """What differs, by kind: how often, and the first example."""

    def __init__(self):
        self.kinds = {}
        self.roundings = []   # the rules each rounded length fits

    def add(self, kind, example):
        count, first = self.kinds.get(kind, (0, example))
        self.kinds[kind] = (count + 1, first)

    def length(self, where, q, p):
        if q == p:
            return
        if q is None or p is None:
            self.add("no length where quorlen has one" if p is None else "a length where quorlen has none",
                     f"{where}: {q} vs {p}")
            return
        rules = rounding_rules(q, p)
        if rules:
            self.roundings.append((rules, f"{q} written {p}"))
        elif abs(p - q) <= abs(q) * Decimal("1e-15"):
            self.add("lengths off in the last digits, as floating-point sums are", f"{q} written {p}")
        else:
            self.add("wrong lengths", f"{where}: quorlen {q}, peer {p}")

    def line(self):
        parts = []
        if self.roundings:
            common = set.intersection(*(rules for rules, _ in self.roundings))
            example = self.roundings[0][1]
            if common:
                kind, k = min(common)
                parts.append(f"lengths rounded to {k} {'significant digits' if kind == 'significant' else 'decimals'}"
                             f" ({len(self.roundings)} lengths, e.g. {example})")
            else:
                parts.append(f"lengths rounded ({len(self.roundings)} lengths, e.g. {example})")
        for kind, (count, example) in self.kinds.items():
            parts.append(f"{kind} ({count}x, e.g. {example})")
        return "; ".join(parts) if parts else "agrees"


def show(value):
    if value is None:
        return "none"
    if isinstance(value, Decimal):
        return format(value.normalize(), "f")
    if isinstance(value, float) and value.is_integer():
        return str(int(value))
    return str(value)


class Source:
    """What the table's tree was as read: the split of a root of two
    children and the supports of its two children, and the root's label."""

    def __init__(self, tree):
        self.key = tree.sets[tree.root]
        children = tree.root_children
        self.root_split = None
        if len(children) == 2:
            self.root_split = min(tree.sets[children[0]], tree.sets[children[0]] ^ self.key)
            self.first, self.second = (same_root.support(tree.labels[c]) if tree.internal[c] else None
                                       for c in children)
        self.root_label = same_root.support(tree.labels[tree.root])


def compare_support(diff, source, split, q_support, p_support, leaf_branch, example):
    if q_support == p_support:
        return
    if p_support is not None and p_support == source.root_label:
        diff.add("the input root's label becomes a branch's support", example)
    elif leaf_branch and q_support is None:
        diff.add("a support on a leaf's branch", example)
    elif split == source.root_split:
        if (q_support, p_support) == (source.first, source.second):
            diff.add("the input's root branch takes the support of the root's second child, not its first", example)
        elif p_support is None:
            diff.add("drops the support of the input's root branch", example)
        else:
            diff.add("another support on the input's root branch", example)
    elif p_support is None:
        diff.add("drops supports", example)
    elif q_support is None:
        diff.add("a support where quorlen has none", example)
    else:
        diff.add("support on the wrong branch after rerooting", example)


def compare_rooting(diff, q, p, source):
    where = f"root {q.side(q.split)}|rest"
    if set(q.branches) | {q.split} != set(p.branches) | {p.split}:
        diff.add("a different unrooted tree", where)
        return
    for split, (q_support, q_length) in q.branches.items():
        p_support, p_length = p.branches[split]
        diff.length(f"{where}, branch {q.side(split)}|rest", q_length, p_length)
        compare_support(diff, source, split, q_support, p_support, split in q.leaf_branches,
                        f"{where}, branch {q.side(split)}|rest: quorlen {show(q_support)}, peer {show(p_support)}")
    q_sum = p_sum = Decimal(0)
    for side, (q_support, q_length) in q.halves.items():
        p_support, p_length = p.halves.get(side, (None, None))
        half = f"{where}, the half on the side of {' '.join(q.names.get(side, ['?']))}"
        if q_length is not None and p_length is not None:
            q_sum, p_sum = q_sum + q_length, p_sum + p_length
        diff.length(half, q_length, p_length)
        compare_support(diff, source, q.split, q_support, p_support, q.split in q.leaf_branches,
                        f"{half}: quorlen {show(q_support)}, peer {show(p_support)}")
    if rounding_rules(q_sum, p_sum) == set() and abs(p_sum - q_sum) > abs(q_sum) * Decimal("1e-15"):
        diff.add("the root's two halves do not add up to the branch's length", f"{where}: quorlen {show(q_sum)}, peer {show(p_sum)}")
    if q.root_label != p.root_label:
        kind = "drops the root's label" if p.root_label is None else "another label on the root"
        diff.add(kind, f"quorlen {show(q.root_label)}, peer {show(p.root_label)}")
    if q.root_length != p.root_length:
        diff.add("another length on the root", f"quorlen {show(q.root_length)}, peer {show(p.root_length)}")


def run(command, path, out_path):
    with open(out_path, "w") as out:
        done = subprocess.run(command + [path], stdout=out, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        lines = done.stderr.strip().splitlines() or [f"status {done.returncode}"]
        return f"fails: {lines[-1][:200]}"
    return None


def check_peer(command, quorlen_groups, inputs, names, folder):
    diff = Differences()
    table = os.path.join(folder, "table.nwk")
    out = os.path.join(folder, "peer.out")
    failed = run(command, table, out)
    if failed:
        return failed
    try:
        peer_groups = read(out)
    except ValueError as error:
        return f"writes what does not read as trees: {error}"
    for (title, _), source in zip(TABLE, inputs):
        key = source.key
        q_list = [Rooting(t, names) for t in quorlen_groups.get(key, [])]
        p_list = [Rooting(t, names) for t in peer_groups.pop(key, [])]
        if len(q_list) != len(p_list):
            diff.add("another number of rootings", f"{title}: quorlen {len(q_list)}, peer {len(p_list)}")
        q_by_split = {q.split: q for q in q_list}
        seen = set()
        for p in p_list:
            if p.split is None:
                diff.add("a root of more than two children", f"{title}: {p.children} children")
            elif p.split in seen:
                diff.add("roots twice on the same branch", f"{title}: root {p.side(p.split)}|rest")
            elif p.split not in q_by_split:
                diff.add("roots on a branch quorlen does not", f"{title}: root {p.side(p.split)}|rest")
            else:
                compare_rooting(diff, q_by_split[p.split], p, source)
            seen.add(p.split)
        for split in q_by_split.keys() - seen:
            diff.add("misses rootings", f"{title}: root {q_list[0].side(split)}|rest")
    if peer_groups:
        diff.add("trees with leaves of no input tree", f"{sum(map(len, peer_groups.values()))} trees")

    # --first: one tree for each input tree, on quorlen's first rooting.
    failed = run(command + ["--first"], table, out)
    if failed:
        diff.add("--first fails", failed)
    else:
        try:
            firsts = read(out)
        except ValueError as error:
            firsts = {}
            diff.add("--first writes what does not read as trees", str(error))
        for (title, _), source in zip(TABLE, inputs):
            key = source.key
            got = [Rooting(t, names) for t in firsts.get(key, [])]
            want = Rooting(quorlen_groups[key][0], names) if quorlen_groups.get(key) else None
            if want is None:
                continue
            if len(got) != 1 or got[0].split != want.split:
                shown = ", ".join(f"{g.side(g.split)}|rest" if g.split else "?" for g in got) or "nothing"
                diff.add("--first roots elsewhere", f"{title}: root {shown}, quorlen's first {want.side(want.split)}|rest")
    return diff.line()


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: check_rootings.py QUORLEN PEER-COMMAND...")
    quorlen = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        table = os.path.join(folder, "table.nwk")
        with open(table, "w") as f:
            f.write("".join(text + "\n" for _, text in TABLE))
        inputs = [Source(tree) for tree in same_root.read_trees(table)]
        names = {}
        for _, text in TABLE:
            names.update(split_names(text))
        reference = os.path.join(folder, "quorlen.out")
        failed = run([quorlen, "--support"], table, reference)
        if failed:
            sys.exit(f"quorlen {failed}")
        quorlen_groups = read(reference)
        for peer in sys.argv[2:]:
            command = shlex.split(peer)
            programs = [os.path.basename(w) for w in command if not w.startswith("-")]
            name = next((p for p in programs if not p.startswith("python") and p not in ("nice", "env", "sh", "bash")),
                        programs[0])
            print(f"{name}: {check_peer(command, quorlen_groups, inputs, names, folder)}", flush=True)


if __name__ == "__main__":
    main()
