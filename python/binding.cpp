// The Python module's native part: iterators over the trees of a source,
// each tree read, rooted and written by the core library exactly as the
// command line does it, one tree at a time. The package around it
// (quorlen/__init__.py) checks the arguments and documents them.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "choosing/choose.h"
#include "common/memory.h"
#include "reading/dates.h"
#include "reading/input.h"
#include "rootings/rootings.h"

#ifndef QUORLEN_VERSION
#define QUORLEN_VERSION "unknown"
#endif

namespace py = pybind11;
using namespace quorlen;
namespace roots = quorlen::standard::roots;

namespace {

// The package's TreeError, handed over as the package is imported, and
// held for the interpreter's life.
PyObject* tree_error = nullptr;

// An OSError of errno's kind (FileNotFoundError, IsADirectoryError, ...),
// naming the file, as Python's own open() raises it.
[[noreturn]] void raise_os_error(int error, const std::string& path) {
    errno = error;
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::error_already_set();
}

[[noreturn]] void raise_tree_error(const std::string& message, std::optional<std::size_t> tree,
                                   std::optional<std::size_t> line, std::optional<std::size_t> column) {
    const py::object error = py::handle(tree_error)(message, tree, line, column);
    PyErr_SetObject(tree_error, error.ptr());
    throw py::error_already_set();
}

// Text as the command line writes its bytes: labels that are not UTF-8
// keep their bytes as surrogates ("surrogateescape"), so that
// s.encode("utf-8", "surrogateescape") gives back the line's bytes.
py::str text_of(const char* bytes, std::size_t size) {
    PyObject* s = PyUnicode_DecodeUTF8(bytes, static_cast<Py_ssize_t>(size), "surrogateescape");
    if (!s) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

bool ascii(const char* p, std::size_t n) {
    std::uint64_t any = 0;
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        any |= w;
    }
    for (; n > 0; ++p, --n) any |= static_cast<unsigned char>(*p);
    return (any & 0x8080808080808080ull) == 0;
}

// Lines longer than this are written straight into their str.
constexpr std::size_t long_line = std::size_t{1} << 16;

// The line that write(p) writes at p, at most `most` bytes, as a str, made
// with the interpreter free. A long line (a big tree's, tens of megabytes)
// is written into the str itself where it is ASCII, as it nearly always is,
// in huge pages where the system gives them: a copy, and fresh pages for it,
// cost as much as rooting the tree. Others go through `scratch`.
template <class Write>
py::str made_text(std::size_t most, byte_buffer& scratch, Write write) {
    if (most < long_line) {
        char* p = scratch.room(most);
        std::size_t n;
        {
            py::gil_scoped_release free;
            n = static_cast<std::size_t>(write(p) - p);
        }
        return text_of(p, n);
    }
    py::object held = py::reinterpret_steal<py::object>(PyUnicode_New(static_cast<Py_ssize_t>(most), 127));
    if (!held) throw py::error_already_set();
    char* p = static_cast<char*>(PyUnicode_DATA(held.ptr()));
    std::size_t n;
    bool plain;
    {
        py::gil_scoped_release free;
#ifdef MADV_HUGEPAGE
        constexpr std::uintptr_t huge = std::uintptr_t{1} << 21;
        const std::uintptr_t from = (reinterpret_cast<std::uintptr_t>(p) + huge - 1) / huge * huge;
        const std::uintptr_t to = (reinterpret_cast<std::uintptr_t>(p) + most) / huge * huge;
        if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);  // a hint
#endif
        n = static_cast<std::size_t>(write(p) - p);
        plain = ascii(p, n);
    }
    if (!plain) return text_of(p, n);
    // Cut to its length where it stands: a str no one else holds yet.
    PyObject* s = held.release().ptr();
    if (PyUnicode_Resize(&s, static_cast<Py_ssize_t>(n)) != 0) {
        Py_XDECREF(s);
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::str>(s);
}

// Marks an iterator at work for a call: another thread's call meanwhile
// would read into the same tree, and is refused.
class at_work {
public:
    explicit at_work(bool& busy) : busy(busy) {
        if (busy) throw std::runtime_error("the iterator is already at work on another thread");
        busy = true;
    }
    ~at_work() { busy = false; }
    at_work(const at_work&) = delete;
    at_work& operator=(const at_work&) = delete;

private:
    bool& busy;
};

// The trees of a source, one at a time: text held here, or a file read as
// the trees are wanted. NEXUS trees come with their leaves named.
class tree_source {
public:
    // kind "text": `what` is the text (bytes); "path": the file's path
    // (bytes); "reader": an object whose read(n) gives str or bytes.
    tree_source(const std::string& kind, py::object what) {
        if (kind == "reader") {
            reading = std::move(what);
            input = std::make_unique<standard::tree_input>(
                [this](char* p, std::size_t n) { return pull(p, n); }, true);
            return;
        }
        std::string bytes = what.cast<std::string>();
        if (kind == "text") {
            text = std::move(bytes);
            input = std::make_unique<standard::tree_input>(std::string_view(text), true);
            return;
        }
        fd = ::open(bytes.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) raise_os_error(errno, bytes);
        struct stat about;
        if (fstat(fd, &about) == 0 && S_ISDIR(about.st_mode)) {
            ::close(fd);
            fd = -1;
            raise_os_error(EISDIR, bytes);
        }
        path = std::move(bytes);
        input = std::make_unique<standard::tree_input>(fd, nullptr, true);
    }
    tree_source(const tree_source&) = delete;
    tree_source& operator=(const tree_source&) = delete;
    ~tree_source() { finish(); }

    // Reads the next tree in three steps, so that the caller does more with
    // the interpreter let go: start() with it held, read(t) without, then
    // took(what read gave) with it again: false at the end. A malformed
    // tree raises TreeError, an unreadable file OSError, and what an
    // object's read() raised comes out; any of them ends the source.
    void start() {
        if (PyErr_CheckSignals() != 0) {
            finish();
            throw py::error_already_set();
        }
    }
    standard::reader::result read(standard::tree& t) {
        if (done) return standard::reader::end;
        errno = 0;
        const standard::reader::result got = input->next(t);
        error = errno;
        return got;
    }
    bool took(standard::reader::result got) {
        if (got == standard::reader::read) {
            ++count;
            return true;
        }
        finish();
        if (raised) {
            // What the object's read() raised, raised again here.
            py::error_already_set e = std::move(*raised);
            raised.reset();
            throw e;
        }
        if (got == standard::reader::end) return false;
        if (input->input_failed()) raise_os_error(error != 0 ? error : EIO, path);
        const standard::read_error& e = input->error();
        raise_tree_error(e.message(), e.tree, e.line, e.column);
    }
    // A tree's error found after it was read ("tree 3: ...").
    [[noreturn]] void fail(const std::string& what) {
        finish();
        raise_tree_error("tree " + std::to_string(count) + ": " + what, count, std::nullopt, std::nullopt);
    }
    std::size_t trees() const { return count; }
    const standard::translation* names() const { return input->names(); }

private:
    // Ends the source, its file closed.
    void finish() {
        done = true;
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    // Up to n bytes of the object's read(), called by the reader with the
    // interpreter let go: it is taken again for the call. A str read is
    // sent as UTF-8, what does not fit kept for the next call.
    long pull(char* p, std::size_t n) {
        if (kept_at == kept.size()) {
            py::gil_scoped_acquire held;
            try {
                py::object got = reading.attr("read")(block);
                if (PyUnicode_Check(got.ptr())) {
                    PyObject* bytes = PyUnicode_AsEncodedString(got.ptr(), "utf-8", "surrogateescape");
                    if (!bytes) throw py::error_already_set();
                    got = py::reinterpret_steal<py::object>(bytes);
                }
                kept = py::bytes(got).cast<std::string>();
            } catch (py::error_already_set& e) {
                raised.emplace(std::move(e));
                return -1;
            }
            kept_at = 0;
            if (kept.empty()) return 0;
        }
        const std::size_t k = std::min(n, kept.size() - kept_at);
        std::memcpy(p, kept.data() + kept_at, k);
        kept_at += k;
        return static_cast<long>(k);
    }
    static constexpr std::size_t block = std::size_t{1} << 16;  // asked of read() at a time
    py::object reading;                        // the object read from, or none
    std::string kept;                          // what it gave that is not yet sent
    std::size_t kept_at = 0;
    std::optional<py::error_already_set> raised;  // what its read() raised
    std::string text, path;
    int fd = -1;
    std::unique_ptr<standard::tree_input> input;  // reads text or fd
    std::size_t count = 0;                        // the trees read
    int error = 0;                                // errno after the last read
    bool done = false;
};

// The dates of the clock: none (the leaves' names hold them), a table's
// file, or a caller's names and years.
struct dates_given {
    std::string kind;  // "names", "path" or "rows"
    std::string path;
    std::vector<std::pair<std::string, double>> rows;
};

// Every tree of a source rooted by one method: each tree's line, or each
// of its branches' rows.
class chosen {
public:
    chosen(const std::string& kind, py::object what, const std::string& method,
           std::vector<std::vector<std::string>> outgroups, bool support, const dates_given& dates, bool scores)
        : in(kind, std::move(what)) {
        roots::options how;
        how.labels = support ? standard::internal_labels::supports : standard::internal_labels::names;
        how.scores = scores;
        how.outgroups = std::move(outgroups);
        clock = method == "clock" || method == "clock-r2";
        how.how = method == "outgroup" ? roots::method::outgroup
                : method == "midpoint" ? roots::method::midpoint
                : method == "minvar"   ? roots::method::minvar
                : method == "mad"      ? roots::method::mad
                : clock                ? roots::method::clock
                                       : throw py::value_error("unknown method '" + method + "'");
        how.r2 = method == "clock-r2";
        if (clock) load(dates, how);
        choosing = std::make_unique<roots::chooser>(std::move(how));
    }

    // The next tree's line, without its line end; none at the end. A small
    // tree is read, chosen on and written with the interpreter let go once.
    std::optional<py::str> next_line() {
        const at_work working(busy);
        in.start();
        standard::reader::result got;
        std::string error;
        char* p = nullptr;
        std::size_t n = 0;
        {
            py::gil_scoped_release free;
            got = in.read(t);
            if (got == standard::reader::read) error = chosen_on();
            if (got == standard::reader::read && error.empty() && room() < long_line) {
                p = line.room(room());
                n = static_cast<std::size_t>(choosing->write(t, p) - p);
            }
        }
        if (!in.took(got)) return std::nullopt;
        if (!error.empty()) in.fail(error);
        if (p) return text_of(p, n);
        return made_text(room(), line, [this](char* at) { return choosing->write(t, at); });
    }

    // The next tree's rows, one a branch, as the table of scores has them.
    std::optional<py::list> next_rows() {
        const at_work working(busy);
        if (!next_tree()) return std::nullopt;
        py::list rows;
        std::size_t branch = 0;
        const py::object none = py::none();
        for (const roots::scored_branch& s : choosing->scores()) {
            py::dict row;
            row["tree"] = in.trees();
            row["branch"] = ++branch;
            const std::string_view label = t.label(s.chosen);
            row["node"] = text_of(label.data(), label.size());
            row["leaves"] = s.leaves;
            const std::string_view length = choosing->length_of(s.chosen);
            row["length"] = length.empty() ? none : py::object(py::str(length.data(), length.size()));
            auto number = [&](double x) { return s.empty ? none : py::object(py::float_(x)); };
            row["position"] = number(s.position);
            row["score"] = number(s.score);
            if (clock) {
                row["rate"] = number(s.rate);
                row["root_date"] = number(s.root_date);
                row["r2"] = number(s.r2);
            }
            row["best"] = s.chosen == choosing->chosen() ? 1 : 0;
            rows.append(std::move(row));
        }
        return rows;
    }

private:
    bool next_tree() {
        in.start();
        standard::reader::result got;
        std::string error;
        {
            py::gil_scoped_release free;
            got = in.read(t);
            if (got == standard::reader::read) error = chosen_on();
        }
        if (!in.took(got)) return false;
        if (!error.empty()) in.fail(error);
        return true;
    }
    // Chooses on the tree just read: "" or what is wrong with it.
    std::string chosen_on() {
        std::string error = choosing->choose(t, in.names());
        if (error.empty() && clock) choosing->forget_clock();
        return error;
    }
    // The most bytes the line of the tree just chosen on takes.
    std::size_t room() const { return choosing->longest() + t.text.size() + 2; }
    void load(const dates_given& dates, roots::options& how) {
        if (dates.kind == "names") return;
        std::string error;
        if (dates.kind == "path") {
            const int fd = ::open(dates.path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) raise_os_error(errno, dates.path);
            ::close(fd);
            py::gil_scoped_release free;
            error = table.load(dates.path);
        } else {
            std::vector<std::pair<std::string_view, double>> rows;
            rows.reserve(dates.rows.size());
            for (const auto& [name, year] : dates.rows) rows.emplace_back(name, year);
            error = table.assign(rows);
        }
        if (!error.empty()) throw py::value_error(error);
        how.dates = &table;
    }

    tree_source in;
    standard::dates_table table;  // outlives the chooser, which reads it
    std::unique_ptr<roots::chooser> choosing;
    standard::tree t;
    byte_buffer line;  // room for a line, kept from one tree to the next
    bool clock = false;
    bool busy = false;
};

// Every rooting of every tree of a source, a line each.
class every_rooting {
public:
    every_rooting(const std::string& kind, py::object what, bool support)
        : in(kind, std::move(what)),
          labels(support ? standard::internal_labels::supports : standard::internal_labels::names) {}

    std::optional<py::str> next_line() {
        const at_work working(busy);
        while (!lines || *at == lines->chosen().end()) {
            lines.reset();
            in.start();
            standard::reader::result got;
            {
                py::gil_scoped_release free;
                got = in.read(t);
                if (got == standard::reader::read) {
                    lines = std::make_unique<standard::rootings>(t, labels, space);
                    lines->prepare_all();
                    at = lines->chosen().begin();
                }
            }
            if (!in.took(got)) return std::nullopt;
        }
        const standard::node_ref n = **at;
        ++*at;
        if (t.nodes.size() > big)
            return made_text(lines->longest(), line, [this, n](char* p) { return lines->write(n, p); });
        char* p = line.room(lines->longest());
        return text_of(p, static_cast<std::size_t>(lines->write(n, p) - p));
    }

private:
    // A tree of more nodes than this has its lines made with the
    // interpreter free: for fewer, freeing it costs more than it gives.
    static constexpr std::size_t big = 4096;
    tree_source in;
    const standard::internal_labels labels;
    standard::rooting_space space;  // kept from one tree to the next
    standard::tree t;
    std::unique_ptr<standard::rootings> lines;  // of t, in space
    std::optional<standard::rootings::chosen_nodes::iterator> at;  // in lines->chosen()
    byte_buffer line;  // room for a line
    bool busy = false;
};

template <class T>
T next_or_stop(std::optional<T> got) {
    if (!got) throw py::stop_iteration();
    return std::move(*got);
}

}  // namespace

PYBIND11_MODULE(_quorlen, m) {
    m.doc() = "The native part of the quorlen package; use the package's functions.";
    m.attr("__version__") = QUORLEN_VERSION;
    m.def("set_tree_error", [](py::object error) {
        Py_XDECREF(tree_error);
        tree_error = error.release().ptr();
    });
    py::class_<dates_given>(m, "Dates")
        .def(py::init([](std::string kind, std::string path, std::vector<std::pair<std::string, double>> rows) {
            return dates_given{std::move(kind), std::move(path), std::move(rows)};
        }));
    py::class_<chosen>(m, "Roots")
        .def(py::init<const std::string&, py::object, const std::string&, std::vector<std::vector<std::string>>,
                      bool, const dates_given&, bool>())
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", [](chosen& c) { return next_or_stop(c.next_line()); })
        .def("next_rows", [](chosen& c) { return c.next_rows(); });
    py::class_<every_rooting>(m, "Rootings")
        .def(py::init<const std::string&, py::object, bool>())
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", [](every_rooting& r) { return next_or_stop(r.next_line()); });
}
