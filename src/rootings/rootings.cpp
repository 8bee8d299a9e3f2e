// Writing every rooting of one tree: the path to the old root afresh, the
// rest copied as text.
#include "rootings/rootings.h"

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "reading/decimal.h"

namespace quorlen::standard {

namespace {

// The length, or empty for none.
std::string written_length(bool present, const decimal& length) {
    std::string out;
    if (present) write_decimal(length, out);
    return out;
}

decimal read_length(std::string_view text) {
    decimal d;
    parse_decimal(text, d);  // the reader let only numbers through
    return d;
}

}  // namespace

rootings::rootings(const tree& in, internal_labels kind)
    : t(in), supports(kind == internal_labels::supports), own(new rooting_space), space(*own) {
    start();
}

rootings::rootings(const tree& in, internal_labels kind, rooting_space& lent)
    : t(in), supports(kind == internal_labels::supports), space(lent) {
    start();
}

void rootings::start() {
    space.kept_at.clear();  // nothing kept of another tree
    const node_ref root = 0;
    dissolved = t.two_children(root);
    if (dissolved) {
        first = 1;  // pre-order: the root's first child comes next
        second = t.after(first);
        const bool present = t.nodes[first].has_length() || t.nodes[second].has_length();
        if (!present) {
            merged.clear();
            merged_half.clear();
        } else if (!write_plain_sum(t.length(first), t.length(second), merged, merged_half)) {
            const decimal sum = add(read_length(t.length(first)), read_length(t.length(second)));
            merged = written_length(true, sum);
            merged_half = written_length(true, half(sum));
        }
        // A leaf's branch has no support to show: a leaf's label is its name.
        if (!t.nodes[first].is_leaf() && !t.nodes[second].is_leaf())
            merged_support = support_of(first).empty() ? support_of(second) : support_of(first);
    }
}

// The support that n's label gives the branch above it. None for a leaf,
// whose label is its name, nor below a root of one child, a leaf of the
// unrooted tree.
std::string_view rootings::support_of(node_ref n) const {
    const node& v = t.nodes[n];
    if (v.is_leaf() || (v.parent == 0 && t.one_child(0))) return {};
    return t.label(n);
}

std::size_t rootings::longest() const {
    constexpr std::size_t longest_length = 2 * max_exponent + 64;
    return longest_beyond() + 2 * longest_length + 16;  // and 16 of room past the end for put_padded
}

std::size_t rootings::longest_beyond() const {
    // Every piece of a rooting is a piece of the text, and none but the
    // chosen branch's halves, supports and merged length (and its ":")
    // stands twice.
    return 2 * t.text.size() + 2 * (merged.size() + 1) + 8;
}

// Pieces of the tree's text and of the text kept are copied by put_padded:
// both can be read 16 bytes past their end, and a line has room for 16 more.

// ":" and the length, or nothing for none.
template <class Out>
Out put_length(Out p, std::string_view length) {
    if (length.empty()) return p;
    return put(put(p, ':'), length);
}

// n's annotation with another label and length (a number, or empty for
// none); its comments as read, those after its ":" after the new one's.
// Empty parts are skipped, and the label and comments copied in one piece
// where they can be: lines are made of many small pieces.
template <class Out>
Out rootings::annotate(node_ref n, std::string_view label, std::string_view length, Out p) const {
    const node& v = t.nodes[n];
    if (is_label(n, label)) {
        p = put_padded(p, t.span(v.label_at(), v.colon));
    } else {
        p = put_padded(p, label);
        p = put_padded(p, t.span(v.label_end, v.colon));
    }
    return annotate_length(n, length, p);
}

// Whether label is n's own, as read.
bool rootings::is_label(node_ref n, std::string_view label) const {
    const node& v = t.nodes[n];
    return label.data() == t.text.data() + v.label_at() && label.size() == v.label_end - v.label_at();
}

// The rest of n's annotation from its ":" on, with another length.
template <class Out>
Out rootings::annotate_length(node_ref n, std::string_view length, Out p) const {
    const node& v = t.nodes[n];
    if (!length.empty()) p = put(p, ':');
    if (!plain_colon(n)) p = put_padded(p, t.colon_comments(n));
    p = put(p, length);
    return put_padded(p, t.span(v.length_end, v.end));
}

// Whether n's length, with its ":", is one piece of the text: no comment
// stands between them. True when n has no length.
bool rootings::plain_colon(node_ref n) const {
    if (!t.comments) return true;
    const node& v = t.nodes[n];
    return !v.has_length() || t.text[v.colon + 1] != '[';
}

// n's text as read, but for its label and length.
template <class Out>
Out rootings::write_node(node_ref n, std::string_view label, std::string_view length, Out p) const {
    if (is_label(n, label)) return annotate_length(n, length, put_padded(p, t.span(t.nodes[n].start, t.nodes[n].colon)));
    p = put_padded(p, t.span(t.nodes[n].start, t.nodes[n].label_at()));
    return annotate(n, label, length, p);
}

// "(" and the text of n's children but one, in their order, separated by
// ",": what stands before that one's text, and what after; with `comma`, a
// "," after them where there are any.
template <class Out>
Out rootings::open_children_but(node_ref n, node_ref but, bool comma, Out p) const {
    const node &v = t.nodes[n], &b = t.nodes[but];
    const bool before = b.start > v.start + 1, after = b.end < v.close;
    if (before) {
        p = put_padded(p, t.span(v.start, b.start - 1));  // from the "(" on
        if (after) p = put_padded(p, t.span(b.end, v.close));  // from the "," on
    } else {
        p = put(p, '(');
        if (after) p = put_padded(p, t.span(b.end + 1, v.close));
    }
    if (comma && (before || after)) p = put(p, ',');
    return p;
}

void rootings::write(node_ref chosen, std::string& out) {
    char* p = space.scratch.room(longest());
    out.append(p, static_cast<std::size_t>(write(chosen, p) - p));
}

void rootings::write(node_ref chosen, std::string_view first_length, std::string_view second_length, std::string& out) {
    char* p = space.scratch.room(longest());
    out.append(p, static_cast<std::size_t>(write(chosen, first_length, second_length, p) - p));
}

std::string_view rootings::branch_length(node_ref n) const {
    if (dissolved && t.nodes[n].parent == 0) return merged;
    return t.length(n);
}

char* rootings::write(node_ref chosen, char* p) { return write_middle(chosen, p); }

line_cursor rootings::write(node_ref chosen, line_cursor p) { return write_middle(chosen, p); }

template <class Out>
Out rootings::write_middle(node_ref chosen, Out p) {
    if (dissolved && t.nodes[chosen].parent == 0) return write(chosen, merged_half, merged_half, p);
    if (!t.nodes[chosen].has_length()) return write(chosen, {}, {}, p);
    char quick[64];
    if (const char* end = write_plain_half(t.length(chosen), quick)) {
        const std::string_view half(quick, static_cast<std::size_t>(end - quick));
        return write(chosen, half, half, p);
    }
    half_length.clear();
    write_half(t.length(chosen), half_length);
    return write(chosen, half_length, half_length, p);
}

// Up from x to its parent: "(" the parent's other children "," (the rest of
// the way stands after). Below a two-child root, the root's other child ends
// the way, on the merged branch, which takes x's length in the line.
template <class Out>
Out rootings::up(node_ref x, std::string_view length, Out p) const {
    const node_ref root = 0, y = t.nodes[x].parent;
    if (y == root && dissolved) {
        const node_ref other = x == first ? second : first;
        const bool relabel = supports && !t.nodes[other].is_leaf();
        return write_node(other, relabel ? merged_support : t.label(other), length, p);
    }
    if (y != root) return open_children_but(y, x, true, p);
    if (t.one_child(y)) return p;  // a leaf now: no children
    return open_children_but(y, x, false, p);  // nothing after the root's
}

// Back down to x: ")" and the parent's annotation, with the length of the
// branch it now hangs from, x's, and with supports that branch's support;
// x's branch the chosen one, whose length in the line is a part of what was
// read.
template <class Out>
Out rootings::down(node_ref x, std::string_view length, std::string_view support, Out p) const {
    const node_ref root = 0, y = t.nodes[x].parent;
    if (y == root && dissolved) return p;
    if (y != root) return annotate(y, supports ? support : t.label(y), length, put(p, ')'));
    // A root of one child is now a leaf, with no support to show.
    if (t.one_child(y)) return put_length(p, length);
    // The root's label and comments stay with the root.
    p = put(p, ')');
    if (supports) p = put_padded(p, support);
    return put_length(p, length);
}

// The same for x, an internal node above the chosen one: its branch keeps
// its length and support as read.
template <class Out>
Out rootings::down_beyond(node_ref x, Out p) const {
    const node_ref root = 0, y = t.nodes[x].parent;
    if (y != root && plain_colon(x) && plain_colon(y)) {
        // Most of the way, in fewer pieces: x has its length as read, its ":"
        // and number in one piece. With names, ")", y's label and its
        // comments before the length stand together; with supports, x's
        // ")", label and length do where no comment stands between them.
        const node &u = t.nodes[x], &v = t.nodes[y];
        if (!supports) {
            p = put_padded(p, t.span(v.close, v.colon));
            p = put_padded(p, t.span(u.colon, u.length_end));
        } else if (!t.comments || (u.label_end == u.colon && v.label_end == v.colon)) {
            p = put_padded(p, t.span(u.close, u.length_end));
        } else {
            p = put_padded(put(p, ')'), t.label(x));
            p = put_padded(p, t.span(v.label_end, v.colon));
            p = put_padded(p, t.span(u.colon, u.length_end));
        }
        return v.length_end == v.end ? p : put_padded(p, t.span(v.length_end, v.end));
    }
    return down(x, t.length(x), support_of(x), p);
}

// The way from x up to the old root and back down to x, x's branch not the
// chosen one.
template <class Out>
Out rootings::beyond(node_ref x, Out p) {
    const node_ref root = 0;
    space.path.clear();
    // No memory is asked for once the line has begun: it may be going out.
    space.path.reserve(t.nodes.size());
    for (;; x = t.nodes[x].parent) {
        p = up(x, merged, p);
        space.path.push_back(x);
        if (t.nodes[x].parent == root) break;
    }
    for (std::size_t i = space.path.size(); i-- > 0;) {
        x = space.path[i];
        p = down_beyond(x, p);
    }
    return p;
}

// The way beyond x that prepare_all kept: empty for the root and a leaf.
std::string_view rootings::kept_beyond(node_ref x) const {
    const rooting_space::kept_span& k = space.kept_at[x];
    return std::string_view(space.kept.data() + k.from, k.to - k.from);
}

void rootings::prepare_all() {
    // Worth it for small trees, whose lines are made of few bytes and many
    // pieces; a big tree's would take more memory than its lines are worth.
    constexpr std::size_t most = std::size_t{4} << 20;
    const std::size_t n = t.nodes.size();
    if (n < 3 || longest_beyond() > most / n) return;
    space.kept.clear();
    space.kept_at.clear();
    space.kept_at.room(n);
    space.kept_at.push_back({0, 0});  // the root has no way beyond
    for (node_ref x = 1; x < n; ++x) {
        // Only an internal node is ever above the chosen one; in pre-order,
        // x's parent's way is kept already.
        if (t.nodes[x].is_leaf()) {
            space.kept_at.push_back({0, 0});
            continue;
        }
        const node_ref y = t.nodes[x].parent;
        const std::size_t from = space.kept.size();
        char* p = space.kept.room(longest_beyond());
        p = up(x, merged, p);
        p = put_padded(p, kept_beyond(y));  // after the room is made: the text kept may have moved
        p = down_beyond(x, p);
        space.kept.wrote(p);
        space.kept_at.push_back({static_cast<std::uint32_t>(from), static_cast<std::uint32_t>(space.kept.size())});
    }
}

char* rootings::write(node_ref chosen, std::string_view first_length, std::string_view second_length, char* p) {
    return write_at(chosen, first_length, second_length, p);
}

line_cursor rootings::write(node_ref chosen, std::string_view first_length, std::string_view second_length, line_cursor p) {
    return write_at(chosen, first_length, second_length, p);
}

template <class Out>
[[gnu::flatten]] Out rootings::write_at(node_ref chosen, std::string_view first_length, std::string_view second_length, Out p) {
    const node_ref root = 0;
    const node_ref above = t.nodes[chosen].parent;
    if constexpr (std::is_same_v<Out, char*>) {
        if (!t.comments && above != root && !space.kept_at.empty())
            return write_plain(chosen, first_length, second_length, p);
    }
    const bool at_root = dissolved && above == root;
    const std::string_view support = at_root ? merged_support : support_of(chosen);

    p = put(put_padded(p, t.span(0, t.leading)), '(');
    p = write_node(chosen, supports && !t.nodes[chosen].is_leaf() ? support : t.label(chosen), first_length, p);
    p = put(p, ',');
    // Up the old rooting: each node's former parent becomes its last child,
    // "(" its other children "," and then the former parent; then back down.
    p = up(chosen, second_length, p);
    if (above != root) {
        if (!space.kept_at.empty())
            p = put_padded(p, kept_beyond(above));
        else
            p = beyond(above, p);
    }
    p = down(chosen, second_length, support, p);
    p = put_padded(put(p, ')'), t.span(t.nodes[root].label_at(), t.nodes[root].end));
    return put(p, ';');
}

// The same as write_at where no comment stands among the nodes, the chosen
// node's parent is not the root, and the way beyond that parent is kept:
// most of the line is then the chosen node's text, the parent's other
// children and the way kept, and every annotation is a label and a length.
char* rootings::write_plain(node_ref chosen, std::string_view first_length, std::string_view second_length, char* p) const {
    const node_ref root = 0;
    const node &c = t.nodes[chosen], &r = t.nodes[root];
    const node_ref above = c.parent;
    p = put_padded(p, t.span(0, t.leading));
    *p++ = '(';
    // Its support, with supports, is its label, which stays with it.
    p = put_padded(p, t.span(c.start, c.colon));
    p = put_length(p, first_length);
    *p++ = ',';
    p = open_children_but(above, chosen, true, p);
    p = put_padded(p, kept_beyond(above));
    // The parent, its last child now, with the chosen branch's support or
    // its own name.
    *p++ = ')';
    p = put_padded(p, supports ? support_of(chosen) : t.label(above));
    p = put_length(p, second_length);
    *p++ = ')';
    p = put_padded(p, t.span(r.label_at(), r.end));
    *p++ = ';';
    return p;
}

}  // namespace quorlen::standard
