#!/usr/bin/python3
# treetime_clock.py TREE DATES OUTDIR: TreeTime's root-to-tip regression,
#   treetime clock --tree TREE --dates DATES --reroot least-squares
#       --clock-filter 0 --sequence-length 1000 --outdir OUTDIR
# run through TreeTime's own command line (its parser and its clock command,
# in this process, as the treetime script runs them), its messages into
# OUTDIR/treetime.log. It writes its tree rooted where the regression's
# squared residuals are least to OUTDIR/rerooted.newick, and its table of
# dates and distances to OUTDIR/rtt.csv.
#
# TreeTime prints the rate with 4 significant digits and R² and the root
# date with 2 decimals; this prints, on one line, the regression it printed
# them from, in full: the rate (the slope of root-to-tip distance on date),
# the root date (the date at distance 0, -intercept / slope, as TreeTime
# prints it), R² (its r, the correlation of date and distance, squared), and
# where it put the root: the length of the branch above the node it chose
# and the fraction x of that branch from the node up (0 on the node itself).
# Needs Debian's python3-treetime.
import sys

import deep_stack


def main():
    tree, dates, outdir = sys.argv[1:]
    import matplotlib

    matplotlib.use("AGG")
    import treetime
    from treetime import utils
    from treetime.treeregression import TreeRegression

    # The last regression TreeTime turns into its dates is the one it
    # prints; the best root is the one it roots the tree on.
    seen = {}
    from_regression = utils.DateConversion.from_regression.__func__

    def keep_regression(cls, clock_model):
        seen["model"] = dict(clock_model)
        return from_regression(cls, clock_model)

    utils.DateConversion.from_regression = classmethod(keep_regression)
    find_best_root = TreeRegression.find_best_root

    def keep_root(self, *args, **kwargs):
        best = find_best_root(self, *args, **kwargs)
        if best is not None:
            seen["root"] = (best["node"].branch_length, best["split"])
        return best

    TreeRegression.find_best_root = keep_root

    args = ["clock", "--tree", tree, "--dates", dates, "--reroot", "least-squares",
            "--clock-filter", "0", "--sequence-length", "1000", "--outdir", outdir]
    params = treetime.make_parser().parse_args(args)
    import os

    os.makedirs(outdir, exist_ok=True)
    log = open(os.path.join(outdir, "treetime.log"), "w")
    out = sys.stdout
    sys.stdout = log
    try:
        status = params.func(params)
    finally:
        sys.stdout = out
        log.close()
    if status or "model" not in seen:
        sys.exit(f"treetime clock failed ({status}): see {outdir}/treetime.log")
    model = seen["model"]
    length, split = seen.get("root", (float("nan"), float("nan")))
    rate = model["slope"]
    print(f"{rate!r}\t{-model['intercept'] / rate!r}\t{model['r_val'] ** 2!r}\t{length!r}\t{split!r}")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit("usage: treetime_clock.py TREE DATES OUTDIR")
    deep_stack.run(main)
