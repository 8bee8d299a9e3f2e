// Trees as phylogenetics programs write them: any number of children, quoted
// labels, comments and branch lengths, spread over lines or several to a
// line. The reader takes them from a stream one at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/memory.h"

namespace quorlen::standard {

using node_ref = std::uint32_t;
inline constexpr node_ref none = UINT32_MAX;

// One node of a tree as read: where each part of its text stands in the
// tree's text. A subtree's text is text[start, end): for an internal node
// "(" children ")" then its annotation; for a leaf the annotation alone. The
// annotation is the label [label_at, label_end), the comments before the
// length [label_end, colon), the length with its ":" [colon, length_end)
// (comments may stand between the ":" and the number: ":[&rate=0.9]3.1"),
// and the comments after it [length_end, end). With no length,
// colon == length_end == end.
// Seven 32-bit fields, 28 bytes. Nodes of 20 bytes, the annotation's
// places in 16 bits, saved 14 MB and 2.4 ms on a tree of a million leaves
// but cost files of small trees 10% more instructions: they were dropped.
struct node {
    node_ref parent = none;      // none iff the root
    std::uint32_t start = 0;
    std::uint32_t close = none;  // where its ")" stands; none iff a leaf
    std::uint32_t label_end = 0;  // label_end to end: while its group is read, where its "(" stands
    std::uint32_t colon = 0;
    std::uint32_t length_end = 0;
    std::uint32_t end = 0;

    bool is_leaf() const { return close == none; }
    std::uint32_t label_at() const { return is_leaf() ? start : close + 1; }
    bool has_length() const { return colon != length_end; }
};

// What an iterator over nodes declares of itself: a forward iterator.
struct node_iterator_types {
    using iterator_category = std::forward_iterator_tag;
    using value_type = node_ref;
    using difference_type = std::ptrdiff_t;
    using pointer = const node_ref*;
    using reference = const node_ref&;
};

// One tree as read, its blanks outside quotes and comments left out.
struct tree {
    byte_buffer text;
    // The comments before the tree's first node: text[0, leading).
    std::uint32_t leading = 0;
    // Whether a comment stands in the text past those: where none does,
    // each node's annotation is its label, and ":" and its number, if any.
    bool comments = false;
    // Every node in the order its text starts (pre-order): the root first,
    // and each node after its parent. A subtree's nodes stand together: n's
    // are [n, after(n)), its first child n + 1.
    pod_array<node> nodes;

    // text[from, to), from <= to <= text.size().
    std::string_view span(std::uint32_t from, std::uint32_t to) const {
        return std::string_view(text.data() + from, to - from);
    }
    std::string_view label(node_ref n) const { return span(nodes[n].label_at(), nodes[n].label_end); }
    // Where n's number starts: after its ":" and the comments that may follow
    // it (a number holds no "]"). length_end when it has no length.
    std::uint32_t length_at(node_ref n) const {
        const node& v = nodes[n];
        if (!v.has_length()) return v.length_end;
        std::uint32_t at = v.colon + 1;
        if (text[at] == '[')
            for (at = v.length_end; text[at - 1] != ']';) --at;
        return at;
    }
    // The length, its number alone; empty when there is none.
    std::string_view length(node_ref n) const { return span(length_at(n), nodes[n].length_end); }
    // The comments between n's ":" and its number, which stay with n
    // whatever length it has in a rooting.
    std::string_view colon_comments(node_ref n) const {
        const node& v = nodes[n];
        return v.has_length() ? span(v.colon + 1, length_at(n)) : std::string_view();
    }
    std::string_view subtree(node_ref n) const { return span(nodes[n].start, nodes[n].end); }
    // The first node after n's subtree in pre-order: n's next sibling, if it
    // has one; nodes.size() if none comes after.
    node_ref after(node_ref n) const;
    // Whether internal n has one child: its first child's text ends at n's
    // ")" (what ends a child's text is "," or its parent's ")").
    bool one_child(node_ref n) const { return nodes[n + 1].end == nodes[n].close; }
    // Whether n has two children (a root of two is no node of the unrooted
    // tree).
    bool two_children(node_ref n) const {
        if (nodes[n].is_leaf()) return false;
        const node_ref second = after(n + 1);
        return second < nodes.size() && nodes[second].end == nodes[n].close;
    }

    // The nodes in the order their text ends (post-order), the root last,
    // found as they are walked: after n comes its parent, where n is the
    // last child, else the first leaf of n's next sibling.
    class post_order_walk {
    public:
        class iterator : public node_iterator_types {
        public:
            iterator(const tree* t, node_ref at) : t(t), at(at) {
                if (at != none) descend(at);
            }
            const node_ref& operator*() const { return at; }
            iterator& operator++() {
                const node_ref up = t->nodes[at].parent;
                if (up == none) {
                    at = none;
                } else if (t->nodes[at].end == t->nodes[up].close) {
                    at = up;
                } else {
                    descend(next);  // the next sibling
                }
                return *this;
            }
            bool operator==(const iterator& o) const { return at == o.at; }
            bool operator!=(const iterator& o) const { return at != o.at; }
            bool done() const { return at == none; }

        private:
            // To the first leaf of n's subtree.
            void descend(node_ref n) {
                while (!t->nodes[n].is_leaf()) ++n;
                at = n;
                next = n + 1;
            }
            const tree* t;
            node_ref at;  // none at the end
            // One past the last node walked, which is after(at): every node
            // before it in pre-order is walked, but at's ancestors.
            node_ref next = 0;
        };
        explicit post_order_walk(const tree& t) : t(t) {}
        iterator begin() const { return iterator(&t, t.nodes.empty() ? none : 0); }
        iterator end() const { return iterator(&t, none); }

    private:
        const tree& t;
    };
    post_order_walk post_order() const { return post_order_walk(*this); }
    void clear();
};

// A label's value: without its quotes, a doubled quote inside one.
std::string label_value(std::string_view label);
// The label of a value: as it is, or quoted where it is empty or holds a
// blank or a byte of Newick's syntax, a quote doubled.
std::string as_label(std::string_view value);

// Where in the input an error stands, and what it is.
struct read_error {
    std::size_t tree = 0;  // counted from 1
    std::size_t line = 0, column = 0;  // counted from 1; a column counts bytes
    std::string what;
    // "tree T, line L, column C: what"
    std::string message() const;
};

// Reads trees from a stream, one at a time.
class reader {
public:
    // From a file descriptor, read as the trees are wanted, so that a pipe
    // gives each tree as soon as it is written. Before each read, which may
    // wait for the writer, `before_reading` is called: the lines of the
    // trees read so far can be written then.
    explicit reader(int fd, std::function<void()> before_reading = {})
        : fd(fd), before_reading(std::move(before_reading)), buffer(new char[block]), data(buffer.get()) {}
    // From a function that reads, as read(2) does, up to n bytes into p:
    // how many it read, 0 at the end, -1 if it could not.
    using source = std::function<long(char* p, std::size_t n)>;
    explicit reader(source from)
        : from(std::move(from)), buffer(new char[block]), data(buffer.get()) {}
    // From bytes in memory; the plain parts of a tree taken a piece of at
    // most `piece` bytes at a time (a test's choice).
    explicit reader(std::string_view bytes, std::size_t piece = 1 << 14)
        : data(bytes.data()), filled(bytes.size()), at_end(true), piece(piece > 0 ? piece : 1) {}
    // What is called before each read from now on.
    void call_before_reading(std::function<void()> f) { before_reading = std::move(f); }
    enum result { read, end, failed };
    // Reads the next tree into t. `end` once only blanks remain; `failed`
    // with error() set on malformed input, on an input with no tree at all,
    // and on a read error.
    result next(tree& t);
    const read_error& error() const { return fault; }
    // The input could not be read, as opposed to being malformed.
    bool input_failed() const { return unreadable; }

    // For a layer that reads what stands around the trees (the commands of
    // a NEXUS file) and hands each tree to next():
    // the next byte, or -1 at the end of the input; taking it (not at the
    // end); and where the next byte stands, its column counted from 1.
    int peek() { return at < filled ? static_cast<unsigned char>(data[at]) : peek_filled(); }
    void advance() {
        if (data[at++] == '\n') {
            ++line;
            line_start = taken + at;
        }
    }
    std::size_t line_number() const { return line; }
    std::size_t column() const { return taken + at - line_start + 1; }
    // After a byte-order mark and blanks, up to n of the bytes not yet taken
    // (n at most a block), reading ahead as need be; fewer at the end.
    std::string_view ahead(std::size_t n);
    // The trees begun so far.
    std::size_t trees_begun() const { return trees; }
    // An error outside any tree, at line and column: it names the tree that
    // would come next. Returns `failed`.
    result fail_between(std::size_t at_line, std::size_t at_column, std::string what);
    // An error in the tree read last, where the input stands now.
    result fail_in_tree(std::string what) { return fail_here(std::move(what)); }

private:
    int peek_filled();
    void start();
    bool fill();
    long read_some(char* p, std::size_t n);
    void skip_blanks() {
        // Most bytes are no blank: those are let through at once.
        if (at < filled && static_cast<unsigned char>(data[at]) > ' ') return;
        skip_some_blanks();
    }
    void skip_some_blanks();
    void copy_plain(tree& t);
    result fail(std::size_t line, std::size_t column, std::string what);
    result fail_here(std::string what) { return fail(line, column(), std::move(what)); }
    bool read_comments(tree& t) {
        if (at < filled && static_cast<unsigned char>(data[at]) > ' ' && data[at] != '[') return true;
        return read_some_comments(t);
    }
    bool read_some_comments(tree& t);
    bool read_label(tree& t);
    // Where quick_nodes stopped: where a node starts, where n's annotation
    // is due, or after n's annotation.
    struct quick_stop {
        enum { node_starts, annotation_due, annotated } where;
        node_ref n;  // none where a node starts
    };
    quick_stop quick_nodes(tree& t);
    bool read_annotation(tree& t, node_ref n, std::size_t depth);
    bool root_lengths_in_range(const tree& t);

    // The input is read into a buffer, not mapped: a tree's text as a view
    // of the mapped file was slower, the page cache's 4 KiB pages seeming
    // to cost the machine measured dearly when first read (28 MB scanned in
    // 25 to 32 ms mapped, in 13 to 20 ms read into a buffer).
    static constexpr std::size_t block = 1 << 16;
    int fd = -1;
    source from;  // where given, read from instead of fd
    std::function<void()> before_reading;
    std::unique_ptr<char[]> buffer;  // what is read from fd, a block at a time
    const char* data = nullptr;  // the bytes read and not yet taken: data[at, filled)
    std::size_t at = 0, filled = 0;
    bool at_end = false, unreadable = false, started = false;
    std::size_t taken = 0;  // the bytes of the input before data[0]
    std::size_t line = 1;
    std::size_t line_start = 0;  // where the line of the next byte starts in the input
    std::size_t trees = 0;
    std::size_t piece = 1 << 14;  // the most quick_nodes takes at once
    read_error fault;
    // The lengths of the root's children that are not plain_length, and
    // where they stand: whether the rootings can halve them, or sum them,
    // is known once the root's children are counted.
    struct placed {
        node_ref n;
        std::size_t line, column;
    };
    std::vector<placed> root_lengths;
    // The groups open: `depth` of them, the innermost `innermost` (none at
    // depth 0), each the parent of the next. An open group's node has no
    // annotation yet: its fields hold where its "(" stands (opened).
    std::size_t depth = 0;
    node_ref innermost = none;
    static void opened(node& v, std::size_t line, std::size_t column) {
        v.label_end = static_cast<std::uint32_t>(std::min<std::size_t>(line, UINT32_MAX));
        v.colon = static_cast<std::uint32_t>(column);
        v.length_end = static_cast<std::uint32_t>(static_cast<std::uint64_t>(column) >> 32);
    }
    static std::size_t opened_line(const node& v) { return v.label_end; }
    static std::size_t opened_column(const node& v) {
        return static_cast<std::size_t>(v.colon | static_cast<std::uint64_t>(v.length_end) << 32);
    }
};

}  // namespace quorlen::standard
