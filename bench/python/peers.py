#!/usr/bin/env python3
"""bench/python/peers.py [--timeout S] FILE ...: the same job from Python
with quorlen, ete3, DendroPy and Bio.Phylo.

For each FILE (Newick, a tree a line, with lengths and supports), each
library and each job (rooting every tree at its midpoint; on the leaf L0),
a child Python imports the library, then reads the file, roots each tree
and makes its Newick string; prints a markdown row a file and job, a cell
a library: the seconds of that job alone (not the import) and the child's
peak memory. A child still working after S seconds (120) is stopped.

    quorlen    list(quorlen.root(pathlib.Path(FILE), JOB, support=True[, outgroup=["L0"]]))
    ete3       Tree(line, format=0); set_outgroup(get_midpoint_outgroup() or tree & "L0"); write(format=0)
    DendroPy   Tree.yield_from_files; reroot_at_midpoint() or reroot_at_edge(L0's edge); as_string()
    Bio.Phylo  Phylo.parse; root_at_midpoint() or root_with_outgroup("L0"); format("newick")
"""
import os
import pathlib
import resource
import subprocess
import sys
import threading
import time


def quorlen_job(path, job):
    import quorlen

    keywords = {"support": True}
    if job == "outgroup":
        keywords["outgroup"] = ["L0"]
    return lambda: list(quorlen.root(pathlib.Path(path), job, **keywords))


def ete3_job(path, job):
    from ete3 import Tree

    def run():
        out = []
        with open(path) as f:
            for line in f:
                if not line.strip():
                    continue
                tree = Tree(line.strip(), format=0)
                where = tree.get_midpoint_outgroup() if job == "midpoint" else tree & "L0"
                if where is not None and where is not tree:
                    tree.set_outgroup(where)
                out.append(tree.write(format=0))
        return out

    return run


def dendropy_job(path, job):
    import dendropy

    def run():
        out = []
        for tree in dendropy.Tree.yield_from_files(files=[path], schema="newick", rooting="force-rooted",
                                                   preserve_underscores=True):
            if job == "midpoint":
                tree.reroot_at_midpoint(update_bipartitions=False)
            else:
                leaf = tree.find_node_with_taxon_label("L0")
                tree.reroot_at_edge(leaf.edge, length1=leaf.edge.length / 2 if leaf.edge.length else None,
                                    length2=leaf.edge.length / 2 if leaf.edge.length else None,
                                    update_bipartitions=False)
            out.append(tree.as_string(schema="newick", suppress_rooting=True).rstrip("\n"))
        return out

    return run


def biophylo_job(path, job):
    from Bio import Phylo

    def run():
        out = []
        for tree in Phylo.parse(path, "newick"):
            if job == "midpoint":
                tree.root_at_midpoint()
            else:
                tree.root_with_outgroup("L0")
            out.append(tree.format("newick").rstrip("\n"))
        return out

    return run


LIBRARIES = {"quorlen": quorlen_job, "ete3": ete3_job, "DendroPy": dendropy_job, "Bio.Phylo": biophylo_job}


def child(library, path, job):
    """In the child: the job's seconds and the peak KB, on a deep stack (the
    libraries walk trees recursively)."""
    sys.setrecursionlimit(10_000_000)
    threading.stack_size(1 << 30)
    result = []

    def work():
        run = LIBRARIES[library](path, job)
        start = time.perf_counter()
        trees = run()
        result.append((time.perf_counter() - start, len(trees)))

    worker = threading.Thread(target=work)
    worker.start()
    worker.join()
    if not result:
        sys.exit(1)
    seconds, trees = result[0]
    print("%.3f %d %d" % (seconds, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss, trees))


def main():
    args = sys.argv[1:]
    if args[:1] == ["--child"]:
        child(*args[1:4])
        return
    timeout = 120
    if args[:1] == ["--timeout"]:
        timeout, args = float(args[1]), args[2:]
    names = list(LIBRARIES)
    print("| file | job | " + " | ".join(names) + " |")
    print("|---|---|" + "---|" * len(names))
    for path in args:
        for job in ("midpoint", "outgroup"):
            cells = []
            for library in names:
                try:
                    done = subprocess.run([sys.executable, __file__, "--child", library, path, job],
                                          capture_output=True, text=True, timeout=timeout)
                    if done.returncode != 0:
                        cells.append("failed")
                    else:
                        seconds, kb, _ = done.stdout.split()
                        cells.append("%.3g s, %.0f MB" % (float(seconds), int(kb) / 1000))
                except subprocess.TimeoutExpired:
                    cells.append("> %g s" % timeout)
            print("| %s | %s | %s |" % (os.path.basename(path), job, " | ".join(cells)), flush=True)


if __name__ == "__main__":
    main()
