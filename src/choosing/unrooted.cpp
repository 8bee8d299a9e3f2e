// The unrooted view of a tree as read, and the leaf counts passed up and
// down it.
#include "choosing/unrooted.h"

#include <cstdlib>
#include <string>

namespace quorlen::standard::roots {

unrooted::unrooted(const tree& in) : t(in) {
    const std::size_t count = t.nodes.size();
    const bool dissolved = t.two_children(0);
    std::uint32_t m = static_cast<std::uint32_t>(count);
    if (dissolved) {
        offset = 1;
        m -= 1;
        merged = t.after(1) - 1;  // the root's second child, less the root
    }
    extent.assign(m, 1);
    for (std::uint32_t v = m; v-- > 1;) extent[parent(v)] += extent[v];
    top_is_leaf = m > 1 && extent[1] == m - 1;
    for (std::uint32_t v = 0; v < m; ++v) leaf_count += is_leaf(v);
}

bool unrooted::before(std::uint32_t a, std::uint32_t b) const {
    // In post-order a node follows every node of its subtree, and of two
    // nodes neither of which holds the other, the first in pre-order comes
    // first. A chosen node is never the root as read; where the root is
    // dissolved, its first child's subtree as read is the view's nodes
    // before the merged branch's.
    const node_ref x = chosen(a), y = chosen(b);
    auto size = [&](node_ref n) { return offset == 1 && n == 1 ? merged : extent[n - offset]; };
    if (y < x && x < y + size(y)) return true;
    if (x < y && y < x + size(x)) return false;
    return x < y;
}

double unrooted::length(std::uint32_t v) const {
    const double own = tree_length_value(t.length(original(v)));
    return v == merged ? own + tree_length_value(t.length(offset)) : own;
}

big_vector<double> unrooted::lengths() const {
    big_vector<double> out(size(), 0.0);
    if (t.comments) {
        for (std::uint32_t v = 1; v < size(); ++v) out[v] = length(v);
        return out;
    }
    // With no comment in the text, a length is all that follows the ":".
    const node* n = t.nodes.data() + offset;
    for (std::uint32_t v = 1; v < size(); ++v) {
        const std::uint32_t after = n[v].length_end - n[v].colon, has = after != 0;
        out[v] = tree_length_value(std::string_view(t.text.data() + n[v].colon + has, after - has));
    }
    if (merged != none) out[merged] = length(merged);
    return out;
}

namespace {
// Every power of ten a plain length's places call for.
const double tens[] = {1e0, 1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9,
                       1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};
}  // namespace

double tree_length_value(std::string_view text) {
    std::uint64_t digits;
    int places;
    // As length_value makes them, a word at a time.
    if (plain_length(text, digits, places) && digits < (std::uint64_t(1) << 53))
        return static_cast<double>(digits) / tens[places];
    return length_value(text);
}

double length_value(std::string_view text) {
    // Most lengths are short plain decimals: digits, a point, digits. Below
    // 2^53, with at most 18 digits after the point, one division of two
    // exact doubles rounds them correctly, as strtod does the rest.
    std::uint64_t digits;
    int places;
    if (plain_length_by_bytes(text, digits, places) && digits < (std::uint64_t(1) << 53))
        return static_cast<double>(digits) / tens[places];
    return std::strtod(std::string(text).c_str(), nullptr);
}

}  // namespace quorlen::standard::roots
