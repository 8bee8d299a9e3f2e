// Minimal variance: the point where the distances from the root to the
// leaves vary least. On a branch of length e, with k1 leaves on the lower
// side at mean distance m1 from the lower end and sum of squared deviations
// M1, and k2, m2, M2 on the other side seen from the upper end, a root x
// from the lower end gives the variance
//   (M1 + M2 + k1 k2 / N (2x + m1 - m2 - e)^2) / N,   N = k1 + k2,
// least at x = (e + m2 - m1) / 2 within the branch. The sides' counts,
// means and squared deviations are joined as Chan et al. join them, which
// keeps their digits where sums of squares would cancel.
#include <algorithm>

#include "choosing/methods.h"

namespace quorlen::standard::roots {

namespace {

struct spread {
    double k = 0, mean = 0, m2 = 0;
};

struct spread_ops {
    const big_vector<double>& length;
    spread leaf(std::uint32_t, std::uint32_t) const { return {1, 0, 0}; }
    spread none() const { return {}; }
    spread away(const spread& a, std::uint32_t v) const { return {a.k, a.mean + length[v], a.m2}; }
    spread join(const spread& a, const spread& b) const {
        if (a.k == 0) return b;
        if (b.k == 0) return a;
        const double k = a.k + b.k, delta = b.mean - a.mean, share = b.k / k;
        return {k, a.mean + delta * share, a.m2 + b.m2 + delta * delta * a.k * share};
    }
};

}  // namespace

std::string by_minvar(const unrooted& u, found& out, std::vector<branch_score>* every) {
    const big_vector<double> length = u.lengths();
    least choice(u, out, every);
    fold_sides<spread>(u, spread_ops{length}, [&](std::uint32_t v, const spread& low, const spread& high) {
        const double e = length[v], n = low.k + high.k;
        double x = std::clamp((e + high.mean - low.mean) / 2, std::min(0.0, e), std::max(0.0, e));
        if (x != x) x = 0;  // lengths past the range of doubles
        const double gap = 2 * x + low.mean - high.mean - e;
        const double score = (low.m2 + high.m2 + low.k * high.k / n * gap * gap) / n;
        choice.offer(v, x, score);
    });
    return "";
}

}  // namespace quorlen::standard::roots
