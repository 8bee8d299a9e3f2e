"""Rooting phylogenetic trees, in-process: the quorlen program's jobs.

Each function takes a source of trees (Newick or NEXUS, one tree or many)
and returns an iterator that reads, roots and gives one tree at a time,
exactly as the command line writes it:

    root(source, method, ...)   one rooted tree per input tree
    rootings(source, ...)       every rooting of every tree (--standard)
    scores(source, method, ...) a row per branch (--scores), as dicts

A source is the text itself (str or bytes), a file's path (os.PathLike,
such as pathlib.Path), or an object with read() (an open file, text or
binary, sys.stdin); a file and an object are read as the trees are wanted,
so that a tree's result comes before the next tree is read. Trees come
as Newick strings, which ete3, DendroPy and Bio.Phylo read; the trees of a
NEXUS source come as Newick with their leaves named (--newick).

A malformed tree raises TreeError (a ValueError) when the iterator reaches
it, after every tree before it has been given.
"""

import os

from . import _quorlen

__version__ = _quorlen.__version__

__all__ = ["root", "rootings", "scores", "TreeError", "__version__"]


class TreeError(ValueError):
    """A tree that cannot be read or rooted.

    str(error) is the command line's message ("tree 2, line 1, column 9:
    ..." or "tree 3: ..."); tree, line and column are the numbers in it,
    counted from 1, or None where the message has none.
    """

    def __init__(self, message, tree=None, line=None, column=None):
        super().__init__(message)
        self.tree = tree
        self.line = line
        self.column = column


_quorlen.set_tree_error(TreeError)

_METHODS = ("outgroup", "midpoint", "minvar", "mad", "clock", "clock-r2")
_SCORED = ("minvar", "mad", "clock", "clock-r2")


def _source(source):
    """(kind, what) for the native reader: the text itself, a path, or an object to read."""
    if isinstance(source, str):
        return "text", source.encode("utf-8", "surrogateescape")
    if isinstance(source, (bytes, bytearray, memoryview)):
        return "text", bytes(source)
    if isinstance(source, os.PathLike):
        return "path", os.fsencode(source)
    if callable(getattr(source, "read", None)):
        return "reader", source
    raise TypeError(
        "source must be the text (str or bytes), a path (os.PathLike) or a file with read(), not %s"
        % type(source).__name__
    )


def _outgroups(method, outgroup):
    if method != "outgroup":
        if outgroup is not None:
            raise ValueError("outgroup= goes with the method 'outgroup', not '%s'" % method)
        return []
    if outgroup is None:
        raise ValueError("the method 'outgroup' needs outgroup=, a list of leaf names")
    if isinstance(outgroup, str):
        outgroup = [outgroup]
    ranked = list(outgroup)
    if ranked and all(isinstance(names, str) for names in ranked):
        ranked = [ranked]
    lists = []
    for names in ranked:
        if isinstance(names, str) or not all(isinstance(name, str) for name in names):
            raise ValueError("outgroup= is a list of leaf names, or a list of such lists")
        names = list(names)
        if not names or any(name == "" for name in names):
            raise ValueError("outgroup= needs leaf names, none of them empty")
        lists.append(names)
    if not lists:
        raise ValueError("outgroup= needs leaf names, none of them empty")
    return lists


def _dates(method, dates, dates_from_names):
    clock = method in ("clock", "clock-r2")
    if not clock:
        if dates is not None:
            raise ValueError("dates= goes with the methods 'clock' and 'clock-r2', not '%s'" % method)
        if dates_from_names:
            raise ValueError("dates_from_names= goes with the methods 'clock' and 'clock-r2', not '%s'" % method)
        return _quorlen.Dates("names", "", [])
    if dates is not None and dates_from_names:
        raise ValueError("dates= and dates_from_names=True cannot be combined")
    if dates is None and not dates_from_names:
        raise ValueError("the method '%s' needs dates= (a dict or a dates table's path) or dates_from_names=True" % method)
    if dates is None:
        return _quorlen.Dates("names", "", [])
    if isinstance(dates, (str, os.PathLike)):
        return _quorlen.Dates("path", os.fsencode(dates), [])
    if hasattr(dates, "items"):
        rows = []
        for name, year in dates.items():
            if not isinstance(name, str):
                raise ValueError("dates= maps leaf names (str) to decimal years, not %s" % type(name).__name__)
            try:
                rows.append((name, float(year)))
            except (TypeError, ValueError):
                raise ValueError("dates=: the date of '%s' is %r, not a decimal year" % (name, year)) from None
        return _quorlen.Dates("rows", "", rows)
    raise ValueError("dates= is a dict of leaf name to decimal year, or a dates table's path")


def _method(method, allowed):
    if not isinstance(method, str) or method not in allowed:
        raise ValueError(
            "unknown method %r: one of %s" % (method, ", ".join("'%s'" % m for m in allowed))
        )


def root(source, method, *, outgroup=None, support=False, dates=None, dates_from_names=False):
    """Each tree of source rooted by method: an iterator of Newick strings.

    The strings are the lines of `quorlen --METHOD source` (with --support
    where support=True, --newick for NEXUS) without their line ends.

    method: 'outgroup' (with outgroup=), 'midpoint', 'minvar', 'mad',
        'clock' or 'clock-r2' (with dates= or dates_from_names=True).
    outgroup: the leaf names of the outgroup, a list of str; or a ranked
        list of such lists, of which each tree takes the first that names
        one of its leaves.
    support: internal labels are support values, which move with their
        branches (--support).
    dates: a dict of leaf name to decimal year, or the path (str or
        os.PathLike) of a CSV or TSV dates table, as --dates reads it.
    dates_from_names: the dates are in the leaves' names, after their last
        |, else _, else / (--dates-from-names).

    Raises ValueError for a wrong method or arguments; TreeError when the
    iterator reaches a tree that cannot be read or rooted; OSError for a
    file that cannot be read.
    """
    _method(method, _METHODS)
    groups = _outgroups(method, outgroup)
    when = _dates(method, dates, dates_from_names)
    kind, what = _source(source)
    return _quorlen.Roots(kind, what, method, groups, bool(support), when, False)


def rootings(source, *, support=False):
    """Every tree of source rooted on each of its branches in turn.

    An iterator of Newick strings: the lines of `quorlen --standard source`
    (`--support` where support=True; `--newick` too for NEXUS), without
    their line ends, tree after tree.
    """
    kind, what = _source(source)
    return _quorlen.Rootings(kind, what, bool(support))


def _rows(chosen):
    for rows in iter(chosen.next_rows, None):
        yield from rows


def scores(source, method, *, support=False, dates=None, dates_from_names=False):
    """Every branch of every tree of source, scored by method: an iterator of dicts.

    The rows of `quorlen --METHOD --scores source`, keyed by its header:
    tree, branch, leaves and best (int); node (str); length (the str
    written, or None where the branch has none); position and score
    (float, None where the branch has no best point); and for the clock,
    rate, root_date and r2 (float or None).

    method: 'minvar', 'mad', 'clock' or 'clock-r2'; the other arguments as
    for root(). pandas.DataFrame(scores(...)) is the table.
    """
    _method(method, _SCORED)
    when = _dates(method, dates, dates_from_names)
    kind, what = _source(source)
    return _rows(_quorlen.Roots(kind, what, method, [], bool(support), when, True))
