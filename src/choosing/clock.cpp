// Root-to-tip regression: the root where the tips' distances from it grow
// most nearly in proportion to their sampling dates. For a root at x on a
// branch of length e, the dated tips below it at distances d from its lower
// end (count n1, mean m1) and those beyond it at distances d' from its
// upper end (n2, m2) are at y = d + x and y = d' + e - x. With the dates
// centred, each side's sums of squares and products about its own means
// (Mdd, Mcc, Cdc) join as the minimal-variance method joins its spreads, so
// that no digit is lost; with M, Q, C those of both sides, dc = mc1 - mc2,
// k = n1 n2 / n and g = 2x + m1 - m2 - e, the regression of y on date has
//   Syy = M + k g^2,   Sty = C + k dc g,   Stt = Q + k dc^2,
//   rate = Sty / Stt,  RSS = Syy - Sty^2 / Stt,
// so that RSS is a quadratic in x, least at g = C dc / Q, and the rate is
// linear in x. R^2 = Sty^2 / (Stt Syy) has one turning point, g = dc M / C.
// One pass up and one down the tree: linear time.
#include <algorithm>
#include <cmath>

#include "choosing/methods.h"

namespace quorlen::standard::roots {

namespace {

// The dated tips on one side of a branch: their count, mean distance and
// mean centred date, and the sums of squares and products about those.
struct side {
    double n = 0, md = 0, mc = 0, mdd = 0, mcc = 0, cdc = 0;
};

struct side_ops {
    const big_vector<double>& length;  // by view node
    const big_vector<double>& dates;    // by leaf; NaN: no date
    double mean;                        // of the dates
    side leaf(std::uint32_t, std::uint32_t i) const {
        if (std::isnan(dates[i])) return {};
        return {1, 0, dates[i] - mean, 0, 0, 0};
    }
    side none() const { return {}; }
    side away(const side& a, std::uint32_t v) const {
        side b = a;
        if (a.n > 0) b.md += length[v];
        return b;
    }
    side join(const side& a, const side& b) const {
        if (a.n == 0) return b;
        if (b.n == 0) return a;
        const double n = a.n + b.n, dd = b.md - a.md, dc = b.mc - a.mc, share = b.n / n, w = a.n * share;
        return {n, a.md + dd * share, a.mc + dc * share, a.mdd + b.mdd + dd * dd * w, a.mcc + b.mcc + dc * dc * w,
                a.cdc + b.cdc + dd * dc * w};
    }
};

// One branch's regression, as a function of g. Stt, the dates' spread, is
// the tree's: the same for every root.
struct branch_fit {
    double e, n1, n2, m1, m2, mc1, mc2, k, dc, M, Q, C, n;
    double g_of(double x) const { return 2 * x + m1 - m2 - e; }
    double x_of(double g) const { return std::clamp((g - m1 + m2 + e) / 2, std::min(0.0, e), std::max(0.0, e)); }
    double sty(double g) const { return C + k * dc * g; }
    double syy(double g) const { return M + k * g * g; }
    // RSS Stt = (MQ - C^2) + k (Q g^2 - 2 C dc g + M dc^2): no Sty^2 taken
    // from Syy Stt.
    double rss_stt(double g) const {
        return std::max(0.0, (M * Q - C * C) + k * (Q * g * g - 2 * C * dc * g + M * dc * dc));
    }
    // R^2 Stt.
    double r2_stt(double g) const {
        const double s = sty(g), y = syy(g);
        return y > 0 ? s * s / y : 0;
    }
    // The centred date where the line of rate sty(g) / stt reaches 0.
    double root_date(double x, double stt) const {
        const double ybar = (n1 * (m1 + x) + n2 * (m2 + e - x)) / n, cbar = (n1 * mc1 + n2 * mc2) / n;
        return cbar - ybar * stt / sty(g_of(x));
    }
};

// Every dated leaf is on one side or the other: n, and 1 / n, are the
// tree's.
branch_fit fit_of(const side& a, const side& b, double e, double n, double per_leaf) {
    branch_fit f;
    f.e = e;
    f.n1 = a.n;
    f.n2 = b.n;
    f.m1 = a.md;
    f.m2 = b.md;
    f.mc1 = a.mc;
    f.mc2 = b.mc;
    f.n = n;
    f.k = a.n * b.n * per_leaf;
    f.dc = a.mc - b.mc;
    f.M = a.mdd + b.mdd;
    f.Q = a.mcc + b.mcc;
    f.C = a.cdc + b.cdc;
    return f;
}

// A branch's best point, where g lies, its score (RSS Stt, or R^2 Stt),
// and whether the rate there is no more than the least allowed: the
// least RSS only approached there.
struct best_point {
    bool any = false;  // some point of the branch is allowed
    double g = 0, score = 0;
    bool at_bound = false;
};

// The best point of a branch among those whose Sty is at least `least`
// (no less than what rounding can make of a rate of 0). The bound itself is
// taken, and marked. The largest Sty of the branch's points goes to `top`.
best_point best_on(const branch_fit& f, bool r2, double least, double& top) {
    best_point b;
    const double g0 = f.g_of(0), g1 = f.g_of(f.e);
    double lo = std::min(g0, g1), hi = std::max(g0, g1);
    const double s_lo = f.sty(lo), s_hi = f.sty(hi);
    top = std::max(s_lo, s_hi);
    if (!(top >= least) || !(top > 0)) return b;
    // The points whose Sty is at least `least`: a half-line of g.
    const double slope = f.k * f.dc;
    bool low_bound = false, high_bound = false;
    if (slope > 0 && s_lo < least) {
        lo = std::max(lo, (least - f.C) / slope);
        low_bound = true;
    } else if (slope < 0 && s_hi < least) {
        hi = std::min(hi, (least - f.C) / slope);
        high_bound = true;
    }
    if (!(lo <= hi)) return b;
    b.any = true;
    // Where every allowed point fits alike: the branch's middle, or the
    // middle of the points allowed.
    const double middle = f.m1 - f.m2;  // x = e / 2
    const double alike = middle >= lo && middle <= hi ? middle : lo + (hi - lo) / 2;
    if (f.k == 0) {
        b.g = alike;
    } else if (r2) {
        // The ends, and the turning point between them. Where R^2 is the
        // same all along (two clusters of distances), the end farthest
        // from a rate of 0: another point must do better than rounding.
        const double far_end = high_bound ? lo : hi, near_end = high_bound ? hi : lo;
        const double turn = f.C != 0 ? std::clamp(f.dc * f.M / f.C, lo, hi) : far_end;
        b.g = far_end;
        double most = f.r2_stt(far_end);
        for (double g : {turn, near_end}) {
            const double r = f.r2_stt(g);
            if (r > most * (1 + 1e-12)) b.g = g, most = r;
        }
    } else if (f.Q > 0) {
        b.g = std::clamp(f.C * f.dc / f.Q, lo, hi);
    } else {
        // RSS is the same all along, or falls one way.
        const double falls = -2 * f.C * f.dc;
        b.g = falls == 0 ? alike : falls > 0 ? lo : hi;
    }
    b.score = r2 ? f.r2_stt(b.g) : f.rss_stt(b.g);
    b.at_bound = !r2 && ((low_bound && b.g == lo) || (high_bound && b.g == hi));
    return b;
}

// The values at ranks i and i + 1 (from 0) of the dated leaves' residuals
// r were they sorted, found among `pool` (some of them), with `below` of
// them less than every value in it; false where those ranks are not in it.
bool ranks_in(std::vector<double>& pool, std::size_t below, std::size_t i, std::size_t count, double& at,
              double& next) {
    if (below > i || below + pool.size() < std::min(i + 2, count)) return false;
    const auto k = pool.begin() + static_cast<std::ptrdiff_t>(i - below);
    std::nth_element(pool.begin(), k, pool.end());
    at = *k;
    next = k + 1 == pool.end() ? at : *std::min_element(k + 1, pool.end());
    return true;
}

// The lower and upper quartiles of the residuals r of the `count` dated
// leaves, by linear interpolation between ranks. Where there are many,
// a sample tells where each quartile's ranks fall, and only the residuals
// between the sample's bounds for it are ordered; all of them where the
// sample misjudged (the answer is the same either way).
void quartiles(const big_vector<double>& r, const big_vector<double>& dates, std::size_t count, double& lower,
               double& upper) {
    const double h[2] = {(static_cast<double>(count) - 1) * 0.25, (static_cast<double>(count) - 1) * 0.75};
    const std::size_t rank[2] = {static_cast<std::size_t>(h[0]), static_cast<std::size_t>(h[1])};
    double at[2], next[2];
    bool found = false;
    constexpr std::size_t sample_size = 1 << 14;
    if (count >= 8 * sample_size) {
        // The sample: residuals at places drawn by a fixed sequence.
        std::vector<double> sample;
        sample.reserve(sample_size);
        std::uint64_t state = 0x853C49E6748FEA9Bull;
        for (std::size_t tries = 0; sample.size() < sample_size && tries < 4 * sample_size; ++tries) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            const std::size_t i = static_cast<std::size_t>((state >> 33) % dates.size());
            if (!std::isnan(dates[i])) sample.push_back(r[i]);
        }
        if (sample.size() == sample_size) {
            std::sort(sample.begin(), sample.end());
            // Five times the spread of a sample's rank about its expected
            // place, each side.
            const std::size_t margin = 5 * 128;
            double lo[2], hi[2];
            for (int q = 0; q < 2; ++q) {
                const std::size_t expected = static_cast<std::size_t>(h[q] / static_cast<double>(count) * sample_size);
                lo[q] = expected >= margin ? sample[expected - margin] : -INFINITY;
                hi[q] = expected + margin < sample_size ? sample[expected + margin] : INFINITY;
            }
            std::vector<double> pool[2];
            std::size_t below[2] = {0, 0};
            for (int q = 0; q < 2; ++q) pool[q].reserve(4 * margin * (count / sample_size + 1));
            for (std::size_t i = 0; i < dates.size(); ++i) {
                if (std::isnan(dates[i])) continue;
                const double x = r[i];
                for (int q = 0; q < 2; ++q) {
                    if (x < lo[q])
                        ++below[q];
                    else if (x <= hi[q])
                        pool[q].push_back(x);
                }
            }
            found = ranks_in(pool[0], below[0], rank[0], count, at[0], next[0]) &&
                    ranks_in(pool[1], below[1], rank[1], count, at[1], next[1]);
        }
    }
    if (!found) {
        std::vector<double> all;
        all.reserve(count);
        for (std::size_t i = 0; i < dates.size(); ++i)
            if (!std::isnan(dates[i])) all.push_back(r[i]);
        ranks_in(all, 0, rank[0], count, at[0], next[0]);
        ranks_in(all, 0, rank[1], count, at[1], next[1]);
    }
    lower = at[0] + (h[0] - static_cast<double>(rank[0])) * (next[0] - at[0]);
    upper = at[1] + (h[1] - static_cast<double>(rank[1])) * (next[1] - at[1]);
}

}  // namespace

void clock_lengths(const unrooted& u, big_vector<double>& length, double& longest) {
    const std::uint32_t m = u.size();
    length.assign(m, 0.0);
    longest = 0;
    big_vector<float> far(m, 0.0f);  // the farthest leaf below v, roughly
    for (std::uint32_t v = m; v-- > 1;) {
        length[v] = u.length(v);
        const std::uint32_t up = u.parent(v);
        const double reach = far[v] + std::fabs(length[v]);
        longest = std::max(longest, far[up] + reach);
        far[up] = std::max(far[up], static_cast<float>(reach));
    }
}

std::string by_clock(const unrooted& u, const big_vector<double>& dates, big_vector<double> length, double longest,
                     bool r2, found& out, std::vector<branch_score>* every, clock_fit& fit) {
    const std::uint32_t m = u.size();
    fit = clock_fit{};
    // The dates centred on their mean, and their spread.
    double sum = 0;
    std::size_t count = 0;
    for (double d : dates)
        if (!std::isnan(d)) sum += d, ++count;
    fit.dated = count;
    if (count < 2) return "fewer than two leaves have dates";
    const double n = static_cast<double>(count), mean = sum / n;
    double stt = 0;
    for (double d : dates)
        if (!std::isnan(d)) stt += (d - mean) * (d - mean);
    if (!(stt > 0)) return "every dated leaf has the same date";

    // After the passes, each node's distance from the chosen point takes
    // the place of its length.
    const double per_leaf = 1 / n;
    // A rate within rounding of 0 counts as 0: Sty below a hundred-billionth
    // of the longest path (every length counted by its size) times
    // sqrt(n Stt), the most |Sty| the tree's distances could make of it.
    const double noise = 1e-11 * longest * std::sqrt(n * stt);
    auto pass = [&](auto&& take) {
        fold_sides<side>(u, side_ops{length, dates, mean}, [&](std::uint32_t v, const side& low, const side& high) {
            take(v, fit_of(low, high, length[v], n, per_leaf));
        });
    };
    std::uint32_t chosen = none;
    best_point top;
    branch_fit top_fit{};
    auto better = [&](std::uint32_t v, const best_point& b) {
        if (!b.any) return false;
        if (chosen == none) return true;
        if (r2 ? b.score > top.score : b.score < top.score) return true;
        return b.score == top.score && u.before(v, chosen);
    };
    // First the largest rate any point gives (at a branch's ends), and the
    // best point among those of positive rate.
    double largest = -INFINITY, branch_top;
    pass([&](std::uint32_t v, const branch_fit& f) {
        // RSS Stt is at least MQ - C^2 on the branch: one past the best so
        // far is no choice, and only its largest rate is wanted.
        if (!r2 && chosen != none && f.M * f.Q - f.C * f.C > top.score) {
            largest = std::max({largest, f.sty(f.g_of(0)), f.sty(f.g_of(f.e))});
            return;
        }
        const best_point b = best_on(f, r2, noise, branch_top);
        largest = std::max(largest, branch_top);
        if (better(v, b)) chosen = v, top = b, top_fit = f;
    });
    if (!(largest > 0) || chosen == none) return "no root gives the dates a positive rate";
    // Where the least RSS is only approached toward a rate of 0, the root
    // date runs off to the past: then the best point whose rate is at
    // least a millionth of the largest. A branch's row in the table, too,
    // where its own least is approached so.
    const double least = std::max(largest * 1e-6, 2 * noise);
    fit.weak = top.at_bound;
    if (every) every->assign(m, branch_score{});
    if (fit.weak || every) {
        if (fit.weak) chosen = none;
        pass([&](std::uint32_t v, const branch_fit& f) {
            best_point b = best_on(f, r2, fit.weak ? least : noise, branch_top);
            if (b.at_bound) b = best_on(f, r2, least, branch_top);
            if (every) {
                branch_score& s = (*every)[v];
                s.empty = !b.any;
                if (b.any) {
                    s.position = f.x_of(b.g);
                    s.score = b.score / stt / (r2 ? 1 : n);
                    s.rate = f.sty(b.g) / stt;
                    s.root_date = mean + f.root_date(s.position, stt);
                    s.r2 = f.r2_stt(b.g) / stt;
                }
            }
            if (fit.weak && better(v, b)) chosen = v, top = b, top_fit = f;
        });
    }
    // Where the largest rate is itself within rounding of 0, no point is
    // left once the bound is kept from it.
    if (chosen == none) return "no root gives the dates a positive rate";
    out = found{};
    out.kind = found::real;
    out.branch = chosen;
    out.real_x = top_fit.x_of(top.g);

    // Every node's distance from the chosen point, in place of its length:
    // the way up to the top first, then every other node after its parent.
    const std::uint32_t c = chosen, p = u.parent(c);
    big_vector<double>& y = length;
    double carry = top_fit.e - out.real_x;
    for (std::uint32_t a = p;; a = u.parent(a)) {
        const double own = y[a];  // the length above a
        y[a] = carry;
        if (a == 0) break;
        carry += own;
    }
    y[c] = out.real_x;
    for (std::uint32_t w = 1; w < m; ++w)
        if (w != c && !(w <= p && p < w + u.extent[w])) y[w] += y[u.parent(w)];
    // The point made exact on its branch from every leaf's distance: the
    // passes' sums, joined over long chains of wide dates, may leave it off
    // by some millionths. Moving it by d moves the leaves below it by +d and
    // the rest by -d; RSS and R^2 are then exact functions of d.
    const auto below = [&](std::uint32_t v) { return v >= c && v < c + u.extent[c]; };
    if (top_fit.k != 0) {
        double tbar = 0, abar = 0, sbar = 0;
        for (std::uint32_t v = 0, i = 0; v < m; ++v) {
            if (!u.is_leaf(v)) continue;
            if (!std::isnan(dates[i])) tbar += dates[i] - mean, abar += y[v], sbar += below(v) ? 1 : -1;
            ++i;
        }
        tbar /= n, abar /= n, sbar /= n;
        double A = 0, B = 0, P = 0, R = 0, S = 0, T = 0;
        for (std::uint32_t v = 0, i = 0; v < m; ++v) {
            if (!u.is_leaf(v)) continue;
            if (!std::isnan(dates[i])) {
                const double t = dates[i] - mean - tbar, a = y[v] - abar, s = (below(v) ? 1 : -1) - sbar;
                A += t * a, B += t * s, P += a * a, R += a * s, S += s * s, T += t * t;
            }
            ++i;
        }
        auto rss = [&](double d) { return P + 2 * R * d + S * d * d - (A + B * d) * (A + B * d) / T; };
        auto r2_of = [&](double d) {
            const double yy = P + 2 * R * d + S * d * d;
            return yy > 0 ? (A + B * d) * (A + B * d) / (T * yy) : 0;
        };
        // The turning point, or where the rate is the bound that held the
        // point.
        const double curve = S - B * B / T, turn = B * R - A * S, bound = fit.weak ? least : noise;
        double d = top.at_bound ? (B != 0 ? (bound - A) / B : 0)
                   : r2         ? (turn != 0 ? (A * R - B * P) / turn : 0)
                                : (curve > 0 ? (A * B / T - R) / curve : 0);
        const double e = top_fit.e, x = std::clamp(out.real_x + d, std::min(0.0, e), std::max(0.0, e));
        d = x - out.real_x;
        if (d != 0 && A + B * d >= bound * (1 - 1e-9) && (r2 ? r2_of(d) > r2_of(0) : rss(d) < rss(0))) {
            out.real_x = x;
            for (std::uint32_t v = 0; v < m; ++v) y[v] += below(v) ? d : -d;
        }
    }
    // The regression from its definition, about the means: each dated
    // leaf's distance first, by leaf.
    big_vector<double>& r = fit.residual;
    r.assign(dates.size(), std::nan(""));
    double cbar = 0, ybar = 0;
    for (std::uint32_t v = 0, i = 0; v < m; ++v) {
        if (!u.is_leaf(v)) continue;
        if (!std::isnan(dates[i])) r[i] = y[v], cbar += dates[i] - mean, ybar += y[v];
        ++i;
    }
    cbar /= n;
    ybar /= n;
    double tt = 0, ty = 0, yy = 0;
    for (std::size_t i = 0; i < dates.size(); ++i) {
        if (std::isnan(dates[i])) continue;
        const double dt = dates[i] - mean - cbar, dy = r[i] - ybar;
        tt += dt * dt, ty += dt * dy, yy += dy * dy;
    }
    fit.rate = ty / tt;
    fit.root_date = mean + (cbar - ybar / fit.rate);
    // Each tip's residual, where its distance was.
    double rss = 0;
    for (std::size_t i = 0; i < dates.size(); ++i) {
        if (std::isnan(dates[i])) continue;
        r[i] = r[i] - ybar - fit.rate * (dates[i] - mean - cbar);
        rss += r[i] * r[i];
    }
    fit.rms = rss / n;
    fit.r2 = yy > 0 ? 1 - rss / yy : 0;
    // Outliers: residuals past 3 interquartile distances.
    double lower, upper;
    quartiles(r, dates, count, lower, upper);
    const double spread = upper - lower;
    fit.outlier.assign(dates.size(), 0);
    for (std::size_t i = 0; i < dates.size(); ++i)
        if (!std::isnan(r[i]) && std::fabs(r[i]) > 3 * spread) fit.outlier[i] = 1, ++fit.outliers;
    fit.distance = std::move(length);
    if (every) {
        branch_score& s = (*every)[c];
        s.position = out.real_x;
        s.score = r2 ? fit.r2 : fit.rms;
        s.rate = fit.rate;
        s.root_date = fit.root_date;
        s.r2 = fit.r2;
    }
    return "";
}

}  // namespace quorlen::standard::roots
