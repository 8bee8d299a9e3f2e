// Root choosing checked by brute force, shared by its property test and the
// standard mode's fuzz target. For a tree as read, the oracle lists every
// branch of its unrooted tree, and at any point of a branch computes afresh,
// from every leaf and every pair of leaves, the variance of the root-to-leaf
// distances and the ancestor deviations, and the regression of the
// distances on the leaves' dates; check_choice() runs the chooser and holds
// its choice, its scores and its line against them.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "reading/decimal.h"
#include "reading/newick.h"
#include "rootings/rootings.h"
#include "choosing/choose.h"
#include "choosing/methods.h"
#include "standard_checks.h"

namespace quorlen::standard::testing {

// A leaf's name, as an outgroup names it.
using roots::leaf_name;

// A value in a message, to 10 digits.
inline std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", v);
    return text;
}

// A length as an exact decimal, a missing one 0.
inline decimal exact_length(std::string_view text) {
    decimal d;
    if (!text.empty()) parse_decimal(text, d);
    return d;
}
inline std::string written(const decimal& d) {
    std::string s;
    write_decimal(d, s);
    return s;
}
inline double as_double(const decimal& d) { return std::strtod(written(d).c_str(), nullptr); }
inline decimal negated(decimal d) {
    if (!d.digits.empty()) d.negative = !d.negative;
    return d;
}
inline bool is_negative(const decimal& d) { return d.negative && !d.digits.empty(); }
// -1, 0 or 1 as a < b, a = b, a > b.
inline int compare(const decimal& a, const decimal& b) {
    const decimal difference = add(a, negated(b));
    return difference.digits.empty() ? 0 : difference.negative ? -1 : 1;
}

// A two-child root as read is no node of the unrooted tree; its second child.
inline node_ref dissolved_second(const tree& t) {
    if (t.nodes[0].is_leaf() || children(t, 0) != 2) return none;
    node_ref second = 2;
    while (t.nodes[second].parent != 0) ++second;
    return second;
}

// The exact length of the branch that rootings list as n, a missing length 0.
inline decimal branch_length(const tree& t, node_ref n) {
    decimal e = exact_length(t.length(n));
    const node_ref second = dissolved_second(t);
    if (second != none && t.nodes[n].parent == 0) e = add(e, exact_length(t.length(second)));
    return e;
}

// One branch of the unrooted tree, its ends, its sides, and each method's
// least value on it.
struct oracle_branch {
    node_ref chosen = none;            // as rootings::chosen() lists it
    node_ref near = none, far = none;  // its ends: the chosen node, and the other
    decimal exact;                     // its length, a missing one 0
    double length = 0;
    std::vector<bool> near_side;       // by leaf: on the chosen node's side
    std::size_t leaves = 0;            // how many leaves are
    std::set<std::string> near_names, far_names;
    // By pair of leaves: the distance from the first to the pair's ancestor
    // when both lie on one side (the ancestor is then a node, wherever the
    // root is on the branch); NaN when the root separates them.
    std::vector<double> ancestor;
    // The least variance on the branch and where; the least mean square of
    // the ancestor deviations (the square of mad's score) and where.
    double minvar_least = 0, minvar_at = 0, mad_least = 0, mad_at = 0;
};

// The root-to-tip regression at one point, from its definition: every
// leaf's distance from the point, and the least-squares line of distance on
// date through the dated leaves, fitted about their means.
struct clock_line {
    std::size_t n = 0;                // dated leaves
    std::vector<double> y, residual;  // by leaf; the residual NaN where undated
    double tbar = 0, ybar = 0, stt = 0, sty = 0, syy = 0;
    double rate = 0, root_date = 0, rss = 0, r2 = 0;
    double mean_square() const { return rss / static_cast<double>(n); }
};

class root_oracle {
public:
    struct leaf_pair {
        std::size_t b, c;  // leaf numbers
        double d;          // their distance, > 0
    };

    const tree& t;
    std::vector<node_ref> leaves;     // the leaves of the unrooted tree; a root of one child is one
    std::vector<std::string> names;   // their names; "" for a root of one child, as for a blank label
    std::vector<oracle_branch> branches;  // in the order of rootings::chosen()
    std::vector<leaf_pair> pairs;     // every pair of leaves at a distance > 0
    decimal longest_exact;            // the longest leaf-to-leaf path, exactly
    double longest = 0;               // and in floating point
    double scale = 0;                 // the longest path counting each length's magnitude
    bool negative_branch = false;     // a branch of the unrooted tree is negative
    bool negative_length = false;     // a length as read is, the root's own included
    std::string fault;                // the oracle's own: its minimum not the least of a scan

    explicit root_oracle(const tree& in) : t(in) {
        const std::size_t count = t.nodes.size();
        const node_ref second = dissolved_second(t);
        // The unrooted tree's links; a dissolved root has none.
        std::vector<std::vector<std::pair<node_ref, decimal>>> links(count);
        for (node_ref n = 0; n < count; ++n)
            if (is_negative(exact_length(t.length(n)))) negative_length = true;
        for (node_ref n = 1; n < count; ++n) {
            if (n == second) continue;
            node_ref other = t.nodes[n].parent;
            if (second != none && other == 0) other = second;
            const decimal e = branch_length(t, n);
            if (is_negative(e)) negative_branch = true;
            links[n].emplace_back(other, e);
            links[other].emplace_back(n, e);
        }
        for (node_ref n = 0; n < count; ++n) {
            const bool leaf = t.nodes[n].is_leaf() || (n == 0 && children(t, 0) == 1);
            if (!leaf) continue;
            leaves.push_back(n);
            names.push_back(t.nodes[n].is_leaf() ? leaf_name(t.label(n)) : "");
        }
        // Between every two nodes: the distance, exactly and in floating
        // point, the sum of magnitudes, the number of branches.
        exact.assign(count, std::vector<decimal>(count));
        d.assign(count, std::vector<double>(count, 0));
        magnitude.assign(count, std::vector<double>(count, 0));
        hops.assign(count, std::vector<int>(count, -1));
        for (node_ref s = 0; s < count; ++s) {
            if (s == 0 && second != none) continue;
            std::vector<node_ref> stack{s};
            hops[s][s] = 0;
            while (!stack.empty()) {
                const node_ref v = stack.back();
                stack.pop_back();
                for (const auto& [w, e] : links[v]) {
                    if (hops[s][w] >= 0) continue;
                    hops[s][w] = hops[s][v] + 1;
                    exact[s][w] = add(exact[s][v], e);
                    d[s][w] = d[s][v] + as_double(e);
                    magnitude[s][w] = magnitude[s][v] + std::fabs(as_double(e));
                    stack.push_back(w);
                }
            }
        }
        for (std::size_t i = 0; i < leaves.size(); ++i) {
            for (std::size_t j = i + 1; j < leaves.size(); ++j) {
                const double ij = d[leaves[i]][leaves[j]];
                const decimal& exact_ij = exact[leaves[i]][leaves[j]];
                if ((i == 0 && j == 1) || compare(exact_ij, longest_exact) > 0) longest_exact = exact_ij;
                scale = std::max(scale, magnitude[leaves[i]][leaves[j]]);
                if (ij > 0) pairs.push_back({i, j, ij});
            }
        }

        longest = as_double(longest_exact);

        rootings r(t, internal_labels::names);
        for (node_ref n : r.chosen()) {
            oracle_branch b;
            b.chosen = b.near = n;
            b.far = second != none && t.nodes[n].parent == 0 ? second : t.nodes[n].parent;
            b.exact = branch_length(t, n);
            b.length = as_double(b.exact);
            for (std::size_t i = 0; i < leaves.size(); ++i) {
                const bool near = hops[leaves[i]][b.near] < hops[leaves[i]][b.far];
                b.near_side.push_back(near);
                b.leaves += near;
                (near ? b.near_names : b.far_names).insert(names[i]);
            }
            for (const leaf_pair& p : pairs) {
                const bool one_side = b.near_side[p.b] == b.near_side[p.c];
                const node_ref end = b.near_side[p.b] ? b.near : b.far;
                b.ancestor.push_back(one_side ? d[leaves[p.b]][median(leaves[p.b], leaves[p.c], end)]
                                              : std::numeric_limits<double>::quiet_NaN());
            }
            branches.push_back(std::move(b));
        }
        for (std::size_t k = 0; k < branches.size(); ++k) {
            oracle_branch& b = branches[k];
            std::tie(b.minvar_at, b.minvar_least) =
                least([&](double x) { return minvar(k, x); }, b.length, minvar_tolerance(), "minvar", k);
            // With a negative branch, mad roots nothing, and deviations of
            // pairs at a distance near 0 would swamp the scan.
            if (!negative_branch)
                std::tie(b.mad_at, b.mad_least) =
                    least([&](double x) { return mad_square(k, x); }, b.length, mad_tolerance, "mad", k);
        }
    }

    // The distance from a root x along branch k, from its chosen node's end,
    // to leaf i.
    double to_root(std::size_t k, double x, std::size_t i) const {
        const oracle_branch& b = branches[k];
        return b.near_side[i] ? x + d[b.near][leaves[i]] : (b.length - x) + d[b.far][leaves[i]];
    }

    // The variance of the root-to-leaf distances, over the number of leaves.
    double minvar(std::size_t k, double x) const {
        const double n = static_cast<double>(leaves.size());
        double mean = 0, sum = 0;
        for (std::size_t i = 0; i < leaves.size(); ++i) mean += to_root(k, x, i);
        mean /= n;
        for (std::size_t i = 0; i < leaves.size(); ++i) sum += (to_root(k, x, i) - mean) * (to_root(k, x, i) - mean);
        return sum / n;
    }

    // The mean square of r = 2 d(b, a) / d(b, c) - 1 over the pairs of
    // leaves b, c at a distance > 0, a their ancestor; 0 without a pair.
    double mad_square(std::size_t k, double x) const {
        if (pairs.empty()) return 0;
        double sum = 0;
        for (std::size_t p = 0; p < pairs.size(); ++p) {
            const double ancestor = branches[k].ancestor[p];
            const double to_ancestor = std::isnan(ancestor) ? to_root(k, x, pairs[p].b) : ancestor;
            const double r = 2 * to_ancestor / pairs[p].d - 1;
            sum += r * r;
        }
        return sum / static_cast<double>(pairs.size());
    }

    // The regression for a root x along branch k, leaf i dated dates[i]
    // (NaN: no date).
    clock_line regression(std::size_t k, double x, const std::vector<double>& dates) const {
        clock_line f;
        f.residual.assign(leaves.size(), std::numeric_limits<double>::quiet_NaN());
        for (std::size_t i = 0; i < leaves.size(); ++i) {
            f.y.push_back(to_root(k, x, i));
            if (std::isnan(dates[i])) continue;
            ++f.n;
            f.tbar += dates[i];
            f.ybar += f.y[i];
        }
        if (f.n == 0) return f;
        f.tbar /= static_cast<double>(f.n);
        f.ybar /= static_cast<double>(f.n);
        for (std::size_t i = 0; i < leaves.size(); ++i) {
            if (std::isnan(dates[i])) continue;
            const double dt = dates[i] - f.tbar, dy = f.y[i] - f.ybar;
            f.stt += dt * dt;
            f.sty += dt * dy;
            f.syy += dy * dy;
        }
        f.rate = f.sty / f.stt;
        f.root_date = f.tbar - f.ybar / f.rate;
        for (std::size_t i = 0; i < leaves.size(); ++i) {
            if (std::isnan(dates[i])) continue;
            f.residual[i] = (f.y[i] - f.ybar) - f.rate * (dates[i] - f.tbar);
            f.rss += f.residual[i] * f.residual[i];
        }
        f.r2 = f.syy > 0 ? 1 - f.rss / f.syy : 0;
        return f;
    }

    // How far two values of a method may differ and still count as equal.
    double minvar_tolerance() const { return 1e-9 * scale * scale + 1e-300; }
    static constexpr double mad_tolerance = 1e-9;

    // Whether branch k holds the middle of a longest path, exactly.
    bool holds_midpoint(std::size_t k) const {
        const oracle_branch& b = branches[k];
        const decimal middle = half(longest_exact);
        for (std::size_t i = 0; i < leaves.size(); ++i) {
            for (std::size_t j = 0; j < leaves.size(); ++j) {
                if (!b.near_side[i] || b.near_side[j] || compare(exact[leaves[i]][leaves[j]], longest_exact) != 0) continue;
                const decimal x = add(middle, negated(exact[b.near][leaves[i]]));
                if (is_negative(b.exact) ? compare(x, b.exact) >= 0 && compare(x, decimal{}) <= 0
                                         : compare(x, decimal{}) >= 0 && compare(x, b.exact) <= 0)
                    return true;
            }
        }
        return false;
    }

    // The farthest leaf from a root x along branch k, on the chosen node's
    // side (near) or the other, exactly.
    decimal farthest(std::size_t k, const decimal& x, bool near) const {
        const oracle_branch& b = branches[k];
        decimal most;
        bool first = true;
        for (std::size_t i = 0; i < leaves.size(); ++i) {
            if (b.near_side[i] != near) continue;
            const decimal to = near ? add(x, exact[b.near][leaves[i]])
                                    : add(add(b.exact, negated(x)), exact[b.far][leaves[i]]);
            if (first || compare(to, most) > 0) most = to;
            first = false;
        }
        return most;
    }

private:
    std::vector<std::vector<decimal>> exact;
    std::vector<std::vector<double>> d, magnitude;
    std::vector<std::vector<int>> hops;

    // The node where the paths between a, b and c meet.
    node_ref median(node_ref a, node_ref b, node_ref c) const {
        for (node_ref m = 0; m < hops.size(); ++m) {
            if (hops[a][m] < 0) continue;
            if (hops[a][m] + hops[m][b] == hops[a][b] && hops[a][m] + hops[m][c] == hops[a][c] &&
                hops[b][m] + hops[m][c] == hops[b][c])
                return m;
        }
        return none;
    }

    // The least of g over [0, e] (or [e, 0]) and where. Each root-to-leaf
    // distance and each deviation is linear in the root's place, so the
    // variance and the mean square are quadratic: the parabola through the
    // ends and the middle gives the least, which a scan confirms.
    template <class F>
    std::pair<double, double> least(F g, double e, double tolerance, const char* what, std::size_t k) {
        const double lo = std::min(0.0, e), hi = std::max(0.0, e), h = (hi - lo) / 2, mid = lo + h;
        std::vector<std::pair<double, double>> candidates{{lo, g(lo)}, {hi, g(hi)}};
        if (h > 0) {
            const double g0 = candidates[0].second, g1 = g(mid), g2 = candidates[1].second;
            const double a = (g0 - 2 * g1 + g2) / (2 * h * h), b = (g2 - g0) / (2 * h);
            candidates.emplace_back(mid, g1);
            if (a > 0) {
                const double x = std::clamp(mid - b / (2 * a), lo, hi);
                candidates.emplace_back(x, g(x));
            }
        }
        const auto best = *std::min_element(candidates.begin(), candidates.end(),
                                            [](const auto& p, const auto& q) { return p.second < q.second; });
        constexpr int steps = 32;
        for (int s = 0; s <= steps && fault.empty(); ++s) {
            const double x = lo + (hi - lo) * s / steps;
            if (g(x) < best.second - tolerance)
                fault = std::string(what) + " on branch " + std::to_string(k) + ": " + number(g(x)) +
                        " at " + number(x) + " below the least found, " + number(best.second);
        }
        return best;
    }
};

inline const char* method_name(roots::method m) {
    switch (m) {
    case roots::method::outgroup: return "outgroup";
    case roots::method::midpoint: return "midpoint";
    case roots::method::minvar: return "minvar";
    case roots::method::mad: return "mad";
    case roots::method::clock: return "clock";
    }
    return "?";
}

// Whether brute force in floating point can be trusted with t: every length
// finite, and neither so long that squares overflow nor so short that they
// vanish.
inline bool tame(const tree& t) {
    for (node_ref n = 0; n < t.nodes.size(); ++n) {
        if (!t.nodes[n].has_length()) continue;
        const decimal exact = exact_length(t.length(n));
        const double v = std::fabs(as_double(exact));
        if (exact.digits.empty()) continue;
        if (!std::isfinite(v) || v > 1e100 || v < 1e-100) return false;
    }
    return true;
}

// The leaf names below n in a tree.
inline std::set<std::string> names_below(const tree& t, node_ref n) {
    std::set<std::string> out;
    for (node_ref m = n; m < t.nodes.size(); ++m) {
        node_ref up = m;
        while (up != none && up != n) up = t.nodes[up].parent;
        if (up == n && t.nodes[m].is_leaf()) out.insert(leaf_name(t.label(m)));
    }
    return out;
}

// The dates of o's leaves, NaN where none: those `known` gives by name,
// where given; else as the chooser finds them, in its table or in the names.
inline std::vector<double> clock_dates(const root_oracle& o, const roots::options& how,
                                       const std::map<std::string, double>* known) {
    std::vector<double> dates(o.leaves.size(), std::numeric_limits<double>::quiet_NaN());
    for (std::size_t i = 0; i < o.leaves.size(); ++i) {
        double year;
        if (known) {
            const auto found = known->find(o.names[i]);
            if (found != known->end()) dates[i] = found->second;
        } else if (how.dates ? how.dates->find(o.names[i], year) : date_in_name(o.names[i], year)) {
            dates[i] = year;
        }
    }
    return dates;
}

// Whether the program is to be held to brute force's digits: every date
// within ten thousand years of year 0. Beyond (a fuzzed name's year of two
// million), the passes' sums over dates so wide lose digits that the
// brute force's two-pass sums keep: the chosen point is made exact on its
// branch, but another branch's row may be a millionth off.
inline bool tame_dates(const std::vector<double>& dates) {
    for (double d : dates)
        if (!std::isnan(d) && !(std::fabs(d) <= 1e4)) return false;
    return true;
}

// How far the chooser's regression may stray from the oracle's and still
// count as the same: a relative 1e-9, with floors for values near 0 from
// what rounding costs distances up to `scale` long (some thousands of units
// in the last place, as a path sums its lengths and the fit sums squares).
struct clock_slack {
    double scale;
    double distance() const { return 1e-11 * scale; }
    double mean_square(const clock_line& f) const {
        const double spread = f.syy / static_cast<double>(f.n);
        return 1e-9 * f.mean_square() + 1e-11 * (spread + scale * std::sqrt(spread)) + 1e-22 * scale * scale + 1e-300;
    }
    double r2(const clock_line& f) const {
        return f.syy > 0 ? 1e-9 * std::fabs(f.r2) + mean_square(f) * static_cast<double>(f.n) / f.syy : INFINITY;
    }
    double rate(const clock_line& f) const {
        return 1e-9 * std::fabs(f.rate) + 1e-11 * scale * std::sqrt(static_cast<double>(f.n) / f.stt);
    }
    double root_date(const clock_line& f) const {
        const double r = std::fabs(f.rate);
        return 1e-9 * std::fabs(f.root_date) + (distance() + std::fabs(f.ybar) * rate(f) / r) / r;
    }
    double residual(const clock_line& f, double date) const {
        return 2 * distance() + rate(f) * std::fabs(date - f.tbar);
    }
    // Of the value the clock minimises: RSS/n, or -R^2.
    double value(const clock_line& f, bool r2_wanted) const { return r2_wanted ? r2(f) : mean_square(f); }
};
inline double clock_value(const clock_line& f, bool r2) { return r2 ? -f.r2 : f.mean_square(); }

// A best point the oracle found on a branch: its value (less is better),
// the value's slack, and where; an infinite value where there is none.
struct clock_best {
    double value = INFINITY, slack = 0, x = 0;
};

// What the oracle finds on one branch for the clock: the larger of its
// ends' rates (the rate is linear in x, so no point's is larger), and the
// best point among those of a positive rate; at a rate of 0, the bound
// those approach; and among those of a rate at least `least`. Candidates:
// 64 points within the branch and its ends; the turning point (each
// distance is linear in x, so Sty is, Syy is quadratic, RSS = Syy -
// Sty^2/Stt is a parabola and R^2 = Sty^2/(Stt Syy) turns once); and where
// the rate crosses 0 and `least`.
struct clock_scan {
    double most_rate = -INFINITY, most_rate_slack = 0;
    clock_best positive, zero, bounded;
};

inline clock_scan scan_clock(const root_oracle& o, std::size_t k, const std::vector<double>& dates, bool r2,
                             double least) {
    const clock_slack slack{o.scale};
    const double e = o.branches[k].length, lo = std::min(0.0, e), hi = std::max(0.0, e);
    clock_scan s;
    auto offer = [&](clock_best& b, double x, const clock_line& f) {
        if (clock_value(f, r2) < b.value) b = {clock_value(f, r2), slack.value(f, r2), x};
    };
    const clock_line low = o.regression(k, lo, dates), high = o.regression(k, hi, dates);
    s.most_rate = std::max(low.rate, high.rate);
    s.most_rate_slack = std::max(slack.rate(low), slack.rate(high));
    constexpr int steps = 65;
    std::vector<double> xs;
    for (int i = 0; i <= steps; ++i) xs.push_back(lo + (hi - lo) * i / steps);
    if (hi > lo) {
        // In u = x - the middle, Sty = a0 + a1 u and Syy = c0 + c1 u + c2 u^2.
        const double h = (hi - lo) / 2, middle = lo + h;
        const clock_line mid = o.regression(k, middle, dates);
        double u = 0;
        bool turns = false;
        if (!r2) {
            const double a = (low.rss - 2 * mid.rss + high.rss) / (2 * h * h), b = (high.rss - low.rss) / (2 * h);
            if (a > 0) u = -b / (2 * a), turns = true;
        } else {
            const double a0 = mid.sty, a1 = (high.sty - low.sty) / (2 * h), c0 = mid.syy,
                         c1 = (high.syy - low.syy) / (2 * h), c2 = (high.syy - 2 * mid.syy + low.syy) / (2 * h * h);
            // d/du (Sty^2 / Syy) = 0 away from Sty = 0: 2 a1 Syy = Sty (c1 + 2 c2 u).
            const double denominator = a1 * c1 - 2 * a0 * c2;
            if (denominator != 0) u = (a0 * c1 - 2 * a1 * c0) / denominator, turns = true;
        }
        if (turns && std::isfinite(u)) xs.push_back(std::clamp(middle + u, lo, hi));
    }
    // A rate within rounding of 0 is 0: the bound that positive rates
    // approach; and one within rounding of `least` is at least that.
    for (double x : xs) {
        const clock_line f = o.regression(k, x, dates);
        if (f.rate > slack.rate(f)) offer(s.positive, x, f);
        else if (!r2 && f.rate >= -slack.rate(f) && s.most_rate > s.most_rate_slack) offer(s.zero, x, f);
        if (!r2 && f.rate >= least - slack.rate(f)) offer(s.bounded, x, f);
    }
    // Where the rate crosses c between the branch's ends.
    auto crossing = [&](double c, double& x) {
        if (!((low.rate - c) * (high.rate - c) < 0)) return false;
        x = std::clamp(lo + (c - low.rate) / (high.rate - low.rate) * (hi - lo), lo, hi);
        return true;
    };
    double x;
    if (!r2 && crossing(0, x)) offer(s.zero, x, o.regression(k, x, dates));
    // The bound itself, whichever way rounding puts its rate.
    if (!r2 && crossing(least, x)) offer(s.bounded, x, o.regression(k, x, dates));
    return s;
}

// The largest rate any point gives, at an end of some branch, and its slack.
inline std::pair<double, double> largest_rate(const root_oracle& o, const std::vector<double>& dates) {
    const clock_slack slack{o.scale};
    double largest = -INFINITY, largest_slack = 0;
    for (std::size_t k = 0; k < o.branches.size(); ++k) {
        for (double x : {0.0, o.branches[k].length}) {
            const clock_line f = o.regression(k, x, dates);
            if (f.rate > largest) largest = f.rate, largest_slack = slack.rate(f);
        }
    }
    return {largest, largest_slack};
}

// What the clock must say of a tree with these dates instead of choosing: ""
// where it must choose; with `doubt`, where the largest rate is too near 0
// to tell, it may say either.
inline std::string clock_refusal(const root_oracle& o, const std::vector<double>& dates, bool& doubt) {
    doubt = false;
    std::set<double> distinct;
    for (double d : dates)
        if (!std::isnan(d)) distinct.insert(d);
    if (std::count_if(dates.begin(), dates.end(), [](double d) { return !std::isnan(d); }) < 2)
        return "fewer than two leaves have dates";
    if (distinct.size() < 2) return "every dated leaf has the same date";
    const auto [largest, slack] = largest_rate(o, dates);
    doubt = std::fabs(largest) <= slack;
    return largest > 0 ? "" : "no root gives the dates a positive rate";
}

// Empty when the clock's choice at x along branch k, its regression, its
// scores and its dates are those of the definitions, else the first fault:
// its regression is the one fitted afresh there, its rate positive; no
// point of a positive rate of any branch does better, or where the least
// RSS is only approached toward a rate of 0 (weak), no point whose rate is
// at least a millionth of the largest; each branch's row is the best of
// that branch by the same rule, and empty only where no point of it
// qualifies.
inline std::string check_clock(const root_oracle& o, const roots::chooser& c, const roots::options& how,
                               std::size_t k, double x, const std::vector<double>& dates, const std::string& where) {
    const bool r2 = how.r2;
    const clock_slack slack{o.scale};
    bool doubt;
    const std::string due = clock_refusal(o, dates, doubt);
    if (!due.empty() && !doubt) return where + "chose, but " + due;
    // The bound of a weak signal: a millionth of the largest rate, and no
    // less than twice what rounding makes of a rate of 0, 1e-11 of the
    // longest path times sqrt(n / Stt), as the program keeps it.
    double dated = 0, mean = 0, stt = 0;
    for (double d : dates)
        if (!std::isnan(d)) dated += 1, mean += d;
    mean /= dated;
    for (double d : dates)
        if (!std::isnan(d)) stt += (d - mean) * (d - mean);
    const double least = std::max(1e-6 * largest_rate(o, dates).first,
                                  stt > 0 ? 2e-11 * o.scale * std::sqrt(dated / stt) : 0.0);
    std::vector<clock_scan> scans;
    for (std::size_t j = 0; j < o.branches.size(); ++j) scans.push_back(scan_clock(o, j, dates, r2, least));

    // The regression reported, and each leaf's date, distance, residual and
    // whether it is an outlier: the distance by view node (the node as read,
    // less one where the root is dissolved), the rest by leaf.
    const clock_line at = o.regression(k, x, dates);
    const roots::clock_fit& fit = c.clock();
    auto off = [](double got, double want, double by) { return got != want && !(std::fabs(got - want) <= by); };
    auto differ = [&](const char* what, double got, double want) {
        return where + what + " " + number(got) + ", not " + number(want);
    };
    if (fit.dated != at.n) return where + std::to_string(fit.dated) + " dated leaves, not " + std::to_string(at.n);
    if (!(fit.rate > 0)) return where + "a rate of " + number(fit.rate) + ", not positive";
    if (off(fit.rate, at.rate, slack.rate(at))) return differ("rate", fit.rate, at.rate);
    if (off(fit.root_date, at.root_date, slack.root_date(at))) return differ("root date", fit.root_date, at.root_date);
    if (off(fit.r2, at.r2, slack.r2(at))) return differ("R^2", fit.r2, at.r2);
    if (off(fit.rms, at.mean_square(), slack.mean_square(at))) return differ("RSS/n", fit.rms, at.mean_square());
    const node_ref offset = dissolved_second(o.t) != none ? 1 : 0;
    if (c.dates().size() != o.leaves.size() || fit.residual.size() != o.leaves.size() ||
        fit.outlier.size() != o.leaves.size() || fit.distance.size() != o.t.nodes.size() - offset)
        return where + "dates, residuals or distances not one a leaf or node";
    std::vector<double> sorted;
    for (std::size_t i = 0; i < o.leaves.size(); ++i)
        if (!std::isnan(at.residual[i])) sorted.push_back(at.residual[i]);
    std::sort(sorted.begin(), sorted.end());
    auto quartile = [&](double q) {
        const double h = static_cast<double>(sorted.size() - 1) * q;
        const std::size_t i = static_cast<std::size_t>(h);
        return i + 1 < sorted.size() ? sorted[i] + (h - static_cast<double>(i)) * (sorted[i + 1] - sorted[i]) : sorted[i];
    };
    const double fence = 3 * (quartile(0.75) - quartile(0.25));
    double residual_slack = 0;
    for (std::size_t i = 0; i < o.leaves.size(); ++i)
        if (!std::isnan(dates[i])) residual_slack = std::max(residual_slack, slack.residual(at, dates[i]));
    std::size_t outliers = 0;
    bool outliers_in_doubt = false;
    for (std::size_t i = 0; i < o.leaves.size(); ++i) {
        const std::uint32_t v = static_cast<std::uint32_t>(o.leaves[i] - offset);
        const std::string leaf = where + "leaf '" + o.names[i] + "': ";
        const double date = c.dates()[i];
        if (std::isnan(date) != std::isnan(dates[i]) || (!std::isnan(date) && date != dates[i]))
            return leaf + "dated " + number(date) + ", not " + number(dates[i]);
        if (off(fit.distance[v], at.y[i], slack.distance()))
            return leaf + "at " + number(fit.distance[v]) + " from the root, not " + number(at.y[i]);
        if (std::isnan(dates[i])) {
            if (!std::isnan(fit.residual[i]) || fit.outlier[i]) return leaf + "undated, but with a residual";
            continue;
        }
        if (off(fit.residual[i], at.residual[i], slack.residual(at, dates[i])))
            return leaf + "a residual of " + number(fit.residual[i]) + ", not " + number(at.residual[i]);
        const bool outlier = std::fabs(at.residual[i]) > fence;
        if (std::fabs(std::fabs(at.residual[i]) - fence) <= 8 * residual_slack) {
            outliers_in_doubt = true;
        } else if (outlier != (fit.outlier[i] != 0)) {
            return leaf + (outlier ? "past " : "within ") + number(fence) + ", 3 interquartile distances, but " +
                   (outlier ? "no outlier" : "an outlier");
        }
        outliers += outlier;
    }
    if (!outliers_in_doubt && fit.outliers != outliers)
        return where + std::to_string(fit.outliers) + " outliers, not " + std::to_string(outliers);

    // The choice: of a rate clearly positive (a rate within rounding of 0
    // is the bound that positive rates approach, never a best point of its
    // own), and no point that qualifies does better.
    auto positive_rate = [&](const clock_line& f) {
        return f.rate > slack.rate(f) || f.rate >= least - slack.rate(f);
    };
    const double here = clock_value(at, r2), here_slack = slack.value(at, r2);
    if (!positive_rate(at)) return where + "a rate of " + number(at.rate) + ", in effect 0";
    clock_best positive, zero;
    std::size_t positive_on = 0, zero_on = 0;
    for (std::size_t j = 0; j < scans.size(); ++j) {
        if (scans[j].positive.value < positive.value) positive = scans[j].positive, positive_on = j;
        if (scans[j].zero.value < zero.value) zero = scans[j].zero, zero_on = j;
    }
    auto on = [&](std::size_t j, const clock_best& b) {
        return number(r2 ? -b.value : b.value) + " at " + number(b.x) + " on the branch above node " +
               std::to_string(o.branches[j].chosen);
    };
    const std::string value_name = r2 ? "R^2 " : "RSS/n ";
    if (!fit.weak && !r2 && zero.value < positive.value - positive.slack - zero.slack)
        return where + "not weak, but " + value_name + on(zero_on, zero) + " at a rate of 0 is below " +
               on(positive_on, positive) + ", the least at a positive rate";
    if (fit.weak) {
        if (r2) return where + "weak, for R^2";
        if (at.rate < least - slack.rate(at)) return where + "weak, at a rate below a millionth of the largest";
        if (positive.value + positive.slack < zero.value - zero.slack)
            return where + "weak, but " + value_name + on(positive_on, positive) + " at a positive rate is below " +
                   on(zero_on, zero) + " at a rate of 0";
    }
    for (std::size_t j = 0; j < scans.size(); ++j) {
        for (const clock_best* b : fit.weak ? std::vector<const clock_best*>{&scans[j].bounded}
                                            : std::vector<const clock_best*>{&scans[j].positive, &scans[j].zero}) {
            if (here > b->value + here_slack + b->slack)
                return where + value_name + number(r2 ? -here : here) + ", but " + on(j, *b) +
                       (b == &scans[j].zero ? ", approached at a positive rate" : "");
        }
    }
    if (!how.scores) return "";

    // Every branch's row: at its best point, with the regression there.
    const std::vector<roots::scored_branch>& table = c.scores();
    for (std::size_t j = 0; j < table.size(); ++j) {
        const roots::scored_branch& row = table[j];
        const clock_scan& s = scans[j];
        const std::string in_row = where + "row " + std::to_string(j) + " (the branch above node " +
                                   std::to_string(o.branches[j].chosen) + "): ";
        // Whether the branch's own best at a positive rate is, or may be,
        // only approached toward a rate of 0: then the best whose rate is at
        // least a millionth of the largest.
        const bool may_be_weak = !r2 && s.zero.value <= s.positive.value + s.zero.slack + s.positive.slack;
        const bool weak = !r2 && s.zero.value < s.positive.value - s.zero.slack - s.positive.slack;
        if (row.empty) {
            if (s.most_rate <= s.most_rate_slack) continue;
            if (may_be_weak && s.most_rate < least + s.most_rate_slack) continue;
            return in_row + "empty, but its rate reaches " + number(s.most_rate);
        }
        const clock_line f = o.regression(j, row.position, dates);
        if (!(row.rate > 0)) return in_row + "a rate of " + number(row.rate) + ", not positive";
        if (!positive_rate(f))
            return in_row + "a rate of " + number(f.rate) + " at " + number(row.position) + ", in effect 0";
        if (weak && f.rate < least - slack.rate(f))
            return in_row + "its best only approached at a rate of 0, and a rate of " + number(f.rate) +
                   " below a millionth of the largest";
        if (off(row.score, r2 ? f.r2 : f.mean_square(), slack.value(f, r2)))
            return in_row + "scores " + number(row.score) + ", not " + number(r2 ? f.r2 : f.mean_square()) + " at " +
                   number(row.position);
        if (off(row.rate, f.rate, slack.rate(f))) return in_row + "rate " + number(row.rate) + ", not " + number(f.rate);
        if (off(row.root_date, f.root_date, slack.root_date(f)))
            return in_row + "root date " + number(row.root_date) + ", not " + number(f.root_date);
        if (off(row.r2, f.r2, slack.r2(f))) return in_row + "R^2 " + number(row.r2) + ", not " + number(f.r2);
        const clock_best& best = may_be_weak ? s.bounded : s.positive;
        if (clock_value(f, r2) > best.value + slack.value(f, r2) + best.slack)
            return in_row + "at " + number(row.position) + ", but " + on(j, best);
    }
    return "";
}

// Empty when the chooser, run on t as `how` says, makes a sound choice, else
// the first fault found. Always: a refusal is an error text; a choice is a
// branch of the tree and a point x on it, in [0, e] ([e, 0] for a negative
// length); the line written reads back as one tree, rooted on two children,
// the chosen node's side first with length x and the other with e - x,
// summing exactly to e (x = e/2 gives the standard mode's line, but on a
// branch of length 0, where the point is an end); it stands
// for the same unrooted tree; the scores, if asked for, list every branch.
// A tree of one leaf has no branch: outgroup and midpoint refuse it, minvar
// and mad write it as read. With brute (on a tame tree): a refusal is due,
// the line keeps every leaf-to-leaf distance, and the choice is the
// method's: the outgroup split off (by the first branch that does), the
// middle of a longest path (the first branch holding one), the least
// variance or least ancestor deviation of all branches (the first branch,
// its middle, for mad on fewer than 3 leaves), and every score is the
// method's value at its point and the least of its branch. The clock's
// dates are those of `dates`, by leaf name, where given (as the chooser
// must find them), else those the chooser finds; its choice is held to
// check_clock().
inline std::string check_choice(const tree& t, const roots::options& how, bool brute = true,
                                const std::map<std::string, double>* dates = nullptr) {
    const std::string name = std::string(method_name(how.how)) + ": ";
    roots::chooser chooser(how);
    const std::string refusal = chooser.choose(t);
    rootings r(t, how.labels);
    const auto listed = r.chosen();
    const std::vector<node_ref> order(listed.begin(), listed.end());
    const bool finite = tame(t);
    brute = brute && finite;
    std::unique_ptr<root_oracle> o;
    std::vector<double> leaf_dates;
    if (brute) {
        o = std::make_unique<root_oracle>(t);
        if (!o->fault.empty()) return "oracle: " + o->fault;
        if (how.how == roots::method::clock) {
            leaf_dates = clock_dates(*o, how, dates);
            // Distances, too, within a million units (or none at all):
            // sums of squares of lengths of 1e17 beside lengths of 9 keep
            // no digit of the small ones.
            brute = tame_dates(leaf_dates) && (o->scale == 0 || (o->scale >= 1e-100 && o->scale <= 1e6));
        }
    }

    // The outgroup: the first list with a name among the leaves, the names
    // of it that are, and the branches with those names on one side.
    std::set<std::string> outgroup;
    std::vector<bool> splits_off;
    bool doubt = false;  // a name of the outgroup is borne by several leaves
    if (brute && how.how == roots::method::outgroup) {
        const std::set<std::string> present(o->names.begin(), o->names.end());
        for (const auto& list : how.outgroups) {
            for (const std::string& s : list)
                if (present.count(s)) outgroup.insert(s);
            if (!outgroup.empty()) break;
        }
        for (const oracle_branch& b : o->branches)
            splits_off.push_back(!outgroup.empty() && (b.near_names == outgroup || b.far_names == outgroup));
        for (const std::string& s : outgroup) doubt = doubt || std::count(o->names.begin(), o->names.end(), s) > 1;
    }

    const bool real = how.how == roots::method::minvar || how.how == roots::method::mad;
    if (!refusal.empty()) {
        if (order.empty()) return real ? name + "refused a tree of one leaf: " + refusal : "";
        if (!brute) return "";
        bool due = false;
        switch (how.how) {
        case roots::method::outgroup:
            due = doubt || std::find(splits_off.begin(), splits_off.end(), true) == splits_off.end();
            break;
        case roots::method::midpoint: due = o->longest_exact.digits.empty(); break;
        case roots::method::minvar: break;
        case roots::method::mad: due = o->negative_length || o->pairs.empty(); break;
        case roots::method::clock: {
            bool doubt;
            const std::string why = clock_refusal(*o, leaf_dates, doubt);
            due = refusal == why || (doubt && refusal == "no root gives the dates a positive rate");
            if (!due) return name + "refused: " + refusal + (why.empty() ? "" : ", not: " + why);
            break;
        }
        }
        return due ? "" : name + "refused: " + refusal;
    }
    if (order.empty()) {
        // A tree of one leaf: written as read.
        std::string line;
        chooser.write(t, line);
        if (!real) return name + "rooted a tree of no branch";
        return line == std::string(t.text.view()) + ";" ? "" : name + "a tree of no branch written as " + line;
    }
    const auto found = std::find(order.begin(), order.end(), chooser.chosen());
    if (found == order.end()) return name + "chose node " + std::to_string(chooser.chosen()) + ", no branch";
    const std::size_t k = static_cast<std::size_t>(found - order.begin());
    const decimal e = branch_length(t, chooser.chosen());
    const decimal& x = chooser.position();
    const std::string at = name + "x = " + written(x) + " on the branch above node " + std::to_string(chooser.chosen()) +
                           " (e = " + written(e) + ")";
    const bool in_range = is_negative(e) ? !is_negative(add(x, negated(e))) && (is_negative(x) || x.digits.empty())
                                         : !is_negative(x) && !is_negative(add(e, negated(x)));
    if (!in_range) return at + ": out of the branch";

    std::string line;
    chooser.write(t, line);
    const std::string where = at + ", line " + line + ": ";
    tree back;
    const std::string error = read_one(line, back);
    if (!error.empty()) return where + "does not read back: " + error;
    if (std::string(back.text.view()) + ";" != line) return where + "blanks, or more than one tree";
    if (back.nodes[0].is_leaf() || children(back, 0) != 2) return where + "the root has not two children";
    const node_ref back_second = dissolved_second(back);
    const decimal first_length = exact_length(back.length(1)), second_length = exact_length(back.length(back_second));
    if (written(first_length) != written(x)) return where + "the root's first child is not at x";
    if (written(add(first_length, second_length)) != written(e)) return where + "the root's two lengths do not sum to e";
    std::string standard;
    r.write(chooser.chosen(), standard);
    // A point that is also an end (e = 0) is written as an end: 0, and e as read.
    if (written(x) == written(half(e)) && !e.digits.empty() && line != standard)
        return where + "x = e/2, not the standard mode's line " + standard;
    const std::map<std::string, int> ids = leaf_numbers(t);
    if (leaves_below(back, ids)[1] != leaves_below(t, ids)[chooser.chosen()])
        return where + "the root's first child is not the chosen node's side";
    if (unrooted(back, how.labels, ids) != unrooted(t, how.labels, ids)) return where + "another unrooted tree";

    const bool scored = how.scores && (how.how == roots::method::minvar || how.how == roots::method::mad ||
                                       how.how == roots::method::clock);
    const std::vector<roots::scored_branch>& table = chooser.scores();
    if (scored && finite) {
        if (table.size() != order.size())
            return where + std::to_string(table.size()) + " scores for " + std::to_string(order.size()) + " branches";
        for (std::size_t i = 0; i < table.size(); ++i) {
            const double length = as_double(branch_length(t, order[i]));
            const double lo = std::min(0.0, length), hi = std::max(0.0, length), slack = 1e-12 * std::fabs(length);
            if (table[i].chosen != order[i]) return where + "score " + std::to_string(i) + " is of another branch";
            if (!(table[i].position >= lo - slack && table[i].position <= hi + slack))
                return where + "score " + std::to_string(i) + " placed off its branch, at " +
                       number(table[i].position);
        }
    }
    if (!brute) return "";

    if (!same_distances(distances(back, ids), distances(t, ids))) return where + "other leaf-to-leaf distances";
    const double xd = as_double(x);
    switch (how.how) {
    case roots::method::outgroup: {
        if (doubt) return where + "an outgroup name is borne by several leaves";
        if (!splits_off[k]) return where + "no side of the branch is the outgroup";
        // Where one-child nodes make several branches part the same leaves.
        for (std::size_t j = 0; j < k; ++j)
            if (splits_off[j]) return where + "the branch above node " + std::to_string(order[j]) + ", before, parts them";
        if (names_below(back, 1) != outgroup && names_below(back, back_second) != outgroup)
            return where + "no side of the root is the outgroup";
        if (written(x) != written(half(e))) return where + "not the middle of the branch";
        break;
    }
    case roots::method::midpoint: {
        if (o->longest_exact.digits.empty()) break;  // every point is the middle of a path of length 0
        if (!o->holds_midpoint(k)) return where + "not the middle of a longest path";
        for (std::size_t j = 0; j < k; ++j)
            if (o->holds_midpoint(j))
                return where + "the branch above node " + std::to_string(order[j]) + ", before, holds a middle";
        const decimal near = o->farthest(k, x, true), far = o->farthest(k, x, false);
        if (compare(near, half(o->longest_exact)) != 0 || compare(far, half(o->longest_exact)) != 0)
            return where + "the farthest leaves are at " + written(near) + " and " + written(far) + ", not half of " +
                   written(o->longest_exact);
        break;
    }
    case roots::method::minvar:
    case roots::method::mad: {
        const bool mad = how.how == roots::method::mad;
        if (mad && o->negative_branch) return where + "rooted a tree of a negative branch";
        if (mad && o->leaves.size() < 3) {
            if (k != 0 || written(x) != written(half(e)))
                return where + "fewer than 3 leaves, and not the middle of the first branch";
            break;
        }
        auto value = [&](std::size_t j, double at) { return mad ? o->mad_square(j, at) : o->minvar(j, at); };
        auto least = [&](std::size_t j) { return mad ? o->branches[j].mad_least : o->branches[j].minvar_least; };
        const double tolerance = mad ? root_oracle::mad_tolerance : o->minvar_tolerance();
        const double here = value(k, xd);
        for (std::size_t j = 0; j < o->branches.size(); ++j)
            if (here > least(j) + tolerance)
                return where + "scores " + number(here) + ", the branch above node " +
                       std::to_string(order[j]) + " " + number(least(j)) + (mad ? " (squared)" : "");
        if (!scored) break;
        for (std::size_t j = 0; j < table.size(); ++j) {
            const std::string row = where + "score " + std::to_string(j) + " (" + number(table[j].score) +
                                    " at " + number(table[j].position) + "): ";
            const double score = mad ? table[j].score * table[j].score : table[j].score;
            if (table[j].leaves != o->branches[j].leaves) return row + "not its number of leaves";
            if (std::fabs(table[j].length - o->branches[j].length) > 1e-12 * std::fabs(o->branches[j].length))
                return row + "not its length";
            if (!(std::fabs(score - value(j, table[j].position)) <= tolerance))
                return row + "the value there is " + number(value(j, table[j].position)) +
                       (mad ? " (squared)" : "") + ", off by " + number(std::fabs(score - value(j, table[j].position))) +
                       " beyond " + number(tolerance);
            if (!(score <= least(j) + tolerance))
                return row + "the branch's least is " + number(least(j)) + (mad ? " (squared)" : "");
            const double chosen_score = mad ? table[k].score * table[k].score : table[k].score;
            if (chosen_score > score + tolerance) return row + "below the chosen branch's score";
        }
        break;
    }
    case roots::method::clock: return check_clock(*o, chooser, how, k, xd, leaf_dates, where);
    }
    return "";
}

}  // namespace quorlen::standard::testing
