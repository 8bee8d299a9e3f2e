// Midpoint: the point halfway along the longest path between two leaves,
// exactly. The longest path through the branch above v runs from the
// farthest leaf on v's side to the farthest on the other; it is the longest
// of all when it is as long as the tree's longest path D, and then its
// middle lies on the branch when D/2 less the distance from v to its end
// falls within the branch. Lengths are summed exactly: as integers in units
// of the smallest decimal place any length has, where they fit in 128 bits,
// which they do for every tree inference programs write; as decimals
// otherwise.
#include <limits>
#include <string_view>

#include "choosing/methods.h"

namespace quorlen::standard::roots {

namespace {

__extension__ typedef __int128 wide;
__extension__ typedef unsigned __int128 uwide;

// Exact arithmetic on integers scaled by 10^scale; the least integer
// stands for no leaf.
template <class Int>
struct fixed {
    int scale = 0;
    static Int nothing() { return std::numeric_limits<Int>::min(); }
    static Int add(Int a, Int b) { return a + b; }
    static Int sub(Int a, Int b) { return a - b; }
    static bool less(Int a, Int b) { return a < b; }
    static bool zero(Int a) { return a == 0; }
    decimal exact(Int a) const {
        uwide m = a < 0 ? -static_cast<uwide>(a) : static_cast<uwide>(a);
        char digits[48];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + static_cast<int>(m % 10));
            m /= 10;
        } while (m);
        std::string text = a < 0 ? "-" : "";
        while (n) text += digits[--n];
        text += "e-" + std::to_string(scale);
        decimal d;
        parse_decimal(text, d);
        return d;
    }
};

// Exact arithmetic on decimals, for lengths too long for 128 bits.
struct exact_decimals {
    static decimal nothing() {
        decimal d;
        d.exponent = std::numeric_limits<long>::min();
        return d;
    }
    static decimal add(const decimal& a, const decimal& b) { return standard::add(a, b); }
    static decimal sub(const decimal& a, const decimal& b) { return subtract(a, b); }
    static bool is_nothing(const decimal& a) { return a.exponent == std::numeric_limits<long>::min(); }
    static bool less(const decimal& a, const decimal& b) {
        if (is_nothing(a) || is_nothing(b)) return is_nothing(a) && !is_nothing(b);
        return sub(a, b).negative;
    }
    static bool zero(const decimal& a) { return a.digits.empty(); }
    decimal exact(const decimal& a) const { return a; }
};

// The length's digits as an integer and how many of them stand after the
// point; false when they need more than 36 digits.
bool split_length(std::string_view text, wide& digits, int& places) {
    digits = 0;
    places = 0;
    if (text.empty()) return true;
    std::size_t i = 0;
    const bool negative = text[0] == '-';
    if (text[0] == '-' || text[0] == '+') ++i;
    // Most lengths are plain and short: their digits in 64 bits, the rest
    // in 128.
    bool point = false, plain = text.size() - i <= 36;
    std::uint64_t low = 0;
    std::size_t counted = 0;
    for (; plain && i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            if (++counted <= 19)
                low = low * 10 + static_cast<std::uint64_t>(c - '0');
            else
                digits = digits * 10 + (c - '0');
            places += point;
            if (counted == 19) digits = static_cast<wide>(low);
        } else if (c == '.' && !point) {
            point = true;
        } else {
            plain = false;
        }
    }
    if (plain) {
        if (counted < 19) digits = static_cast<wide>(low);
        if (negative) digits = -digits;
        return true;
    }
    decimal d;
    parse_decimal(text, d);
    const long up = d.exponent > 0 ? d.exponent : 0;
    if (static_cast<long>(d.digits.size()) + up > 36 || d.exponent < -36) return false;
    digits = 0;
    for (char c : d.digits) digits = digits * 10 + (c - '0');
    for (long k = 0; k < up; ++k) digits *= 10;
    places = d.exponent < 0 ? static_cast<int>(-d.exponent) : 0;
    if (d.negative) digits = -digits;
    return true;
}

// The smallest decimal place any length has, as a power of ten; false when
// some length needs more than 36 digits.
bool smallest_place(const unrooted& u, int& scale) {
    scale = 0;
    wide digits;
    int places;
    for (std::uint32_t v = 0; v < u.size(); ++v) {
        if (!split_length(u.t.length(u.original(v)), digits, places)) return false;
        if (places > scale) scale = places;
    }
    return true;
}

// Every branch's length in units of 10^-scale; false when some length, or
// the sum of all of them, and so some path, does not fit in an Int.
template <class Int>
bool fixed_lengths(const unrooted& u, int scale, big_vector<Int>& out) {
    const uwide limit = static_cast<uwide>(std::numeric_limits<Int>::max()) / 4;
    wide digits;
    int places;
    uwide total = 0;
    out.assign(u.size(), 0);
    for (std::uint32_t v = 0; v < u.size(); ++v) {
        split_length(u.t.length(u.original(v)), digits, places);
        uwide size = digits < 0 ? -static_cast<uwide>(digits) : static_cast<uwide>(digits);
        for (int k = places; k < scale; ++k) {
            if (size > limit / 10) return false;
            size *= 10;
            digits *= 10;
        }
        total += size;
        if (total > limit) return false;
        out[v] = static_cast<Int>(digits);
    }
    // The top's own length stands above no branch; the merged branch holds
    // the root's two.
    if (u.merged != none) out[u.merged] += out[0];
    out[0] = 0;
    return true;
}

// The way for lengths as programs write them, plain decimals of at most 18
// digits: each parsed once, into out in units of 10^-scale. False where a
// length is not such, or where the scaled lengths or their sum pass what
// the 64-bit way takes: then the general way above decides, from the start.
bool plain_lengths(const unrooted& u, big_vector<std::int64_t>& out, int& scale) {
    const std::uint32_t m = u.size();
    out.assign(m, 0);
    big_vector<std::uint8_t> places(m, 0);
    int most = 0;
    for (std::uint32_t v = 0; v < m; ++v) {
        std::string_view text = u.t.length(u.original(v));
        const bool negative = !text.empty() && text[0] == '-';
        if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
        std::uint64_t digits;
        int at;
        if (!plain_length(text, digits, at)) return false;
        if (at > most) most = at;
        places[v] = static_cast<std::uint8_t>(at);
        out[v] = negative ? -static_cast<std::int64_t>(digits) : static_cast<std::int64_t>(digits);
    }
    const std::uint64_t limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) / 4;
    std::uint64_t total = 0;
    for (std::uint32_t v = 0; v < m; ++v) {
        std::uint64_t size = out[v] < 0 ? 0 - static_cast<std::uint64_t>(out[v]) : static_cast<std::uint64_t>(out[v]);
        for (int k = places[v]; k < most; ++k) {
            if (size > limit / 10) return false;
            size *= 10;
            out[v] *= 10;
        }
        total += size;
        if (total > limit) return false;
    }
    if (u.merged != none) out[u.merged] += out[0];
    out[0] = 0;
    scale = most;
    return true;
}

template <class Num, class Arith>
std::string midpoint_of(const unrooted& u, const big_vector<Num>& length, const Arith& arith, found& out) {
    // The farthest leaf; Arith::nothing() if none.
    struct far_ops {
        const big_vector<Num>& length;
        Num leaf(std::uint32_t, std::uint32_t) const { return Num{}; }
        Num none() const { return Arith::nothing(); }
        Num away(const Num& a, std::uint32_t v) const {
            return Arith::less(none(), a) ? Arith::add(a, length[v]) : a;
        }
        Num join(const Num& a, const Num& b) const { return Arith::less(a, b) ? b : a; }
    };
    bool any = false;
    Num longest{}, twice_x{};
    out = found{};
    const far_ops ops{length};
    fold_sides<Num>(u, ops, [&](std::uint32_t v, const Num& low, const Num& high) {
        if (!Arith::less(ops.none(), low) || !Arith::less(ops.none(), high)) return;
        const Num through = Arith::add(Arith::add(low, length[v]), high);
        if (!any || Arith::less(longest, through)) {
            any = true;
            longest = through;
            out.branch = none;
        } else if (Arith::less(through, longest)) {
            return;
        }
        // Twice the middle's distance from v: D - 2 low, within [0, 2e].
        const Num y = Arith::sub(Arith::sub(longest, low), low);
        const Num e2 = Arith::add(length[v], length[v]);
        const bool inside = Arith::less(e2, Num{}) ? !Arith::less(y, e2) && !Arith::less(Num{}, y)
                                                   : !Arith::less(y, Num{}) && !Arith::less(e2, y);
        if (inside && (out.branch == none || u.before(v, out.branch))) {
            out.branch = v;
            twice_x = y;
        }
    });
    if (!any || Arith::zero(longest)) return "the longest path between two leaves has length 0";
    if (out.branch == none) return "the longest path between two leaves has no middle";
    out.kind = found::exact;
    out.exact_x = half(arith.exact(twice_x));
    return "";
}

}  // namespace

std::string by_midpoint(const unrooted& u, found& out) {
    int scale = 0;
    {
        big_vector<std::int64_t> narrow;
        if (plain_lengths(u, narrow, scale)) return midpoint_of(u, narrow, fixed<std::int64_t>{scale}, out);
    }
    if (smallest_place(u, scale)) {
        big_vector<std::int64_t> narrow;
        if (fixed_lengths(u, scale, narrow)) return midpoint_of(u, narrow, fixed<std::int64_t>{scale}, out);
        narrow = big_vector<std::int64_t>();
        big_vector<wide> scaled;
        if (fixed_lengths(u, scale, scaled)) return midpoint_of(u, scaled, fixed<wide>{scale}, out);
    }
    big_vector<decimal> exact(u.size());
    for (std::uint32_t v = 1; v < u.size(); ++v) parse_decimal(u.t.length(u.original(v)), exact[v]);
    if (u.merged != none) {
        decimal top;
        parse_decimal(u.t.length(u.offset), top);
        exact[u.merged] = add(exact[u.merged], top);
    }
    return midpoint_of(u, exact, exact_decimals{}, out);
}

}  // namespace quorlen::standard::roots
