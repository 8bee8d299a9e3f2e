#include "standard/decimal.h"

#include <algorithm>
#include <cstdlib>

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

char* write_plain_half(std::string_view text, char* out) {
    if (!plain_length(text) || text.size() > 60) return nullptr;
    // Long division by 2, digit by digit; a last odd digit adds a 5.
    char digits[64];
    std::size_t n = 0, point = text.size();
    int carry = 0;
    for (char c : text) {
        if (c == '.') {
            point = n;
            continue;
        }
        const int d = carry * 10 + (c - '0');
        digits[n++] = static_cast<char>('0' + d / 2);
        carry = d % 2;
    }
    if (point == text.size()) point = n;
    if (carry) digits[n++] = '5';
    // Positional, when write_decimal would write it so: below 10^16, and
    // 0.0001 or more.
    std::size_t first = 0;
    while (first < n && digits[first] == '0') ++first;
    while (n > point && digits[n - 1] == '0') --n;
    if (first == n) {
        *out++ = '0';
        return out;
    }
    if (point > first ? point - first > 16 : first - point > 3) return nullptr;
    if (first < point) {
        for (std::size_t i = first; i < point; ++i) *out++ = digits[i];
    } else {
        *out++ = '0';
    }
    if (n > point) {
        *out++ = '.';
        for (std::size_t i = point; i < n; ++i) *out++ = digits[i];
    }
    return out;
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
