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

#include "standard/roots/methods.h"

namespace quorlen::standard::roots {

namespace {

struct sums {
    double s0 = 0, s1 = 0, s2 = 0;
    void add(const sums& o) { s0 += o.s0, s1 += o.s1, s2 += o.s2; }
    sums less(const sums& o) const { return {s0 - o.s0, s1 - o.s1, s2 - o.s2}; }
    // sum over the leaves of (2d/D - 1)^2, as 4 d^2 S2 - 4 d S1 + S0
    double squares(double d) const { return 4 * d * d * s2 - 4 * d * s1 + s0; }
};

// Each branch's quadratic a x^2 + b x + c, x from its lower end, summed
// over the pairs met so far.
struct quadratic {
    double a = 0, b = 0, c = 0;
};

// The tree in level order (breadth first from the top): parents still come
// before their children, and the passes over every node for each leaf, up
// and down, visit parents nearly in order too, so that they stay in cache.
struct levels {
    explicit levels(const unrooted& u) {
        const std::uint32_t m = u.size();
        const std::vector<double> by_view = u.lengths();
        order.reserve(m);
        order.push_back(0);
        for (std::size_t i = 0; i < order.size(); ++i) {
            const std::uint32_t v = order[i];
            if (u.extent[v] == 1) continue;
            for (std::uint32_t c = v + 1; c < v + u.extent[v]; c += u.extent[c]) order.push_back(c);
        }
        at.assign(m, 0);
        for (std::uint32_t i = 0; i < m; ++i) at[order[i]] = i;
        parent.assign(m, 0);
        length.assign(m, 0);
        leaf.assign(m, 0);
        for (std::uint32_t i = 0; i < m; ++i) {
            const std::uint32_t v = order[i];
            if (i > 0) parent[i] = at[u.parent(v)];
            length[i] = by_view[v];
            leaf[i] = u.is_leaf(v);
        }
    }
    std::vector<std::uint32_t> order, at;  // view node at each place, and back
    std::vector<std::uint32_t> parent;     // by place
    std::vector<double> length;
    std::vector<char> leaf;
};

class deviations {
public:
    explicit deviations(const levels& l)
        : m(static_cast<std::uint32_t>(l.order.size())), length(l.length), parent(l.parent), leaf(l.leaf) {}

    // Adds the pairs of every leaf b of `from` to each branch's quadratic;
    // returns twice their number.
    double add(const std::vector<std::uint32_t>& from, std::vector<quadratic>& q) {
        d.assign(m, 0);
        w.assign(m, sums{});
        in.assign(m, 0);
        on_way.assign(m, 0);
        std::uint32_t tag = 0;
        double pairs = 0;
        for (std::uint32_t b : from) {
            ++tag;
            // b's way up to the top, and the distances along it.
            way.clear();
            d[b] = 0;
            for (std::uint32_t v = b;; v = parent[v]) {
                way.push_back(v);
                on_way[v] = tag;
                if (v == 0) break;
                d[parent[v]] = d[v] + length[v];
            }
            // Distances from b, and each leaf's 1, 1/D and 1/D^2.
            for (std::uint32_t v = 0; v < m; ++v) {
                if (on_way[v] != tag) d[v] = d[parent[v]] + length[v];
                if (leaf[v] && d[v] > 0) {
                    const double r = 1 / d[v];
                    w[v] = {1, r, r * r};
                } else {
                    w[v] = {};
                }
            }
            // Sums over each subtree as read.
            for (std::uint32_t v = m; v-- > 1;) w[parent[v]].add(w[v]);
            const sums all = w[0];
            pairs += all.s0;
            // The branches on b's way up: b is below them.
            sums below{};
            double way_in = 0;  // pairs on b's side, from the way below
            for (std::size_t i = 0; i + 1 < way.size(); ++i) {
                const std::uint32_t v = way[i];
                const sums here = w[v], beyond = all.less(here);
                const double u = d[v];
                const double own = way_in + here.less(below).squares(u);
                quadratic& k = q[v];
                k.a += 4 * beyond.s2;
                k.b += 4 * (2 * u * beyond.s2 - beyond.s1);
                k.c += 4 * u * u * beyond.s2 - 4 * u * beyond.s1 + beyond.s0 + own;
                // Seen from b, a node on the way holds all but what lies
                // below it on the way.
                w[v] = all.less(below);
                below = here;
                way_in = own;
                in[way[i + 1]] = own;
            }
            w[0] = all.less(below);
            // Every other branch: b is above it.
            for (std::uint32_t v = 1; v < m; ++v) {
                if (on_way[v] == tag) continue;
                const std::uint32_t p = parent[v];
                const sums here = w[v];
                const double u = d[v];
                const double own = in[p] + w[p].less(here).squares(d[p]);
                quadratic& k = q[v];
                k.a += 4 * here.s2;
                k.b -= 4 * (2 * u * here.s2 - here.s1);
                k.c += 4 * u * u * here.s2 - 4 * u * here.s1 + here.s0 + own;
                in[v] = own;
            }
        }
        return pairs;
    }

private:
    const std::uint32_t m;
    const std::vector<double>& length;
    const std::vector<std::uint32_t>& parent;
    const std::vector<char>& leaf;
    // For the leaf b at hand: distances from b; the sums of the subtree
    // each node heads seen from b; the pairs on b's side of each node's
    // branch up to it; whether a node is on b's way up (tagged with b).
    std::vector<double> d;
    std::vector<sums> w;
    std::vector<double> in;
    std::vector<std::uint32_t> on_way, way;
};

}  // namespace

std::string by_mad(const unrooted& u, found& out, std::vector<branch_score>* every) {
    const std::vector<double> length = u.lengths();
    for (node_ref n = 1; n < u.t.nodes.size(); ++n)
        if (length_value(u.t.length(n)) < 0) return "a negative branch length";
    out = found{};
    if (every) every->assign(u.size(), branch_score{});
    if (u.size() < 2) return "";
    const levels tree(u);
    std::vector<std::uint32_t> leaves;  // by place in level order
    for (std::uint32_t i = 0; i < u.size(); ++i)
        if (tree.leaf[i]) leaves.push_back(i);
    if (leaves.size() < 3) {
        // The only branch, or the first: its middle.
        for (std::uint32_t v = 1; v < u.size(); ++v)
            if (out.branch == none || u.before(v, out.branch)) out.branch = v;
        out.kind = found::middle;
        if (every)
            for (std::uint32_t v = 1; v < u.size(); ++v) (*every)[v] = {length[v] / 2, 0};
        return "";
    }
    // The leaves in two halves, one for each of two threads, always the same
    // halves, so that the sums and so the choice never depend on the machine.
    const std::size_t half = leaves.size() / 2;
    const std::vector<std::uint32_t> first(leaves.begin(), leaves.begin() + static_cast<std::ptrdiff_t>(half)),
        second(leaves.begin() + static_cast<std::ptrdiff_t>(half), leaves.end());
    std::vector<quadratic> q(u.size()), q2(u.size());
    double pairs = 0, pairs2 = 0;
    const bool threads = leaves.size() >= 256;
    if (threads) {
        std::thread other([&] { pairs2 = deviations(tree).add(second, q2); });
        pairs = deviations(tree).add(first, q);
        other.join();
    } else {
        deviations work(tree);
        pairs = work.add(first, q);
        pairs2 = work.add(second, q2);
    }
    pairs += pairs2;
    double best = 0;
    out.kind = found::real;
    for (std::uint32_t v = 1; v < u.size(); ++v) {
        const std::uint32_t i = tree.at[v];
        const quadratic k{q[i].a + q2[i].a, q[i].b + q2[i].b, q[i].c + q2[i].c};
        const double e = length[v];
        double x = k.a > 0 ? std::clamp(-k.b / (2 * k.a), 0.0, e) : e / 2;
        if (!(x >= 0 && x <= e)) x = 0;  // lengths past the range of doubles
        const double value = k.a * x * x + k.b * x + k.c;
        const double score = pairs > 0 ? std::sqrt(std::max(0.0, value) / pairs) : 0;
        if (every) (*every)[v] = {x, score};
        if (out.branch == none || score < best || (score == best && u.before(v, out.branch)) ||
            (best != best && score == score)) {
            out.branch = v;
            out.real_x = x;
            best = score;
        }
    }
    return "";
}

}  // namespace quorlen::standard::roots
