// Minimal ancestor deviation. For a root at x on a branch, a pair of leaves
// b, c at distance D > 0 whose paths to the root meet at a deviates by
// r = 2 d(b,a) / D - 1, and the branch's score is the root mean square of r
// over all pairs, least over x. Pairs on the two sides of the branch meet at
// the root, so theirs is a quadratic in x; pairs on one side meet where
// their paths part, whatever x is.
//
// Quadratic time and linear memory: for each leaf b, the tree seen from b,
// with in every subtree the count of its leaves c, and the sums of 1/D and
// 1/D^2, gives every branch the part of its quadratic that pairs (b, c) make:
//  - c beyond the branch: with u the distance from b to the branch's lower
//    end and s = +1 if b is below it, -1 if not, r = (2(u + s x) - D) / D,
//    so (r D)^2 / D^2 sums to 4 x^2 S2 + 4 s x (2u S2 - S1) + 4u^2 S2 -
//    4u S1 + S0 over those c;
//  - c on b's side, leaving b's way to the branch at a node z: r = 2 d(b,z)
//    / D - 1, whose squares sum to 4 d^2 S2 - 4 d S1 + S0 over the leaves
//    that leave the way at z (a node's sums less its child's on the way),
//    added up along the way.
// Each pair is met from both ends.
#include <algorithm>
#include <cmath>
#include <thread>

#include "choosing/methods.h"

namespace quorlen::standard::roots {

namespace {

struct sums {
    double s0 = 0, s1 = 0, s2 = 0;
    void add(const sums& o) { s0 += o.s0, s1 += o.s1, s2 += o.s2; }
    // sum over the leaves of (2d/D - 1)^2, as 4 d^2 S2 - 4 d S1 + S0
    double squares(double d) const { return d * (4 * d * s2 - 4 * s1) + s0; }
};

// Each branch's quadratic a x^2 + b x + c, x from its lower end, summed
// over the pairs met so far.
struct quadratic {
    double a = 0, b = 0, c = 0;
    void add(const quadratic& o) { a += o.a, b += o.b, c += o.c; }
};

// The tree laid out for the passes over it, one set for each leaf b. Its
// inner nodes, those with children, in level order (breadth first from the
// top): parents come before their children, and the passes up and down meet
// parents nearly in order, so that they stay in cache. The leaves below them
// apart, by their parents' places: a leaf's term is made where it is added
// to its parent, and no pass over the inner nodes walks past a leaf.
struct layout {
    explicit layout(const unrooted& u) : top_leaf(u.extent[0] > 1 && u.is_leaf(0)) {
        const big_vector<double> length = u.lengths();
        inner.push_back(0);
        for (std::size_t i = 0; i < inner.size(); ++i) {
            const std::uint32_t v = inner[i];
            for (std::uint32_t c = v + 1; c < v + u.extent[v]; c += u.extent[c])
                if (u.extent[c] > 1) inner.push_back(c);
        }
        std::vector<std::uint32_t> at(u.size(), 0);
        for (std::uint32_t i = 0; i < inner.size(); ++i) at[inner[i]] = i;
        up.assign(inner.size(), 0);
        inner_length.assign(inner.size(), 0);
        for (std::uint32_t i = 1; i < inner.size(); ++i) {
            up[i] = at[u.parent(inner[i])];
            inner_length[i] = length[inner[i]];
        }
        // A node's inner children stand together in level order, and so
        // do its leaves, laid out by their parents' places.
        inner_kids.assign(inner.size() + 1, 0);
        outer_kids.assign(inner.size() + 1, 0);
        std::uint32_t next_inner = 1;
        for (std::uint32_t i = 0; i < inner.size(); ++i) {
            const std::uint32_t v = inner[i];
            inner_kids[i] = next_inner;
            outer_kids[i] = static_cast<std::uint32_t>(outer.size());
            for (std::uint32_t c = v + 1; c < v + u.extent[v]; c += u.extent[c]) {
                if (u.extent[c] > 1) {
                    ++next_inner;
                    continue;
                }
                outer.push_back(c);
                outer_up.push_back(i);
                outer_length.push_back(length[c]);
            }
        }
        inner_kids.back() = next_inner;
        outer_kids.back() = static_cast<std::uint32_t>(outer.size());
    }
    // The leaves, numbered: those below first, then the top if it is one.
    std::uint32_t leaves() const { return static_cast<std::uint32_t>(outer.size()) + top_leaf; }

    const bool top_leaf;  // the top has one child, and is a leaf too
    std::vector<std::uint32_t> inner, up;  // view nodes, and their parents' places
    std::vector<double> inner_length;
    std::vector<std::uint32_t> outer, outer_up;
    std::vector<double> outer_length;
    // The children of the node at place i: the inner ones at places
    // [inner_kids[i], inner_kids[i + 1]), the leaves [outer_kids[i],
    // outer_kids[i + 1]).
    std::vector<std::uint32_t> inner_kids, outer_kids;
};

// 1, 1/D and 1/D^2 of a leaf at distance D > 0; nothing at 0.
inline sums term(double distance) {
    if (!(distance > 0)) return {};
    const double r = 1 / distance;
    return {1, r, r * r};
}

// Adds the pairs (b, c) met from b to each branch's quadratic. Every sum
// of leaves' terms is made by adding, never by taking one sum from another:
// the terms of the leaves nearest b are by far the largest, and a subtree's
// sums less a part of them would lose the digits of the rest.
class deviations {
public:
    explicit deviations(const layout& l)
        : inner(l.inner.size()), outer(l.outer.size()), tree(l),
          inner_count(static_cast<std::uint32_t>(l.inner.size())),
          d(inner_count, 0), w(inner_count), in(inner_count, 0), on_way(inner_count, 0) {}

    // The pairs of the leaves [from, to); returns twice their number.
    double add(std::uint32_t from, std::uint32_t to) {
        double pairs = 0;
        for (std::uint32_t b = from; b < to; ++b) pairs += add(b);
        return pairs;
    }

    std::vector<quadratic> inner, outer;  // by place

private:
    double add(std::uint32_t b) {
        const layout& l = tree;
        const std::uint32_t below_count = static_cast<std::uint32_t>(l.outer.size());
        const std::uint32_t tag = b + 1;
        const std::uint32_t* up = l.up.data();
        // b's way up to the top (inner places), and the distances along it.
        way.clear();
        std::uint32_t i = 0;
        d[0] = 0;
        if (b < below_count) {
            i = l.outer_up[b];
            d[i] = l.outer_length[b];
        }
        for (;; i = up[i]) {
            on_way[i] = tag;
            way.push_back(i);
            if (i == 0) break;
            d[up[i]] = d[i] + l.inner_length[i];
        }
        // Distances from b; each leaf's terms (b's own 0), summed into its
        // parent's; then each subtree's sums, children before parents.
        const sums top_own = l.top_leaf ? term(d[0]) : sums{};
        const std::uint32_t* outer_kids = l.outer_kids.data();
        const double* outer_length = l.outer_length.data();
        for (i = 0; i < inner_count; ++i) {
            if (on_way[i] != tag) d[i] = d[up[i]] + l.inner_length[i];  // the top is on the way
            const double at = d[i];
            sums s{};
            for (std::uint32_t c = outer_kids[i]; c < outer_kids[i + 1]; ++c)
                if (c != b) s.add(term(at + outer_length[c]));
            w[i] = s;
        }
        w[0].add(top_own);
        for (i = inner_count; i-- > 1;) w[up[i]].add(w[i]);
        const double pairs = w[0].s0;
        // Along the way, from the top down: what lies outside each node's
        // subtree, and off the way at each node (its children but the one
        // on the way, and the top's own term).
        off.assign(way.size(), sums{});
        outside.assign(way.size() + 1, sums{});
        for (std::size_t j = way.size(); j-- > 0;) {
            const std::uint32_t v = way[j], on = j > 0 ? way[j - 1] : none;
            sums s = v == 0 ? top_own : sums{};
            for (std::uint32_t k = l.inner_kids[v]; k < l.inner_kids[v + 1]; ++k)
                if (k != on) s.add(w[k]);
            for (std::uint32_t c = l.outer_kids[v]; c < l.outer_kids[v + 1]; ++c)
                if (c != b) s.add(term(d[v] + l.outer_length[c]));
            off[j] = s;
            outside[j] = outside[j + 1];  // outside[j]: outside way[j - 1]'s subtree
            outside[j].add(s);
        }
        // The branches on the way: b below them, at u from their lower end.
        // The pairs beyond meet at the root; those on b's side where they
        // leave the way.
        double pairs_in = 0;  // on b's side of the branch at hand
        if (b < below_count) add_below(outer[b], outside[0], 0, 0);
        in[way[0]] = 0;
        for (std::size_t j = 0; j + 1 < way.size(); ++j) {
            const std::uint32_t v = way[j];
            pairs_in += off[j].squares(d[v]);
            add_below(inner[v], outside[j + 1], d[v], pairs_in);
            in[way[j + 1]] = pairs_in;
        }
        // Seen from b, a node on the way heads all but its subtree as laid
        // out, its own term too (the top's); its sums are no longer wanted
        // as they were, for the way's nodes are no one's other children.
        for (std::size_t j = 0; j < way.size(); ++j) {
            w[way[j]] = outside[j + 1];
            if (way[j] == 0) w[0].add(top_own);
        }
        // Every other branch, b above it: at each node, its children's sums
        // before and after each child, and what lies off the way.
        for (i = 0; i < inner_count; ++i) {
            const std::uint32_t ik = l.inner_kids[i], ok = l.outer_kids[i];
            const std::uint32_t inners = l.inner_kids[i + 1] - ik, outers = l.outer_kids[i + 1] - ok;
            if (inners + outers == 0) continue;
            const sums rest = on_way[i] == tag ? w[i] : sums{};
            const std::uint32_t count = inners + outers;
            const double at_i = d[i], in_i = in[i];
            // The k-th child: its place, whether it is an inner node, its
            // sums, and whether its branch is on the way (b's own among them).
            auto child = [&](std::uint32_t k, std::uint32_t& at, bool& inner_kid, bool& skip) -> sums {
                inner_kid = k < inners;
                at = inner_kid ? ik + k : ok + (k - inners);
                skip = inner_kid ? on_way[at] == tag : at == b;
                if (inner_kid) return skip ? sums{} : w[at];
                return skip ? sums{} : term(at_i + l.outer_length[at]);
            };
            auto visit = [&](std::uint32_t at, bool inner_kid, const sums& here, const sums& others) {
                const double pairs_here = in_i + others.squares(at_i);
                const double u = inner_kid ? d[at] : at_i + l.outer_length[at];
                add_above(inner_kid ? inner[at] : outer[at], here, u, pairs_here);
                if (inner_kid) in[at] = pairs_here;
            };
            if (count == 2) {
                std::uint32_t at0, at1;
                bool inner0, inner1, skip0, skip1;
                const sums w0 = child(0, at0, inner0, skip0), w1 = child(1, at1, inner1, skip1);
                sums others0 = w1, others1 = w0;
                if (on_way[i] == tag) {
                    others0.add(rest);
                    others1.add(rest);
                }
                if (!skip0) visit(at0, inner0, w0, others0);
                if (!skip1) visit(at1, inner1, w1, others1);
                continue;
            }
            if (kid.size() < count + 1) {
                kid.resize(count + 1);
                after.resize(count + 1);
            }
            after[count] = sums{};
            for (std::uint32_t k = count; k-- > 0;) {
                std::uint32_t at;
                bool inner_kid, skip;
                kid[k] = child(k, at, inner_kid, skip);
                after[k] = after[k + 1];
                after[k].add(kid[k]);
            }
            sums before = rest;
            for (std::uint32_t k = 0; k < count; ++k) {
                std::uint32_t at;
                bool inner_kid, skip;
                child(k, at, inner_kid, skip);
                if (!skip) {
                    sums others = before;
                    others.add(after[k + 1]);
                    visit(at, inner_kid, kid[k], others);
                }
                before.add(kid[k]);
            }
        }
        return pairs;
    }

    // The pairs of b below a branch whose lower end is u from b: those
    // beyond meet at the root; the rest make `own`.
    static void add_below(quadratic& k, const sums& beyond, double u, double own) {
        const double a = 4 * beyond.s2, b = 4 * beyond.s1;
        k.a += a;
        k.b += 2 * u * a - b;
        k.c += u * (u * a - b) + beyond.s0 + own;
    }
    // The same for b above the branch: `here` are the leaves below it.
    static void add_above(quadratic& k, const sums& here, double u, double own) {
        const double a = 4 * here.s2, b = 4 * here.s1;
        k.a += a;
        k.b += b - 2 * u * a;
        k.c += u * (u * a - b) + here.s0 + own;
    }

    const layout& tree;
    const std::uint32_t inner_count;
    // For the leaf b at hand, by inner place: distances from b; the sums
    // of each subtree as laid out; the pairs on b's side of each node's
    // branch; whether a node is on b's way up (tagged with b + 1).
    std::vector<double> d;
    std::vector<sums> w;
    std::vector<double> in;
    std::vector<std::uint32_t> on_way, way;
    std::vector<sums> off, outside, kid, after;  // scratch
};

}  // namespace

std::string by_mad(const unrooted& u, found& out, std::vector<branch_score>* every) {
    const big_vector<double> length = u.lengths();
    for (node_ref n = 1; n < u.t.nodes.size(); ++n)
        if (length_value(u.t.length(n)) < 0) return "a negative branch length";
    out = found{};
    if (every) every->assign(u.size(), branch_score{});
    if (u.size() < 2) return "";
    const layout tree(u);
    const std::uint32_t leaves = tree.leaves();
    if (leaves < 3) {
        // The only branch, or the first: its middle.
        for (std::uint32_t v = 1; v < u.size(); ++v)
            if (out.branch == none || u.before(v, out.branch)) out.branch = v;
        out.kind = found::middle;
        if (every)
            for (std::uint32_t v = 1; v < u.size(); ++v) (*every)[v] = {length[v] / 2, 0};
        return "";
    }
    // From many leaves, two halves, one for each of two threads: always the
    // same halves, so that the sums, and so the choice, never depend on the
    // machine.
    deviations low(tree);
    double pairs = 0;
    std::vector<quadratic> q(u.size());
    auto gather = [&](const deviations& part) {
        for (std::uint32_t i = 1; i < tree.inner.size(); ++i) q[tree.inner[i]].add(part.inner[i]);
        for (std::uint32_t c = 0; c < tree.outer.size(); ++c) q[tree.outer[c]].add(part.outer[c]);
    };
    if (leaves >= 256) {
        const std::uint32_t half = leaves / 2;
        deviations high(tree);
        double pairs_high = 0;
        std::thread other([&] { pairs_high = high.add(half, leaves); });
        pairs = low.add(0, half);
        other.join();
        pairs += pairs_high;
        gather(high);
    } else {
        pairs = low.add(0, leaves);
    }
    gather(low);
    least choice(u, out, every);
    for (std::uint32_t v = 1; v < u.size(); ++v) {
        const quadratic& k = q[v];
        const double e = length[v];
        double x = k.a > 0 ? std::clamp(-k.b / (2 * k.a), 0.0, e) : e / 2;
        if (!(x >= 0 && x <= e)) x = 0;  // lengths past the range of doubles
        const double value = k.a * x * x + k.b * x + k.c;
        const double score = pairs > 0 ? std::sqrt(std::max(0.0, value) / pairs) : 0;
        choice.offer(v, x, score);
    }
    return "";
}

}  // namespace quorlen::standard::roots
