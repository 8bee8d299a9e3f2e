// Exact decimal arithmetic on lengths' text: halves, sums and comparisons.
#include "reading/decimal.h"

#include <cstdint>
#include <cstring>

#include <algorithm>
#include <charconv>
#include <cstdlib>

#include "common/memory.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace quorlen::standard {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Strips leading zeros, and trailing ones into the exponent.
void normalise(decimal& a) {
    const std::size_t first = a.digits.find_first_not_of('0');
    if (first == std::string::npos) {
        a = decimal{};
        return;
    }
    const std::size_t last = a.digits.find_last_not_of('0');
    a.exponent += static_cast<long>(a.digits.size() - 1 - last);
    a.digits = a.digits.substr(first, last + 1 - first);
}

// The digits of |a| from 10^high down to 10^low, high above low.
std::string aligned(const decimal& a, long high, long low) {
    std::string out(static_cast<std::size_t>(high - low), '0');
    const long top = a.exponent + static_cast<long>(a.digits.size());
    std::copy(a.digits.begin(), a.digits.end(), out.begin() + (high - top));
    return out;
}

}  // namespace

length_fault parse_decimal(std::string_view text, decimal& out) {
    out = decimal{};
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) out.negative = text[i++] == '-';
    std::size_t mantissa_digits = 0;
    for (; i < text.size() && is_digit(text[i]); ++i, ++mantissa_digits) out.digits += text[i];
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && is_digit(text[i]); ++i, ++mantissa_digits) {
            out.digits += text[i];
            --out.exponent;
        }
    }
    if (mantissa_digits == 0) return length_fault::not_a_number;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
        if (i == text.size()) return length_fault::not_a_number;
        long power = 0;
        for (; i < text.size() && is_digit(text[i]); ++i)
            power = std::min(power * 10 + (text[i] - '0'), 10 * max_exponent);
        if (i < text.size()) return length_fault::not_a_number;
        out.exponent += negative ? -power : power;
    }
    if (i < text.size()) return length_fault::not_a_number;
    const bool negative = out.negative;
    normalise(out);
    if (out.digits.empty()) return length_fault::none;
    out.negative = negative;
    return in_range(out) ? length_fault::none : length_fault::out_of_range;
}

bool in_range(const decimal& a) {
    const long top = a.exponent + static_cast<long>(a.digits.size()) - 1;
    return a.digits.empty() || (top <= max_exponent && a.exponent >= -max_exponent);
}

decimal add(const decimal& a, const decimal& b) {
    if (a.digits.empty()) return b;
    if (b.digits.empty()) return a;
    const long low = std::min(a.exponent, b.exponent);
    const long high = 1 + std::max(a.exponent + static_cast<long>(a.digits.size()),
                                   b.exponent + static_cast<long>(b.digits.size()));
    std::string x = aligned(a, high, low), y = aligned(b, high, low);
    decimal sum;
    sum.exponent = low;
    sum.negative = a.negative;
    if (a.negative != b.negative && x < y) {  // same length: compares as numbers
        std::swap(x, y);
        sum.negative = b.negative;
    }
    int carry = 0;
    for (std::size_t i = x.size(); i-- > 0;) {
        int d = (x[i] - '0') + (a.negative == b.negative ? (y[i] - '0') + carry : -(y[i] - '0') - carry);
        carry = 0;
        if (d >= 10) {
            d -= 10;
            carry = 1;
        } else if (d < 0) {
            d += 10;
            carry = 1;
        }
        x[i] = static_cast<char>('0' + d);
    }
    sum.digits = std::move(x);
    normalise(sum);
    if (sum.digits.empty()) sum.negative = false;
    return sum;
}

decimal subtract(const decimal& a, const decimal& b) {
    decimal minus = b;
    minus.negative = !b.digits.empty() && !b.negative;
    return add(a, minus);
}

decimal half(const decimal& a) {
    decimal h = a;
    h.digits = '0' + a.digits;  // times 5 adds a digit at most
    int carry = 0;
    for (std::size_t i = h.digits.size(); i-- > 0;) {
        const int d = (h.digits[i] - '0') * 5 + carry;
        h.digits[i] = static_cast<char>('0' + d % 10);
        carry = d / 10;
    }
    h.exponent -= 1;
    normalise(h);
    h.negative = a.negative && !h.digits.empty();
    return h;
}

void write_decimal(const decimal& a, std::string& out) {
    if (a.digits.empty()) {
        out += '0';
        return;
    }
    if (a.negative) out += '-';
    const long n = static_cast<long>(a.digits.size()), e = a.exponent;
    const long power = n - 1 + e;  // of the first digit
    if (power >= -4 && power < 16) {
        if (e >= 0) {
            out += a.digits;
            out.append(static_cast<std::size_t>(e), '0');
        } else if (power >= 0) {
            out.append(a.digits, 0, static_cast<std::size_t>(power + 1));
            out += '.';
            out.append(a.digits, static_cast<std::size_t>(power + 1), std::string::npos);
        } else {
            out += "0.";
            out.append(static_cast<std::size_t>(-power - 1), '0');
            out += a.digits;
        }
        return;
    }
    out += a.digits[0];
    if (n > 1) {
        out += '.';
        out.append(a.digits, 1, std::string::npos);
    }
    out += power < 0 ? "e-" : "e+";
    const std::string p = std::to_string(std::labs(power));
    if (p.size() < 2) out += '0';
    out += p;
}


bool half_in_range(std::string_view text) {
    decimal d;
    parse_decimal(text, d);
    return in_range(half(d));
}

bool sum_in_range(std::string_view a, std::string_view b) {
    decimal x, y;
    parse_decimal(a, x);
    parse_decimal(b, y);
    const decimal sum = add(x, y);
    return in_range(sum) && in_range(half(sum));
}

#ifdef __SSE2__
namespace {

// The half of a length of one digit, a point and 1 to 13 more digits (the
// common length below 10), in one look at 16 bytes: a digit of the half is
// the half of the digit above it, and 5 where the digit before that one
// (across the point) is odd; one more digit stands past the end. Null for
// any other length, and where the half is below 0.0001.
char* half_in_one_look(std::string_view text, char* out) {
    const std::size_t n = text.size();
    if (n < 3 || n > 15 || text[1] != '.') return nullptr;
    // The 16 bytes read straight from the text: a store of them first and a
    // load of all 16 would wait on the stores.
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data()));
    const __m128i d = _mm_sub_epi8(x, _mm_set1_epi8('0'));
    const __m128i places = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i ours = _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(n)), places);  // the text's own bytes
    const __m128i is_digit = _mm_and_si128(_mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d), ours);
    const unsigned within = (1u << n) - 1;
    if (static_cast<unsigned>(_mm_movemask_epi8(is_digit)) != (within & ~2u)) return nullptr;
    const __m128i digits = _mm_and_si128(d, is_digit);  // 0 at the point and past the end
    const __m128i odd = _mm_and_si128(digits, _mm_set1_epi8(1));
    const __m128i first = _mm_setr_epi8(1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m128i before = _mm_or_si128(_mm_slli_si128(odd, 1), _mm_slli_si128(_mm_and_si128(odd, first), 2));
    const __m128i halves = _mm_and_si128(_mm_srli_epi16(digits, 1), _mm_set1_epi8(0x7f));
    const __m128i fives = _mm_add_epi8(_mm_slli_epi16(before, 2), before);
    const __m128i h = _mm_add_epi8(_mm_add_epi8(halves, fives), _mm_set1_epi8('0'));
    const auto zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(h, _mm_set1_epi8('0'))));
    const unsigned fraction = ~zeros & 0xfffcu & ((2u << n) - 1);  // the fraction's digits not 0
    const bool below_one = (_mm_cvtsi128_si32(h) & 0xff) == '0';
    if (fraction != 0 && below_one && __builtin_ctz(fraction) - 2 > 3) return nullptr;  // below 0.0001
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), h);
    if (fraction == 0) return out + 1;  // a whole number: no point
    out[1] = '.';
    return out + 32 - __builtin_clz(fraction);
}

}  // namespace
#endif

char* write_plain_half(std::string_view text, char* out) {
#ifdef __SSE2__
    if (char* end = half_in_one_look(text, out)) return end;
#endif
    const std::size_t size = text.size();
    if (size == 0 || size > 60) return nullptr;
    // Long division by 2, digit by digit, each in its place; a last odd digit
    // adds a 5. digits[0, n) is the half, with its point at `point`.
    char digits[64];
    std::size_t point = size;
    unsigned carry = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned d = static_cast<unsigned char>(text[i] - '0');
        if (d > 9) {
            if (text[i] != '.' || point != size) return nullptr;
            point = i;
            digits[i] = '.';
            continue;
        }
        const unsigned v = carry * 10 + d;
        digits[i] = static_cast<char>('0' + (v >> 1));
        carry = v & 1;
    }
    std::size_t n = size;
    if (point == size) {
        if (carry) {
            digits[n++] = '.';
            digits[n++] = '5';
        } else {
            digits[n] = '.';  // no fraction: the point stands after the last digit
        }
    } else {
        if (size == 1) return nullptr;  // "." alone
        if (carry) digits[n++] = '5';
        while (n > point + 1 && digits[n - 1] == '0') --n;
    }
    // The integer part without its leading zeros, and the fraction's
    // leading zeros: positional, as write_decimal writes it, below 10^16
    // and from 0.0001 up.
    std::size_t first = 0;
    while (first < point && digits[first] == '0') ++first;
    if (first == point) {
        std::size_t nonzero = point + 1;
        while (nonzero < n && digits[nonzero] == '0') ++nonzero;
        if (nonzero >= n) {
            *out++ = '0';
            return out;
        }
        if (nonzero - point - 1 > 3) return nullptr;
        *out++ = '0';
        return put(out, std::string_view(digits + point, n - point));
    }
    if (point - first > 16) return nullptr;
    if (n == point + 1) n = point;  // no fraction left: no point
    return put(out, std::string_view(digits + first, n - first));
}

namespace {

// A plain length of at most 17 digits as value / 10^scale; false for any
// other. Empty is 0.
bool as_scaled(std::string_view text, std::uint64_t& value, int& scale) {
    value = 0;
    scale = 0;
    std::size_t digits = 0;
    bool point = false;
    for (char c : text) {
        const unsigned d = static_cast<unsigned char>(c - '0');
        if (d > 9) {
            if (c != '.' || point) return false;
            point = true;
            continue;
        }
        if (++digits > 17) return false;
        value = value * 10 + d;
        scale += point;
    }
    return text.size() != 1 || !point;  // "." alone is no number
}

// value / 10^scale as write_decimal writes it: positionally, below 10^16
// and from 0.0001 up, or 0; false beyond.
bool write_scaled(std::uint64_t value, int scale, std::string& out) {
    if (value == 0) {
        out = "0";
        return true;
    }
    for (; scale > 0 && value % 10 == 0; --scale) value /= 10;
    char digits[24];
    const int n = static_cast<int>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits);
    if (n - scale > 16 || scale - n > 3) return false;
    out.clear();
    if (n > scale) {
        out.append(digits, static_cast<std::size_t>(n - scale));
        if (scale > 0) out.append(1, '.').append(digits + n - scale, static_cast<std::size_t>(scale));
    } else {
        out.append("0.").append(static_cast<std::size_t>(scale - n), '0').append(digits, static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

bool write_plain_sum(std::string_view a, std::string_view b, std::string& sum, std::string& sum_half) {
    std::uint64_t x, y;
    int sx, sy;
    if (!as_scaled(a, x, sx) || !as_scaled(b, y, sy)) return false;
    // Both to the finer scale: 17 digits at most, and the sum below 2 * 10^17.
    for (; sx < sy; ++sx) {
        if (x >= 10000000000000000u) return false;
        x *= 10;
    }
    for (; sy < sx; ++sy) {
        if (y >= 10000000000000000u) return false;
        y *= 10;
    }
    std::string s, h;
    if (!write_scaled(x + y, sx, s) || !write_scaled((x + y) * 5, sx + 1, h)) return false;
    sum = std::move(s);
    sum_half = std::move(h);
    return true;
}

void write_half(std::string_view text, std::string& out) {
    char quick[64];
    if (const char* end = write_plain_half(text, quick)) {
        out.append(quick, static_cast<std::size_t>(end - quick));
        return;
    }
    decimal d;
    parse_decimal(text, d);
    write_decimal(half(d), out);
}

}  // namespace quorlen::standard
