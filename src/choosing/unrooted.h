// The unrooted tree that every method measures, seen from one of its own
// nodes, and the two passes the methods share: one up the tree and one back
// down, summing up the leaves on each side of every branch.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/memory.h"
#include "reading/newick.h"

namespace quorlen::standard::roots {

// The nodes of the unrooted tree in pre-order from its top, view node v
// standing for the node v + offset as read. A root of two children is no
// node of the unrooted tree: there the top is the root's first child, and
// the root's second child hangs below it on the merged branch, as its last
// child. Otherwise the top is the root as read. Every view node but the top
// is the lower end of one branch, and every branch has one.
class unrooted {
public:
    explicit unrooted(const tree& t);

    const tree& t;
    node_ref offset = 0;         // 1 iff the root as read is dissolved
    std::uint32_t merged = none; // the view node below the merged branch; none without
    // extent[v]: how many nodes v's subtree holds, v too; its subtree is
    // the view nodes [v, v + extent[v]).
    big_vector<std::uint32_t> extent;

    std::uint32_t size() const { return static_cast<std::uint32_t>(extent.size()); }
    node_ref original(std::uint32_t v) const { return v + offset; }
    std::uint32_t parent(std::uint32_t v) const {
        return v == merged ? 0 : t.nodes[v + offset].parent - offset;
    }
    // A leaf of the unrooted tree: a node with no child, or a top with one.
    bool is_leaf(std::uint32_t v) const { return extent[v] == 1 || (v == 0 && top_is_leaf); }
    std::uint32_t leaves() const { return leaf_count; }

    // The branch's node in the standard mode's rootings, and whether a
    // point on it is measured from the other end: the merged branch is its
    // upper end's (the root's first child as read).
    node_ref chosen(std::uint32_t v) const { return v == merged ? offset : v + offset; }
    bool flipped(std::uint32_t v) const { return v == merged; }
    // The branch whose rooting chooses n.
    std::uint32_t branch_of(node_ref n) const {
        return merged != none && n == offset ? merged : n - offset;
    }
    // Whether branch a comes before branch b among the standard mode's
    // rootings (post-order as read).
    bool before(std::uint32_t a, std::uint32_t b) const;

    // The length of the branch above view node v, as a double (a missing
    // length 0; the merged branch is the sum of its two); and of every one.
    double length(std::uint32_t v) const;
    big_vector<double> lengths() const;

private:
    bool top_is_leaf = false;
    std::uint32_t leaf_count = 0;
};

// A length as read, as the nearest double.
double length_value(std::string_view text);

// plain_length's answer, a byte at a time.
inline bool plain_length_by_bytes(std::string_view text, std::uint64_t& digits, int& places) {
    std::uint64_t value = 0;
    int count = 0, after = -1;
    for (char c : text) {
        const unsigned x = static_cast<unsigned char>(c) - unsigned('0');
        if (x < 10) {
            value = value * 10 + x;
            ++count;
        } else if (c == '.' && after < 0) {
            after = count;
        } else {
            return false;
        }
    }
    if (count > 18) return false;
    digits = value;
    places = after < 0 ? 0 : count - after;
    return true;
}

// A length of a tree's text that is a plain decimal, digits with at most
// one point and no sign: its digits, at most 18, as an integer, and how many
// stand after the point; false for any other. Most lengths are such, and a
// million of them are read for each method: a length of up to 8 bytes is
// taken in one 8-byte word (the text's slack makes the bytes past its end
// readable), the rest a byte at a time.
inline bool plain_length(std::string_view text, std::uint64_t& digits, int& places) {
    const std::size_t n = text.size();
    if (n <= 8) {
        if (n == 0) {
            digits = 0;
            places = 0;
            return true;
        }
        std::uint64_t w;
        std::memcpy(&w, text.data(), 8);
        const std::uint64_t keep = n == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * n)) - 1;
        // Each byte's value as a digit; a byte of 10 or more is no digit
        // (one of 128 or more carries into the next, which is then marked
        // too, but that one is already wrong).
        std::uint64_t d = (w ^ 0x3030303030303030u) & keep;
        const std::uint64_t bad = ((d + 0x7676767676767676u) | d) & 0x8080808080808080u & keep;
        std::size_t count = n;
        places = 0;
        if (bad) {
            if (bad & (bad - 1)) return false;
            const unsigned k = static_cast<unsigned>(__builtin_ctzll(bad)) >> 3;
            if (text[k] != '.') return false;
            // The point taken out: the digits after it move down a byte.
            const std::uint64_t low = d & ((std::uint64_t{1} << (8 * k)) - 1);
            const std::uint64_t high = k == 7 ? 0 : (d >> (8 * k + 8)) << (8 * k);
            d = low | high;
            count = n - 1;
            places = static_cast<int>(count - k);
            if (count == 0) {
                digits = 0;
                return true;
            }
        }
        // The first digit in the lowest byte: moved up to stand in the
        // eighth place, the digits are joined in pairs, fours and eights.
        d <<= 8 * (8 - count);
        d = (d * 10 + (d >> 8)) & 0x00FF00FF00FF00FFu;
        d = (d * 100 + (d >> 16)) & 0x0000FFFF0000FFFFu;
        digits = (d * 10000 + (d >> 32)) & 0xFFFFFFFFu;
        return true;
    }
    return plain_length_by_bytes(text, digits, places);
}

// A length of a tree's text, as the nearest double: length_value's, the
// plain ones by plain_length.
double tree_length_value(std::string_view text);

// For every branch v, a summary S of the leaves on each side: `below`, of
// v's side seen from v, and `above`, of the other side seen from v's parent
// end, handed to visit(v, below, above) once for each branch, parents'
// branches before their children's. Ops gives leaf v seen from itself,
// leaf(v, i), i its number among the leaves in pre-order from 0; none(); join(a, b) of two disjoint sets; and away(a, v), a seen
// from the far end of the branch above v. One pass up and one back down,
// with no recursion; memory is one S an inner node (a leaf's is leaf(v, i),
// made again where it is wanted) and an index a node.
template <class S, class Ops, class Visit>
void fold_sides(const unrooted& u, const Ops& ops, Visit&& visit) {
    const std::uint32_t m = u.size();
    // at[v]: v's slot, for a node with children; a leaf's number, for a leaf
    // (a top that is a leaf is number 0).
    big_vector<std::uint32_t> at(m, none);
    std::uint32_t inner = 0, leaves = u.is_leaf(0);
    for (std::uint32_t v = 0; v < m; ++v) at[v] = u.extent[v] > 1 ? inner++ : leaves++;
    big_vector<S> slot(inner, ops.none());
    auto below = [&](std::uint32_t v) { return u.extent[v] == 1 ? ops.leaf(v, at[v]) : slot[at[v]]; };
    // Up: children come after their parents in pre-order.
    for (std::uint32_t v = m; v-- > 1;) {
        S& p = slot[at[u.parent(v)]];
        p = ops.join(p, ops.away(below(v), v));
    }
    // Down: slot[at[v]] is below(v) until v's branch is visited, then
    // above(v).
    std::vector<S> seen, after;
    std::vector<std::uint32_t> kids;
    for (std::uint32_t p = 0; p < m; ++p) {
        if (u.extent[p] == 1) continue;
        S outside = p == 0 ? (u.is_leaf(0) ? ops.leaf(0, 0) : ops.none()) : ops.away(slot[at[p]], p);
        const std::uint32_t c0 = p + 1, c1 = c0 + u.extent[c0];
        if (c1 < p + u.extent[p] && c1 + u.extent[c1] == p + u.extent[p]) {
            // Two children, the most common case: the joins below as the
            // general case makes them, without its lists (joining with
            // none changes nothing).
            const S seen0 = ops.away(below(c0), c0), seen1 = ops.away(below(c1), c1);
            S other0 = ops.join(outside, seen1);
            visit(c0, below(c0), other0);
            S other1 = ops.join(outside, seen0);
            if (u.extent[c0] > 1) slot[at[c0]] = std::move(other0);
            visit(c1, below(c1), other1);
            if (u.extent[c1] > 1) slot[at[c1]] = std::move(other1);
            continue;
        }
        kids.clear();
        seen.clear();
        for (std::uint32_t c = p + 1; c < p + u.extent[p]; c += u.extent[c]) {
            kids.push_back(c);
            seen.push_back(ops.away(below(c), c));
        }
        // after[i]: the kids past i-1, joined (after[0], all of them, is
        // never wanted).
        const std::size_t k = kids.size();
        after.assign(k + 1, ops.none());
        for (std::size_t i = k; i-- > 1;) after[i] = ops.join(seen[i], after[i + 1]);
        for (std::size_t i = 0; i < k; ++i) {
            const std::uint32_t c = kids[i];
            S other = ops.join(outside, after[i + 1]);
            visit(c, below(c), other);
            if (i + 1 < k) outside = ops.join(outside, seen[i]);
            if (u.extent[c] > 1) slot[at[c]] = std::move(other);
        }
    }
}

}  // namespace quorlen::standard::roots
