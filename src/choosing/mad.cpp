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

// The tree laid out for the passes over it, one set for each leaf b: every
// node in level order (breadth first from the top), at its place. A node's
// children stand together, after their parents, so that each pass reads its
// arrays in order and a node of two children, the most common, is taken
// without a branch. The leaves are numbered by their places, the top last
// where it is a leaf.
struct layout {
    explicit layout(const unrooted& u) : top_leaf(u.extent[0] > 1 && u.is_leaf(0)) {
        const big_vector<double> lengths = u.lengths();
        node.push_back(0);
        for (std::uint32_t p = 0; p < node.size(); ++p) {
            const std::uint32_t v = node[p];
            if (u.extent[v] == 1) continue;
            inner.push_back(p);
            kids.push_back(static_cast<std::uint32_t>(node.size()));
            for (std::uint32_t c = v + 1; c < v + u.extent[v]; c += u.extent[c]) {
                node.push_back(c);
                up.push_back(p);
            }
        }
        kids.push_back(static_cast<std::uint32_t>(node.size()));
        const std::uint32_t places = static_cast<std::uint32_t>(node.size());
        up.insert(up.begin(), 0);
        length.assign(places, 0);
        inner_of.assign(places, none);
        for (std::uint32_t p = 1; p < places; ++p) length[p] = lengths[node[p]];
        for (std::uint32_t i = 0; i < inner.size(); ++i) inner_of[inner[i]] = i;
        for (std::uint32_t p = 1; p < places; ++p)
            if (inner_of[p] == none) leaf.push_back(p);
        if (top_leaf) leaf.push_back(0);
    }
    std::uint32_t places() const { return static_cast<std::uint32_t>(node.size()); }
    std::uint32_t leaves() const { return static_cast<std::uint32_t>(leaf.size()); }

    const bool top_leaf;  // the top has one child, and is a leaf too
    // By place: the view node, its parent's place (the top's own), the
    // length of its branch (the top's 0), and its number among the places
    // with children (none for a leaf).
    std::vector<std::uint32_t> node, up;
    std::vector<double> length;
    std::vector<std::uint32_t> inner_of;
    // The places with children, in order; the children of inner[i] at the
    // places [kids[i], kids[i + 1]).
    std::vector<std::uint32_t> inner, kids;
    // Leaf b's place.
    std::vector<std::uint32_t> leaf;
};

// 1, 1/D and 1/D^2 of a leaf at distance D > 0; nothing at 0.
inline sums term(double distance) {
    if (!(distance > 0)) return {};
    const double r = 1 / distance;
    return {1, r, r * r};
}

inline sums joined(const sums& a, const sums& b) { return {a.s0 + b.s0, a.s1 + b.s1, a.s2 + b.s2}; }

// Adds the pairs (b, c) met from b to each branch's quadratic. Every sum
// of leaves' terms is made by adding, never by taking one sum from another:
// the terms of the leaves nearest b are by far the largest, and a subtree's
// sums less a part of them would lose the digits of the rest. Each sum is
// made in one order, whatever the node: a node's leaves' terms first, then
// its other children from the last.
class deviations {
public:
    explicit deviations(const layout& l)
        : q(l.places()), tree(l), d(l.places(), 0), w(l.places()), in(l.places(), 0), on_way(l.places(), 0) {}

    // The pairs of the leaves [from, to); returns twice their number.
    double add(std::uint32_t from, std::uint32_t to) {
        double pairs = 0;
        for (std::uint32_t b = from; b < to; ++b) pairs += add(b);
        return pairs;
    }

    std::vector<quadratic> q;  // by place

private:
    double add(std::uint32_t b) {
        const layout& l = tree;
        const std::uint32_t places = l.places(), inners = static_cast<std::uint32_t>(l.inner.size());
        const std::uint32_t tag = b + 1, own = l.leaf[b];
        const std::uint32_t *up = l.up.data(), *inner = l.inner.data(), *kids = l.kids.data();
        const double* length = l.length.data();
        const std::uint32_t* inner_of = l.inner_of.data();
        const auto has_kids = [inner_of](std::uint32_t p) { return inner_of[p] != none; };
        // b's way up to the top, and the distances along it; b is on it.
        way.clear();
        on_way[own] = tag;
        d[own] = 0;
        std::uint32_t i = 0;
        d[0] = 0;
        if (own != 0) {
            i = up[own];
            d[i] = length[own];
        }
        for (;; i = up[i]) {
            on_way[i] = tag;
            way.push_back(i);
            if (i == 0) break;
            d[up[i]] = d[i] + length[i];
        }
        // Distances from b; each leaf's terms (b's own none); then each
        // subtree's sums, children before parents.
        for (std::uint32_t p = 1; p < places; ++p)
            if (on_way[p] != tag) d[p] = d[up[p]] + length[p];
        const sums top_own = l.top_leaf ? term(d[0]) : sums{};
        const std::uint32_t below_count = l.leaves() - l.top_leaf;
        for (std::uint32_t k = 0; k < below_count; ++k) w[l.leaf[k]] = term(d[l.leaf[k]]);
        if (own != 0) w[own] = sums{};
        for (std::uint32_t j = inners; j-- > 0;) {
            const std::uint32_t p = inner[j], k0 = kids[j], k1 = kids[j + 1];
            if (k1 - k0 == 2 && p != 0) {
                w[p] = joined(w[k0], w[k0 + 1]);
                continue;
            }
            sums s{};
            for (std::uint32_t k = k0; k < k1; ++k)
                if (!has_kids(k) && k != own) s.add(w[k]);
            if (p == 0) s.add(top_own);
            for (std::uint32_t k = k1; k-- > k0;)
                if (has_kids(k)) s.add(w[k]);
            w[p] = s;
        }
        const double pairs = w[0].s0;
        // Along the way, from the top down: what lies outside each node's
        // subtree, and off the way at each node (its children but the one
        // on the way, and the top's own term).
        off.assign(way.size(), sums{});
        outside.assign(way.size() + 1, sums{});
        for (std::size_t j = way.size(); j-- > 0;) {
            const std::uint32_t v = way[j], on = j > 0 ? way[j - 1] : none, at = inner_of[v];
            sums s = v == 0 ? top_own : sums{};
            for (std::uint32_t k = kids[at]; k < kids[at + 1]; ++k)
                if (has_kids(k) && k != on) s.add(w[k]);
            for (std::uint32_t k = kids[at]; k < kids[at + 1]; ++k)
                if (!has_kids(k) && k != own) s.add(w[k]);
            off[j] = s;
            outside[j] = outside[j + 1];  // outside[j]: outside way[j - 1]'s subtree
            outside[j].add(s);
        }
        // The branches on the way: b below them, at u from their lower end.
        // The pairs beyond meet at the root; those on b's side where they
        // leave the way.
        double pairs_in = 0;  // on b's side of the branch at hand
        if (own != 0) add_below(q[own], outside[0], 0, 0);
        in[way[0]] = 0;
        for (std::size_t j = 0; j + 1 < way.size(); ++j) {
            const std::uint32_t v = way[j];
            pairs_in += off[j].squares(d[v]);
            add_below(q[v], outside[j + 1], d[v], pairs_in);
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
        for (std::uint32_t j = 0; j < inners; ++j) {
            const std::uint32_t p = inner[j], k0 = kids[j], k1 = kids[j + 1];
            const double at = d[p], in_p = in[p];
            if (k1 - k0 == 2 && on_way[p] != tag) {
                const std::uint32_t c = k0 + 1;
                const sums w0 = w[k0], w1 = w[c];
                const double here0 = in_p + w1.squares(at), here1 = in_p + w0.squares(at);
                add_above(q[k0], w0, d[k0], here0);
                in[k0] = here0;
                add_above(q[c], w1, d[c], here1);
                in[c] = here1;
                continue;
            }
            // The children with children first, then the leaves; one on the
            // way counts for nothing, and is not visited.
            const std::uint32_t count = k1 - k0;
            if (kid.size() < count + 1) {
                kid.resize(count + 1);
                after.resize(count + 1);
                order.resize(count);
            }
            std::uint32_t n = 0;
            for (std::uint32_t k = k0; k < k1; ++k)
                if (has_kids(k)) order[n++] = k;
            for (std::uint32_t k = k0; k < k1; ++k)
                if (!has_kids(k)) order[n++] = k;
            after[count] = sums{};
            for (std::uint32_t k = count; k-- > 0;) {
                kid[k] = on_way[order[k]] == tag ? sums{} : w[order[k]];
                after[k] = after[k + 1];
                after[k].add(kid[k]);
            }
            sums before = on_way[p] == tag ? w[p] : sums{};
            for (std::uint32_t k = 0; k < count; ++k) {
                const std::uint32_t c = order[k];
                if (on_way[c] != tag) {
                    sums others = before;
                    others.add(after[k + 1]);
                    const double here = in_p + others.squares(at);
                    add_above(q[c], kid[k], d[c], here);
                    in[c] = here;
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
    // For the leaf b at hand, by place: distances from b; the sums of each
    // subtree as laid out (a leaf's, its term); the pairs on b's side of
    // each node's branch; whether a node is on b's way up, b too (tagged
    // with b + 1).
    std::vector<double> d;
    std::vector<sums> w;
    std::vector<double> in;
    std::vector<std::uint32_t> on_way, way, order;
    std::vector<sums> off, outside, kid, after;  // scratch
};

}  // namespace

std::string by_mad(const unrooted& u, found& out, std::vector<branch_score>* every, unsigned threads) {
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
    // From many leaves, two halves, on two threads where there are two:
    // always the same halves, each summed in the same order, so that the
    // sums, and so the choice, never depend on the machine.
    deviations low(tree);
    double pairs = 0;
    std::vector<quadratic> q(u.size());
    auto gather = [&](const deviations& part) {
        for (std::uint32_t p = 1; p < tree.places(); ++p) q[tree.node[p]].add(part.q[p]);
    };
    if (leaves >= 256) {
        const std::uint32_t half = leaves / 2;
        deviations high(tree);
        double pairs_high = 0;
        if (threads >= 2) {
            std::thread other([&] { pairs_high = high.add(half, leaves); });
            pairs = low.add(0, half);
            other.join();
        } else {
            pairs_high = high.add(half, leaves);
            pairs = low.add(0, half);
        }
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
