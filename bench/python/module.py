#!/usr/bin/env python3
"""bench/python/module.py QUORLEN RUNS FILE LABEL [METHOD ...]: the Python
module against the command line on the same job.

For each METHOD (outgroup=L0, midpoint, minvar, mad, clock: a method and,
after "=", its outgroup), the command line's run to /dev/null (QUORLEN
--support --METHOD FILE, from fork to exit) and the module's
list(quorlen.root(pathlib.Path(FILE), METHOD, support=True)) in this
process, taken in turn RUNS times; prints a markdown row a method: LABEL,
the call, both medians in ms and their ratio. The clock takes its dates
from the leaves' names."""
import pathlib
import statistics
import subprocess
import sys
import time

import quorlen


def main():
    program, runs, path, label, methods = sys.argv[1], int(sys.argv[2]), pathlib.Path(sys.argv[3]), sys.argv[4], sys.argv[5:]
    for asked in methods:
        method, _, outgroup = asked.partition("=")
        options = ["--support"]
        keywords = {"support": True}
        if method == "outgroup":
            options += ["--outgroup", outgroup]
            keywords["outgroup"] = outgroup.split(",")
        elif method == "clock":
            options += ["--clock", "--dates-from-names"]
            keywords["dates_from_names"] = True
        else:
            options.append("--" + method)
        command = [program, *options, str(path)]
        cli, module = [], []
        for run in range(runs + 1):
            start = time.perf_counter()
            subprocess.run(command, stdout=subprocess.DEVNULL, check=True)
            middle = time.perf_counter()
            lines = list(quorlen.root(path, method, **keywords))
            end = time.perf_counter()
            del lines
            if run > 0:  # the first of each is a warm-up
                cli.append(middle - start)
                module.append(end - middle)
        a, b = statistics.median(cli) * 1000, statistics.median(module) * 1000
        args = ", ".join("%s=%r" % item for item in keywords.items())
        print("| %s | `list(quorlen.root(path, %r, %s))` | %.1f | %.1f | %.2f |" % (label, method, args, a, b, b / a))


if __name__ == "__main__":
    main()
