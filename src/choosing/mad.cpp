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
#include <cstring>
#include <thread>
#include <type_traits>

#include "choosing/methods.h"

// Two forms of a function where the processor may have AVX2 (x86-64 with
// the functions that choose one as the program starts); one elsewhere, and
// under ThreadSanitizer, whose runtime is not yet there when the choice is
// made.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUORLEN_THREAD_SANITIZER
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define QUORLEN_THREAD_SANITIZER
#endif
#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__)) && \
    !defined(QUORLEN_THREAD_SANITIZER)
#define QUORLEN_AVX2_TOO __attribute__((target_clones("avx2", "default")))
#else
#define QUORLEN_AVX2_TOO
#endif

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

// The tree laid out for the passes over it: every node in level order
// (breadth first from the top), at its place. A node's children stand
// together, after their parents, so that each pass reads its arrays in
// order and a node of two children, the most common, is taken without a
// branch. The leaves are numbered by their places, the top last where it
// is a leaf.
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
        const std::uint32_t inners = static_cast<std::uint32_t>(inner.size());
        up.insert(up.begin(), 0);
        length.assign(places, 0);
        inner_of.assign(places, inners);
        for (std::uint32_t p = 1; p < places; ++p) length[p] = lengths[node[p]];
        for (std::uint32_t i = 0; i < inners; ++i) inner_of[inner[i]] = i;
        for (std::uint32_t p = 1; p < places; ++p)
            if (inner_of[p] == inners) leaf.push_back(p);
        if (top_leaf) leaf.push_back(0);
        inner_up.assign(inners, 0);
        inner_length.assign(inners, 0);
        for (std::uint32_t i = 1; i < inners; ++i) {
            inner_up[i] = inner_of[up[inner[i]]];
            inner_length[i] = length[inner[i]];
        }
        for (std::uint32_t k = 0; k < leaf.size() - top_leaf; ++k) {
            leaf_up.push_back(inner_of[up[leaf[k]]]);
            leaf_length.push_back(length[leaf[k]]);
        }
        count.assign(places, 1);
        for (std::uint32_t i = inners; i-- > 0;) {
            count[inner[i]] = 0;
            for (std::uint32_t c = kids[i]; c < kids[i + 1]; ++c) count[inner[i]] += count[c];
        }
        for (std::uint32_t p = 1; p < places; ++p) positive = positive && length[p] > 0;
    }
    std::uint32_t places() const { return static_cast<std::uint32_t>(node.size()); }
    std::uint32_t leaves() const { return static_cast<std::uint32_t>(leaf.size()); }
    std::uint32_t inners() const { return static_cast<std::uint32_t>(inner.size()); }
    bool has_kids(std::uint32_t p) const { return inner_of[p] != inners(); }

    const bool top_leaf;  // the top has one child, and is a leaf too
    // By place: the view node, its parent's place (the top's own), the
    // length of its branch (the top's 0), and its number among the places
    // with children (for a leaf, the number of those places: one past the
    // last, a slot that is written and never read).
    std::vector<std::uint32_t> node, up;
    std::vector<double> length;
    std::vector<std::uint32_t> inner_of;
    // The places with children, in order; the children of inner[i] at the
    // places [kids[i], kids[i + 1]); the number of inner[i]'s parent (the
    // top's 0), and its length.
    std::vector<std::uint32_t> inner, kids, inner_up;
    std::vector<double> inner_length;
    // Leaf b's place; but for a top that is a leaf, the number of its
    // parent and its length.
    std::vector<std::uint32_t> leaf, leaf_up;
    std::vector<double> leaf_length;
    std::vector<double> count;  // by place, the leaves of its subtree
    bool positive = true;       // every branch's length is above 0
};

// The leaves b are taken two at a time, one in each lane of a vector of
// two doubles: a lane's every operation is the one b alone would make, in
// the same order, so that its values are b's to the last bit. IEEE sums
// and products of a lane are those of scalars; nothing here is fused.
// Where b alone would leave a term out (its own, a child on its way), a
// lane adds 0 instead: no sum of terms is -0, so adding 0 leaves it as it
// is.
typedef double lanes __attribute__((vector_size(16)));
typedef std::int64_t lane_mask __attribute__((vector_size(16)));
constexpr unsigned width = 2;  // the ways' merge below takes two
constexpr lanes all(double x) { return lanes{x, x}; }

struct wide_sums {
    lanes s0, s1, s2;
    void add(const wide_sums& o) { s0 += o.s0, s1 += o.s1, s2 += o.s2; }
    lanes squares(lanes d) const { return d * (all(4) * d * s2 - all(4) * s1) + s0; }
    sums lane(unsigned k) const { return {s0[k], s1[k], s2[k]}; }
    void set(unsigned k, const sums& s) { s0[k] = s.s0, s1[k] = s.s1, s2[k] = s.s2; }
};

// Each lane's part of a branch's quadratic.
struct wide_part {
    lanes a, b, c;
    quadratic lane(unsigned k) const { return {a[k], b[k], c[k]}; }
};

inline wide_sums joined(const wide_sums& a, const wide_sums& b) { return {a.s0 + b.s0, a.s1 + b.s1, a.s2 + b.s2}; }

// 1, 1/D and 1/D^2 of a leaf at distance D > 0; nothing at 0.
inline wide_sums term(lanes distance) {
    const lane_mask positive = (lane_mask)(distance > all(0));
    const lanes r = all(1) / distance, r2 = r * r;
    return {(lanes)(positive & (lane_mask)all(1)), (lanes)(positive & (lane_mask)r), (lanes)(positive & (lane_mask)r2)};
}

// Adds the pairs (b, c) met from b to each branch's quadratic. Every sum
// of leaves' terms is made by adding, never by taking one sum from another:
// the terms of the leaves nearest b are by far the largest, and a subtree's
// sums less a part of them would lose the digits of the rest. Each sum is
// made in one order, whatever the node: a node's leaves' terms first, then
// its other children from the last. A branch's quadratic takes its b in
// their order, one lane after the other.
template <bool counted>
class deviations {
public:
    explicit deviations(const layout& l)
        : q(l.places()), tree(l), w(l.places()), d(l.inners()), in(l.inners() + 1) {}

    // The pairs of the leaves [from, to); returns twice their number.
    double add(std::uint32_t from, std::uint32_t to) {
        double pairs = 0;
        for (std::uint32_t b = from; b < to; b += width) {
            const unsigned n = std::min(width, to - b);
            double count[width];
            add(b, n, count);
            for (unsigned k = 0; k < n; ++k) pairs += count[k];
        }
        return pairs;
    }
    // Gives back all but q.
    void release() {
        std::vector<cell>().swap(w);
        std::vector<lanes>().swap(d);
        std::vector<lanes>().swap(in);
    }

    // By place, each branch's quadratic, its coefficients apart so that
    // those of two children side by side take their lanes' parts at once.
    struct quadratics {
        explicit quadratics(std::uint32_t n) : a(n), b(n), c(n) {}
        quadratic operator[](std::uint32_t p) const { return {a[p], b[p], c[p]}; }
        void add(std::uint32_t p, const quadratic& o) { a[p] += o.a, b[p] += o.b, c[p] += o.c; }
        // Places p and p + 1, in the first n lanes, lane 0 first.
        void add_two(std::uint32_t p, const wide_part& first, const wide_part& second, unsigned n) {
            if (n < width) {
                add(p, first.lane(0));
                add(p + 1, second.lane(0));
                return;
            }
            static_assert(width == 2, "the lanes of two places, crossed");
            add_two(a.data() + p, first.a, second.a);
            add_two(b.data() + p, first.b, second.b);
            add_two(c.data() + p, first.c, second.c);
        }
        std::vector<double> a, b, c;

    private:
        static void add_two(double* at, lanes first, lanes second) {
            lanes v;
            std::memcpy(&v, at, sizeof v);
            v += lanes{first[0], second[0]};
            v += lanes{first[1], second[1]};
            std::memcpy(at, &v, sizeof v);
        }
    };
    quadratics q;

private:
    // What one lane's b needs of its way up to the top, which its passes
    // meet from the top down.
    struct lane {
        std::uint32_t own = 0;               // b's place
        std::vector<std::uint32_t> way;      // from b's parent up; the top last
        std::vector<double> at;              // by way: the distance from b
        std::vector<sums> off, outside;      // see add
        std::vector<quadratic> below;        // by way: the branch's part from b
        quadratic own_below;                 // b's own branch's, b not the top
        std::size_t next = 0;                // the way's node a pass meets next, less one
        // Seen from b, way node p = way[next] heads all but its subtree as
        // laid out, its own term too (the top's).
        sums heading(std::uint32_t p, const sums& top_own) const {
            sums s = outside[next + 1];
            if (p == 0) s.add(top_own);
            return s;
        }
    };

    // Leaves first, first + 1, ..., first + n - 1 in the lanes, the last
    // again in any lane past n; each one's number of pairs in `pairs`.
    // Made twice, and the one for the processor at hand chosen as the
    // program starts: with AVX2's forms of the same operations, of three
    // operands, fewer instructions do the same work. AVX2 brings no fused
    // multiply-add, which would round differently.
    QUORLEN_AVX2_TOO void add(std::uint32_t first, unsigned n, double* pairs) {
        const layout& l = tree;
        const std::uint32_t inners = l.inners();
        const std::uint32_t *up = l.up.data(), *inner = l.inner.data(), *kids = l.kids.data();
        const std::uint32_t* inner_of = l.inner_of.data();
        const double* length = l.length.data();
        // The ways up.
        for (unsigned k = 0; k < width; ++k) {
            lane& e = lane_[k];
            e.own = l.leaf[first + std::min(k, n - 1)];
            e.way.clear();
            e.at.clear();
            std::uint32_t i = 0;
            double distance = 0;
            if (e.own != 0) {
                i = up[e.own];
                distance = length[e.own];
            }
            for (;;) {
                e.way.push_back(i);
                e.at.push_back(distance);
                if (i == 0) break;
                distance = distance + length[i];
                i = up[i];
            }
            e.next = e.way.size() - 1;
        }
        // The places with children on the ways, by number, with their lanes;
        // the top, on every way, first; then one past the last.
        met.clear();
        for (std::size_t i0 = lane_[0].way.size(), i1 = lane_[1].way.size(); i0 > 0 || i1 > 0;) {
            const std::uint32_t p0 = i0 > 0 ? lane_[0].way[i0 - 1] : none, p1 = i1 > 0 ? lane_[1].way[i1 - 1] : none;
            const std::uint32_t p = std::min(p0, p1);
            met.push_back({inner_of[p], (p == p0 ? 1u : 0u) | (p == p1 ? 2u : 0u)});
            i0 -= p == p0;
            i1 -= p == p1;
        }
        met.push_back({inners, 0});
        // Distances from b to the places with children, each a parent's
        // and a length, but on the way; then each leaf's terms (b's own
        // none); then each subtree's sums, children before parents.
        for (unsigned k = 0; k < width; ++k) d[0][k] = lane_[k].at.back();
        for (std::uint32_t j = 1, m = 1;; ++m) {
            for (const std::uint32_t stop = met[m].at; j < stop; ++j) d[j] = d[l.inner_up[j]] + all(l.inner_length[j]);
            if (j == inners) break;
            lanes v = d[l.inner_up[j]] + all(l.inner_length[j]);
            for (unsigned k = 0; k < width; ++k)
                if (met[m].lanes >> k & 1) v[k] = lane_[k].at[--lane_[k].next];
            d[j++] = v;
        }
        const std::uint32_t below_count = l.leaves() - l.top_leaf;
        for (std::uint32_t k = 0; k < below_count; ++k) put(l.leaf[k], term(d[l.leaf_up[k]] + all(l.leaf_length[k])));
        for (unsigned k = 0; k < width; ++k)
            if (lane_[k].own != 0) clear(lane_[k].own, k);
        const wide_sums top_own = l.top_leaf ? term(d[0]) : wide_sums{};
        for (std::uint32_t j = inners; j-- > 0;) {
            const std::uint32_t p = inner[j], k0 = kids[j], k1 = kids[j + 1];
            if (k1 - k0 == 2 && p != 0) {
                put(p, joined(get(k0), get(k0 + 1)));
                continue;
            }
            wide_sums s{};
            for (std::uint32_t k = k0; k < k1; ++k)
                if (!l.has_kids(k)) s.add(get(k));
            if (p == 0) s.add(top_own);
            for (std::uint32_t k = k1; k-- > k0;)
                if (l.has_kids(k)) s.add(get(k));
            put(p, s);
        }
        for (unsigned k = 0; k < n; ++k) pairs[k] = counted ? l.leaves() - 1 : get(0).s0[k];
        for (unsigned k = 0; k < width; ++k) along_the_way(lane_[k], k, top_own.lane(k));
        // Every other branch, b above it: at each node, its children's sums
        // before and after each child, and what lies off the way.
        for (std::uint32_t j = 0, next_met = 0; j < inners; ++j) {
            const std::uint32_t p = inner[j], k0 = kids[j], k1 = kids[j + 1];
            const lanes at = d[j], in_p = in[j];
            const unsigned on = j == met[next_met].at ? met[next_met++].lanes : 0;
            if (k1 - k0 == 2 && !on) {
                const std::uint32_t c = k0 + 1;
                const wide_sums w0 = get(k0), w1 = get(c);
                const lanes here0 = in_p + w1.squares(at), here1 = in_p + w0.squares(at);
                q.add_two(k0, above(w0, at + all(length[k0]), here0), above(w1, at + all(length[c]), here1), n);
                in[inner_of[k0]] = here0;
                in[inner_of[c]] = here1;
                continue;
            }
            // The children with children first, then the leaves; one on a
            // lane's way counts for nothing there, and takes its part from
            // the way.
            const std::uint32_t count = k1 - k0;
            if (kid.size() < count + 1) {
                kid.resize(count + 1);
                after.resize(count + 1);
                order.resize(count);
            }
            std::uint32_t m = 0;
            for (std::uint32_t k = k0; k < k1; ++k)
                if (l.has_kids(k)) order[m++] = k;
            for (std::uint32_t k = k0; k < k1; ++k)
                if (!l.has_kids(k)) order[m++] = k;
            // Each lane's child on its way, where p is on it.
            std::uint32_t way_kid[width];
            for (unsigned x = 0; x < width; ++x) {
                const lane& e = lane_[x];
                way_kid[x] = !(on >> x & 1) ? none : e.next == 0 ? e.own : e.way[e.next - 1];
            }
            const auto lanes_on = [&way_kid](std::uint32_t c) {
                unsigned bits = 0;
                for (unsigned x = 0; x < width; ++x) bits |= (way_kid[x] == c ? 1u : 0u) << x;
                return bits;
            };
            after[count] = wide_sums{};
            for (std::uint32_t k = count; k-- > 0;) {
                kid[k] = get(order[k]);
                if (const unsigned off = lanes_on(order[k]))
                    for (unsigned x = 0; x < width; ++x)
                        if (off >> x & 1) kid[k].set(x, sums{});
                after[k] = after[k + 1];
                after[k].add(kid[k]);
            }
            wide_sums before{};
            for (unsigned x = 0; x < width; ++x)
                if (on >> x & 1) before.set(x, lane_[x].heading(p, top_own.lane(x)));
            for (std::uint32_t k = 0; k < count; ++k) {
                const std::uint32_t c = order[k];
                const unsigned c_on = lanes_on(c);
                wide_sums others = before;
                others.add(after[k + 1]);
                const lanes here = in_p + others.squares(at);
                const wide_part part = above(kid[k], at + all(length[c]), here);
                if (!c_on) {
                    for (unsigned x = 0; x < n; ++x) q.add(c, part.lane(x));
                    in[inner_of[c]] = here;
                } else {
                    for (unsigned x = 0; x < n; ++x) {
                        const lane& e = lane_[x];
                        if (c_on >> x & 1)
                            q.add(c, e.next == 0 ? e.own_below : e.below[e.next - 1]);
                        else
                            q.add(c, part.lane(x));
                    }
                    for (unsigned x = 0; x < width; ++x)
                        if (!(c_on >> x & 1)) in[inner_of[c]][x] = here[x];
                }
                before.add(kid[k]);
            }
            for (unsigned x = 0; x < width; ++x)
                if (on >> x & 1) --lane_[x].next;
        }
    }

    // Along lane k's way, from the top down: what lies outside each node's
    // subtree, and off the way at each node (its children but the one on
    // the way, and the top's own term). The branches on the way have b
    // below them, at u from their lower end: the pairs beyond meet at the
    // root; those on b's side where they leave the way. Then each node on
    // the way heads all but its subtree as laid out, its own term too (the
    // top's); its sums are no longer wanted as they were, for the way's
    // nodes are no one's other children.
    void along_the_way(lane& e, unsigned k, const sums& top_own) {
        const layout& l = tree;
        const std::vector<std::uint32_t>& way = e.way;
        e.off.assign(way.size(), sums{});
        e.outside.assign(way.size() + 1, sums{});
        for (std::size_t j = way.size(); j-- > 0;) {
            const std::uint32_t v = way[j], on = j > 0 ? way[j - 1] : none, at = l.inner_of[v];
            sums s = v == 0 ? top_own : sums{};
            for (std::uint32_t c = l.kids[at]; c < l.kids[at + 1]; ++c)
                if (l.has_kids(c) && c != on) s.add(get(c).lane(k));
            for (std::uint32_t c = l.kids[at]; c < l.kids[at + 1]; ++c)
                if (!l.has_kids(c) && c != e.own) s.add(get(c).lane(k));
            e.off[j] = s;
            e.outside[j] = e.outside[j + 1];  // outside[j]: outside way[j - 1]'s subtree
            e.outside[j].add(e.off[j]);
        }
        e.next = way.size() - 1;
        double pairs_in = 0;  // on b's side of the branch at hand
        if (e.own != 0) e.own_below = below(e.outside[0], 0, 0);
        e.below.resize(way.size());
        in[l.inner_of[way[0]]][k] = 0;
        for (std::size_t j = 0; j + 1 < way.size(); ++j) {
            pairs_in += e.off[j].squares(e.at[j]);
            e.below[j] = below(e.outside[j + 1], e.at[j], pairs_in);
            in[l.inner_of[way[j + 1]]][k] = pairs_in;
        }
    }

    // The part of the pairs of b below a branch whose lower end is u from
    // b: those beyond meet at the root; the rest make `own`.
    static quadratic below(const sums& beyond, double u, double own) {
        const double a = 4 * beyond.s2, b = 4 * beyond.s1;
        return {a, 2 * u * a - b, u * (u * a - b) + beyond.s0 + own};
    }
    // The same for b above the branch, in each lane: `here` are the leaves
    // below it.
    static wide_part above(const wide_sums& here, lanes u, lanes own) {
        const lanes a = all(4) * here.s2, b = all(4) * here.s1;
        return {a, b - all(2) * u * a, u * (u * a - b) + here.s0 + own};
    }

    // Where every branch has a length above 0, every leaf but b is at a
    // distance above 0, and the count of a subtree's leaves at such a
    // distance is the count of its leaves (b's way aside, whose sums are
    // kept apart): only 1/D and 1/D^2 are kept by place.
    struct two_sums {
        lanes s1, s2;
    };
    using cell = std::conditional_t<counted, two_sums, wide_sums>;
    wide_sums get(std::uint32_t p) const {
        if constexpr (counted)
            return {all(tree.count[p]), w[p].s1, w[p].s2};
        else
            return w[p];
    }
    void put(std::uint32_t p, const wide_sums& s) {
        if constexpr (counted)
            w[p] = {s.s1, s.s2};
        else
            w[p] = s;
    }
    void clear(std::uint32_t p, unsigned k) {
        if constexpr (!counted) w[p].s0[k] = 0;
        w[p].s1[k] = 0;
        w[p].s2[k] = 0;
    }

    const layout& tree;
    lane lane_[width];
    // By place: the sums of each subtree as laid out (a leaf's, its term), but on the
    // way, where they are no longer wanted once the way is summed. By place
    // with children: the distance from b; the pairs on b's side of its
    // branch (one more, for a leaf's, never read).
    std::vector<cell> w;
    std::vector<lanes> d, in;
    // The places with children on the ways at hand, in order, and their
    // lanes.
    struct way_node {
        std::uint32_t at;
        unsigned lanes;
    };
    std::vector<way_node> met;
    std::vector<wide_sums> kid, after;  // scratch
    std::vector<std::uint32_t> order;
};

// Every branch's quadratic by view node, q of `size`; returns twice the
// number of pairs.
template <bool counted>
double summed(const layout& tree, unsigned threads, std::vector<quadratic>& q, std::uint32_t size) {
    const std::uint32_t leaves = tree.leaves();
    // From many leaves, two halves, on two threads where there are two:
    // always the same halves, each summed in the same order, so that the
    // sums, and so the choice, never depend on the machine.
    // The scratch of the passes is given back before the quadratics by view
    // node are made.
    deviations<counted> low(tree);
    double pairs = 0;
    auto gather = [&](const deviations<counted>& part) {
        for (std::uint32_t p = 1; p < tree.places(); ++p) q[tree.node[p]].add(part.q[p]);
    };
    if (leaves >= 256) {
        const std::uint32_t half = leaves / 2;
        deviations<counted> high(tree);
        double pairs_high = 0;
        if (threads >= 2) {
            std::thread other([&] {
                pairs_high = high.add(half, leaves);
                high.release();
            });
            pairs = low.add(0, half);
            low.release();
            other.join();
        } else {
            pairs_high = high.add(half, leaves);
            high.release();
            pairs = low.add(0, half);
            low.release();
        }
        pairs += pairs_high;
        q.resize(size);
        gather(high);
    } else {
        pairs = low.add(0, leaves);
        low.release();
        q.resize(size);
    }
    gather(low);
    return pairs;
}

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
    std::vector<quadratic> q;
    const double pairs = tree.positive ? summed<true>(tree, threads, q, u.size()) : summed<false>(tree, threads, q, u.size());
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
