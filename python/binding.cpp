// The Python module's native part: iterators over the trees of a source,
// each tree read, rooted and written by the core library exactly as the
// command line does it, one tree at a time. The package around it
// (quorlen/__init__.py) checks the arguments and documents them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "choosing/choose.h"
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
py::str text_of(const std::string& bytes) {
    PyObject* s = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "surrogateescape");
    if (!s) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

// The trees of a source, one at a time: text held here, or a file read as
// the trees are wanted. NEXUS trees come with their leaves named.
class tree_source {
public:
    // kind "text": `what` is the text; "path": the file's path.
    tree_source(const std::string& kind, std::string what) {
        if (kind == "text") {
            text = std::move(what);
            input = std::make_unique<standard::tree_input>(std::string_view(text), true);
            return;
        }
        fd = ::open(what.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) raise_os_error(errno, what);
        struct stat about;
        if (fstat(fd, &about) == 0 && S_ISDIR(about.st_mode)) {
            ::close(fd);
            fd = -1;
            raise_os_error(EISDIR, what);
        }
        path = std::move(what);
        input = std::make_unique<standard::tree_input>(fd, nullptr, true);
    }
    tree_source(const tree_source&) = delete;
    tree_source& operator=(const tree_source&) = delete;
    ~tree_source() { finish(); }

    // Reads the next tree into t, the interpreter free meanwhile; false at
    // the end. A malformed tree raises TreeError, an unreadable file
    // OSError; either ends the source.
    bool next(standard::tree& t) {
        if (done) return false;
        if (PyErr_CheckSignals() != 0) {
            finish();
            throw py::error_already_set();
        }
        standard::reader::result got;
        int error = 0;
        {
            py::gil_scoped_release free;
            errno = 0;
            got = input->next(t);
            error = errno;
        }
        if (got == standard::reader::read) {
            ++count;
            return true;
        }
        finish();
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
    std::string text, path;
    int fd = -1;
    std::unique_ptr<standard::tree_input> input;  // reads text or fd
    std::size_t count = 0;                        // the trees read
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
    chosen(const std::string& kind, std::string what, const std::string& method,
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

    // The next tree's line, without its line end; none at the end.
    std::optional<py::str> next_line() {
        if (!next_tree()) return std::nullopt;
        {
            py::gil_scoped_release free;
            line.clear();
            choosing->write(t, line);
        }
        return text_of(line);
    }

    // The next tree's rows, one a branch, as the table of scores has them.
    std::optional<py::list> next_rows() {
        if (!next_tree()) return std::nullopt;
        py::list rows;
        std::size_t branch = 0;
        const py::object none = py::none();
        for (const roots::scored_branch& s : choosing->scores()) {
            py::dict row;
            row["tree"] = in.trees();
            row["branch"] = ++branch;
            line.assign(t.label(s.chosen));
            row["node"] = text_of(line);
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
        if (!in.next(t)) return false;
        std::string error;
        {
            py::gil_scoped_release free;
            error = choosing->choose(t, in.names());
            if (error.empty() && clock) choosing->forget_clock();
        }
        if (!error.empty()) in.fail(error);
        return true;
    }
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
    std::string line;  // kept from one tree to the next
    bool clock = false;
};

// Every rooting of every tree of a source, a line each.
class every_rooting {
public:
    every_rooting(const std::string& kind, std::string what, bool support)
        : in(kind, std::move(what)),
          labels(support ? standard::internal_labels::supports : standard::internal_labels::names) {}

    std::optional<py::str> next_line() {
        while (!lines || *at == lines->chosen().end()) {
            lines.reset();
            if (!in.next(t)) return std::nullopt;
            py::gil_scoped_release free;
            lines = std::make_unique<standard::rootings>(t, labels, space);
            lines->prepare_all();
            at = lines->chosen().begin();
        }
        const standard::node_ref n = **at;
        ++*at;
        line.clear();
        if (t.nodes.size() > big) {
            py::gil_scoped_release free;
            lines->write(n, line);
        } else {
            lines->write(n, line);
        }
        return text_of(line);
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
    std::string line;
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
        .def(py::init<const std::string&, std::string, const std::string&, std::vector<std::vector<std::string>>,
                      bool, const dates_given&, bool>())
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", [](chosen& c) { return next_or_stop(c.next_line()); })
        .def("next_rows", [](chosen& c) { return c.next_rows(); });
    py::class_<every_rooting>(m, "Rootings")
        .def(py::init<const std::string&, std::string, bool>())
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", [](every_rooting& r) { return next_or_stop(r.next_line()); });
}
