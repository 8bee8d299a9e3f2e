# The Python module against the command line it stands beside: the same
# lines and rows, byte for byte, from every kind of source; its errors and
# argument checks; streaming, threads and memory.
import io
import os
import pathlib
import subprocess
import threading

import pytest

import quorlen

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
PROGRAM = os.environ.get("QUORLEN", str(ROOT / "build" / "quorlen"))


def command_line(*args):
    """The program's output lines (as str, bytes kept as surrogates) and status."""
    done = subprocess.run([PROGRAM, *map(str, args)], capture_output=True)
    lines = done.stdout.decode("utf-8", "surrogateescape").split("\n")
    assert lines[-1] == ""
    return lines[:-1], done.returncode, done.stderr.decode()


def cli_rows(lines):
    """The --scores table as the module's rows: its header's keys, Python values."""
    header = lines[0].split("\t")
    rows = []
    for line in lines[1:]:
        row = {}
        for key, value in zip(header, line.split("\t")):
            if key in ("tree", "branch", "leaves", "best"):
                row[key] = int(value)
            elif key == "node":
                row[key] = value
            elif key == "length":
                row[key] = value or None
            else:
                row[key] = float(value) if value else None
        rows.append(row)
    return rows


# (file, the command line's options, the module's call)
JOBS = [
    ("flu.nwk", ["--midpoint"], lambda s: quorlen.root(s, "midpoint")),
    ("flu.nwk", ["--minvar"], lambda s: quorlen.root(s, "minvar")),
    ("flu.nwk", ["--mad"], lambda s: quorlen.root(s, "mad")),
    ("flu.nwk", ["--outgroup", "A/Peru/2/2015,A/Utah/3/2014"],
     lambda s: quorlen.root(s, "outgroup", outgroup=["A/Peru/2/2015", "A/Utah/3/2014"])),
    ("flu.nwk", ["--clock", "--dates-from-names"], lambda s: quorlen.root(s, "clock", dates_from_names=True)),
    ("four.nwk", ["--outgroup", "Q", "--outgroup", "C"],
     lambda s: quorlen.root(s, "outgroup", outgroup=[["Q"], ["C"]])),
    ("supports.nwk", ["--support", "--midpoint"], lambda s: quorlen.root(s, "midpoint", support=True)),
    ("supports.nwk", ["--standard"], lambda s: quorlen.rootings(s)),
    ("supports.nwk", ["--support"], lambda s: quorlen.rootings(s, support=True)),
    ("outbreak.nwk", ["--support", "--clock", "--dates", EXAMPLES / "outbreak.csv"],
     lambda s: quorlen.root(s, "clock", support=True, dates=EXAMPLES / "outbreak.csv")),
    ("outbreak.nwk", ["--support", "--clock=r2", "--dates", EXAMPLES / "outbreak.csv"],
     lambda s: quorlen.root(s, "clock-r2", support=True, dates=str(EXAMPLES / "outbreak.csv"))),
    ("outbreak.nwk", ["--support", "--mad"], lambda s: quorlen.root(s, "mad", support=True)),
    ("outbreak.nwk", ["--support"], lambda s: quorlen.rootings(s, support=True)),
    ("primates.nex", ["--newick", "--midpoint"], lambda s: quorlen.root(s, "midpoint")),
    ("primates.nex", ["--newick", "--outgroup", "Pongo abelii"],
     lambda s: quorlen.root(s, "outgroup", outgroup=["Pongo abelii"])),
    ("primates.nex", ["--newick"], lambda s: quorlen.rootings(s)),
    ("sample.nwk", ["--standard"], lambda s: quorlen.rootings(s)),
]

SCORED = [
    ("flu.nwk", ["--minvar"], lambda s: quorlen.scores(s, "minvar")),
    ("supports.nwk", ["--support", "--mad"], lambda s: quorlen.scores(s, "mad", support=True)),
    ("outbreak.nwk", ["--support", "--clock", "--dates", EXAMPLES / "outbreak.csv"],
     lambda s: quorlen.scores(s, "clock", support=True, dates=EXAMPLES / "outbreak.csv")),
    ("flu.nwk", ["--clock=r2", "--dates-from-names"], lambda s: quorlen.scores(s, "clock-r2", dates_from_names=True)),
]


def sources(path):
    """The same trees as each kind of source the module takes."""
    text = path.read_bytes()
    return {
        "str": text.decode("utf-8"),
        "bytes": text,
        "path": path,
        "text file": io.StringIO(text.decode("utf-8")),
        "binary file": io.BytesIO(text),
        "a byte a read": Pieces(text[k:k + 1] for k in range(len(text))),
    }


@pytest.mark.parametrize("name,options,call", JOBS, ids=[" ".join(map(str, j[1])) + " " + j[0] for j in JOBS])
def test_lines_are_the_command_lines(name, options, call):
    want, status, _ = command_line(*options, EXAMPLES / name)
    assert status == 0 and want
    for kind, source in sources(EXAMPLES / name).items():
        assert list(call(source)) == want, kind


@pytest.mark.parametrize("name,options,call", SCORED, ids=[" ".join(map(str, j[1])) + " " + j[0] for j in SCORED])
def test_score_rows_are_the_table(name, options, call):
    lines, status, _ = command_line(*options, "--scores", EXAMPLES / name)
    assert status == 0
    for kind, source in sources(EXAMPLES / name).items():
        assert list(call(source)) == cli_rows(lines), kind


def test_dates_given_as_a_dict_are_the_tables(tmp_path):
    table = {}
    for line in (EXAMPLES / "outbreak.csv").read_text().splitlines()[1:]:
        name, date = line.split(",")
        if "-" not in date:
            table[name] = float(date)
    with_file = tmp_path / "dates.tsv"
    with_file.write_text("name\tdate\n" + "".join("%s\t%r\n" % item for item in table.items()))
    tree = EXAMPLES / "outbreak.nwk"
    assert list(quorlen.scores(tree, "clock", dates=table)) == list(quorlen.scores(tree, "clock", dates=with_file))


def many_trees(count, bad_at=None):
    tree = "((A:1,B:2):1,(C:%d,D:3):2);\n"
    return "".join("(A,(B;\n" if k == bad_at else tree % (k + 1) for k in range(count))


def test_a_file_streams_its_trees_before_a_bad_one(tmp_path):
    path = tmp_path / "trees.nwk"
    path.write_text(many_trees(5, bad_at=3))
    want, status, error = command_line("--midpoint", path)
    got = quorlen.root(path, "midpoint")
    assert [next(got) for _ in range(3)] == want
    with pytest.raises(quorlen.TreeError) as caught:
        next(got)
    assert str(caught.value) == error.strip() and status == 255
    assert (caught.value.tree, caught.value.line, caught.value.column) == (4, 4, 4)
    with pytest.raises(StopIteration):
        next(got)


# (text, the command line's options, the module's call, the error's tree,
# line and column)
ERRORS = [
    ("(A,B)", ["--midpoint"], lambda s: quorlen.root(s, "midpoint"), 1, 1, 6),
    ("((A,B),(C,D));", ["--midpoint"], lambda s: quorlen.root(s, "midpoint"), 1, None, None),
    ("(A:1,B:2);(A:1,B:-2);", ["--mad"], lambda s: quorlen.root(s, "mad"), 2, None, None),
    ("(A:1,B:2);", ["--outgroup", "Z"], lambda s: quorlen.root(s, "outgroup", outgroup=["Z"]), 1, None, None),
    ("", ["--standard"], lambda s: quorlen.rootings(s), 1, 1, 1),
    ("(A:1,B:2);\n(A,(B", ["--support"], lambda s: quorlen.rootings(s, support=True), 2, 2, 4),
    ("#NEXUS\nbegin trees;\ntree a = (A,B;\nend;\n", ["--newick"], lambda s: quorlen.rootings(s), 1, 3, 10),
]


@pytest.mark.parametrize("text,options,call,tree,line,column", ERRORS)
def test_errors_carry_the_command_lines_message(tmp_path, text, options, call, tree, line, column):
    path = tmp_path / "bad.nwk"
    path.write_text(text)
    _, status, message = command_line(*options, path)
    assert status == 255
    with pytest.raises(quorlen.TreeError) as caught:
        list(call(path))
    got = caught.value
    assert isinstance(got, ValueError)
    assert (str(got), got.tree, got.line, got.column) == (message.strip(), tree, line, column)


# (call, the exception, what its message holds)
FILES = [
    (lambda d: quorlen.root(d / "missing.nwk", "midpoint"), FileNotFoundError, "missing.nwk"),
    (lambda d: quorlen.rootings(d), IsADirectoryError, "Is a directory"),
    (lambda d: quorlen.root(EXAMPLES / "outbreak.nwk", "clock", dates=d / "none.csv"), FileNotFoundError, "none.csv"),
    (lambda d: quorlen.root(EXAMPLES / "outbreak.nwk", "clock", dates=EXAMPLES / "flu.nwk"), ValueError,
     "no column's name holds 'date'"),
]


@pytest.mark.parametrize("call,kind,holds", FILES)
def test_files_that_cannot_be_read(tmp_path, call, kind, holds):
    with pytest.raises(kind) as caught:
        list(call(tmp_path))
    assert holds in str(caught.value)


TREE = "((A:1,B:2):1,(C:1,D:3):2);"

# (call, what the ValueError's message holds)
WRONG = [
    (lambda: quorlen.root(TREE, "midpiont"), "unknown method 'midpiont'"),
    (lambda: quorlen.root(TREE, "outgroup"), "needs outgroup="),
    (lambda: quorlen.root(TREE, "outgroup", outgroup=[]), "needs leaf names"),
    (lambda: quorlen.root(TREE, "outgroup", outgroup=["A", ""]), "none of them empty"),
    (lambda: quorlen.root(TREE, "outgroup", outgroup=[["A"], "B"]), "list of leaf names"),
    (lambda: quorlen.root(TREE, "midpoint", outgroup=["A"]), "outgroup= goes with"),
    (lambda: quorlen.root(TREE, "midpoint", dates={"A": 2000}), "dates= goes with"),
    (lambda: quorlen.root(TREE, "minvar", dates_from_names=True), "dates_from_names= goes with"),
    (lambda: quorlen.root(TREE, "clock"), "needs dates="),
    (lambda: quorlen.root(TREE, "clock", dates={"A": 1.0}, dates_from_names=True), "cannot be combined"),
    (lambda: quorlen.root(TREE, "clock", dates={"A": "spring"}), "not a decimal year"),
    (lambda: quorlen.scores(TREE, "midpoint"), "unknown method 'midpoint'"),
    (lambda: quorlen.scores(TREE, "outgroup"), "unknown method 'outgroup'"),
]


@pytest.mark.parametrize("call,holds", WRONG)
def test_wrong_arguments(call, holds):
    with pytest.raises(ValueError) as caught:
        call()
    assert holds in str(caught.value)


def test_the_version_is_the_programs():
    assert command_line("--version")[0] == ["quorlen " + quorlen.__version__]


def test_a_source_of_no_kind():
    with pytest.raises(TypeError):
        quorlen.root(42, "midpoint")


def test_two_threads_give_what_one_gives(tmp_path):
    files = []
    for k in range(2):
        path = tmp_path / ("trees%d.nwk" % k)
        path.write_text("".join("((A%d:1,B:%d):1,(C:1,(D:3,E:%d):1):2);\n" % (k, j % 7 + 1, j % 5 + 1)
                                for j in range(20000)))
        files.append(path)
    alone = [list(quorlen.root(f, "mad")) for f in files]
    together = [None, None]

    def work(k):
        together[k] = list(quorlen.root(files[k], "mad"))

    threads = [threading.Thread(target=work, args=(k,)) for k in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert together == alone


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def test_rooting_many_trees_does_not_grow_the_process(tmp_path):
    path = tmp_path / "many.nwk"
    path.write_text(many_trees(1000))
    tree = "((A:1,B:2)9:1,(C:1,(D:3,E:1)8:1):2);"

    def work(times):
        for _ in range(times):
            for _ in quorlen.root(tree, "minvar", support=True):
                pass
            for _ in quorlen.scores(tree, "mad"):
                pass
            for _ in quorlen.rootings(tree):
                pass
        for _ in quorlen.root(path, "midpoint"):
            pass

    work(10000)
    before = resident_bytes()
    work(100000)
    assert resident_bytes() - before < 1 << 20


def test_the_readmes_examples_run(monkeypatch):
    # Run where the README's paths lead, with the peers it loads the trees into.
    for peer in ("ete3", "dendropy", "pandas"):
        pytest.importorskip(peer)
    text = (ROOT / "README.md").read_text()
    blocks = [block.split("```")[0] for block in text.split("```python\n")[1:]]
    assert len(blocks) >= 2
    monkeypatch.chdir(ROOT)
    scope = {}
    for block in blocks:
        exec(block, scope)
    assert len(scope["trees"]) == 1 and scope["table"].best.sum() == 1


def caterpillar(leaves, name):
    text = name % 0 + ":1"
    for k in range(1, leaves):
        text = "(%s,%s:%d)" % (text, name % k, k % 7 + 1)
    return (text + ";\n").encode("utf-8", "surrogateescape")


# (what the labels are, a tree): lines of every size and bytes of every kind
# come back as the command line's bytes
LABELS = [
    ("ASCII, a short line", caterpillar(20, "L%d")),
    ("ASCII, a long line", caterpillar(8000, "L%d")),
    ("UTF-8, a long line", caterpillar(8000, "Lé%d")),
    ("not UTF-8, a short line", caterpillar(20, "L\udce9%d")),
    ("not UTF-8, a long line", caterpillar(8000, "L\udce9%d")),
]


@pytest.mark.parametrize("kind,text", LABELS, ids=[k for k, _ in LABELS])
def test_lines_keep_their_bytes(tmp_path, kind, text):
    path = tmp_path / "labels.nwk"
    path.write_bytes(text)
    for options, call in ((["--midpoint"], lambda s: quorlen.root(s, "midpoint")),
                          (["--minvar"], lambda s: quorlen.root(s, "minvar"))):
        want = subprocess.run([PROGRAM, *options, str(path)], capture_output=True, check=True).stdout
        got = "".join(line + "\n" for line in call(path)).encode("utf-8", "surrogateescape")
        assert got == want, kind


class Pieces:
    """A file-like object whose read() gives one piece a call (str or bytes),
    then raises where `fail` is given, and counts its calls."""

    def __init__(self, pieces, fail=None):
        self.pieces, self.fail, self.calls = list(pieces), fail, 0

    def read(self, n=-1):
        self.calls += 1
        if self.pieces:
            return self.pieces.pop(0)
        if self.fail is not None:
            raise self.fail
        return b""


def test_an_object_is_read_as_the_trees_are_wanted():
    trees = many_trees(4).splitlines(keepends=True)
    source = Pieces([trees[0].encode()] + trees[1:])
    got = quorlen.root(source, "midpoint")
    first = next(got)
    assert source.calls <= 2 and first == list(quorlen.root(trees[0], "midpoint"))[0]
    assert [first] + list(got) == list(quorlen.root("".join(trees), "midpoint"))


# (what read() does after its pieces, the exception that comes out)
READ_FAILURES = [
    (OSError("the device went away"), OSError),
    (KeyboardInterrupt(), KeyboardInterrupt),
    (None, quorlen.TreeError),  # the end, within a tree
]


@pytest.mark.parametrize("fail,kind", READ_FAILURES)
def test_what_an_objects_read_raises_comes_out(fail, kind):
    got = quorlen.rootings(Pieces(["(A,B);\n", "(A,(B"], fail=fail))
    assert next(got) == "(A,B);"
    with pytest.raises(kind):
        list(got)


def test_read_giving_neither_text_nor_bytes():
    class Numbers:
        def read(self, n=-1):
            return 42

    with pytest.raises(TypeError):
        list(quorlen.root(Numbers(), "midpoint"))
