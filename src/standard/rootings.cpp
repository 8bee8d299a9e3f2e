#include "standard/rootings.h"

#include "standard/decimal.h"

namespace quorlen::standard {

namespace {

// ":" and the length, or empty for none.
std::string written_length(bool present, const decimal& length) {
    std::string out;
    if (present) {
        out += ':';
        write_decimal(length, out);
    }
    return out;
}

decimal read_length(std::string_view text) {
    decimal d;
    parse_decimal(text, d);  // the reader let only numbers through
    return d;
}

}  // namespace

rootings::rootings(const tree& in, internal_labels kind) : t(in), supports(kind == internal_labels::supports) {
    const node_ref root = 0;
    dissolved = !t.nodes[root].is_leaf() && t.nodes[root].children == 2;
    if (dissolved) {
        first = 1;  // pre-order: the root's first child comes next
        for (node_ref n = 2; second == none; ++n)
            if (t.nodes[n].parent == root) second = n;
        const bool present = t.nodes[first].has_length() || t.nodes[second].has_length();
        const decimal sum = add(read_length(t.length(first)), read_length(t.length(second)));
        merged = written_length(present, sum);
        merged_half = written_length(present, half(sum));
        // A leaf's branch has no support to show: a leaf's label is its name.
        if (!t.nodes[first].is_leaf() && !t.nodes[second].is_leaf())
            merged_support = support_of(first).empty() ? support_of(second) : support_of(first);
    }
    nodes.reserve(t.post_order.size());
    for (node_ref n : t.post_order)
        if (n != root && n != second) nodes.push_back(n);
}

// The support that n's label gives the branch above it. None for a leaf,
// whose label is its name, nor below a root of one child, a leaf of the
// unrooted tree.
std::string_view rootings::support_of(node_ref n) const {
    const node& v = t.nodes[n];
    if (v.is_leaf() || (v.parent == 0 && t.nodes[0].children == 1)) return {};
    return t.label(n);
}

// n's annotation with another label and length; its comments as read.
void rootings::annotate(node_ref n, std::string_view label, std::string_view length, std::string& out) const {
    const node& v = t.nodes[n];
    out += label;
    out += t.span(v.label_end, v.colon);
    out += length;
    out += t.span(v.length_end, v.end);
}

// n's text as read, but for its label and length.
void rootings::write_node(node_ref n, std::string_view label, std::string_view length, std::string& out) const {
    out += t.span(t.nodes[n].start, t.nodes[n].label_at());
    annotate(n, label, length, out);
}

// The text of n's children but one, in their order, separated by ",": what
// stands before that one's text, and what after.
void rootings::write_children_but(node_ref n, node_ref but, std::string& out) const {
    const node &v = t.nodes[n], &b = t.nodes[but];
    const bool before = b.start > v.start + 1, after = b.end < v.close;
    if (before) out += t.span(v.start + 1, b.start - 1);
    if (before && after) out += ',';
    if (after) out += t.span(b.end + 1, v.close);
}

void rootings::write(node_ref chosen, std::string& out) {
    const node_ref root = 0;
    const bool at_root = dissolved && t.nodes[chosen].parent == root;
    std::string_view support = at_root ? merged_support : support_of(chosen);
    if (at_root) {
        half_length = merged_half;
    } else {
        half_length = written_length(t.nodes[chosen].has_length(), half(read_length(t.length(chosen))));
    }

    out += t.span(0, t.leading);
    out += '(';
    write_node(chosen, supports && !t.nodes[chosen].is_leaf() ? support : t.label(chosen), half_length, out);
    out += ',';
    // Up the old rooting: each node's former parent becomes its last child.
    steps.clear();
    std::string_view length = half_length;
    for (node_ref x = chosen;;) {
        const node_ref y = t.nodes[x].parent;
        if (y == root && dissolved) {
            // The old root's other child ends the way, on the merged branch.
            const node_ref other = x == first ? second : first;
            const bool relabel = supports && !t.nodes[other].is_leaf();
            write_node(other, relabel ? merged_support : t.label(other), x == chosen ? half_length : merged, out);
            break;
        }
        const bool parens = !(y == root && t.nodes[y].children == 1);
        if (parens) out += '(';
        write_children_but(y, x, out);
        steps.push_back({y, length, support, parens});
        if (y == root) break;
        if (t.nodes[y].children > 1) out += ',';
        length = t.span(t.nodes[y].colon, t.nodes[y].length_end);
        support = support_of(y);
        x = y;
    }
    for (auto s = steps.rbegin(); s != steps.rend(); ++s) {
        if (s->parens) out += ')';
        if (s->n == root) {
            // The root's label and comments stay with the root. A root of one
            // child is now a leaf, which has no support to show.
            if (supports && s->parens) out += s->support;
            out += s->length;
        } else {
            annotate(s->n, supports ? s->support : t.label(s->n), s->length, out);
        }
    }
    out += ')';
    out += t.span(t.nodes[root].label_at(), t.nodes[root].end);
    out += ';';
}

}  // namespace quorlen::standard
