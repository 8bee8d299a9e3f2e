// Branch lengths as exact decimal numbers, for the few lengths a rooting
// makes: halves of a branch and the sum of a root's two branches.
#pragma once

#include <string>
#include <string_view>

namespace quorlen::standard {

// digits × 10^exponent. Normalised: digits has no leading or trailing zero
// and is empty for zero, which is never negative.
struct decimal {
    bool negative = false;
    std::string digits;
    long exponent = 0;
};

// Every digit of a length, read or made by a rooting, stands between
// 10^-max_exponent and 10^max_exponent: room for every floating-point
// format, and a sum of two lengths has at most 2 × max_exponent + 2 digits.
inline constexpr long max_exponent = 9999;
bool in_range(const decimal& a);

enum class length_fault { none, not_a_number, out_of_range };

// Reads a length written as an optional sign, digits with an optional
// fraction (either side of the point may be empty, not both), and an
// optional exponent: "1", "-0.01", ".5", "1e-05", "2.5E+3".
length_fault parse_decimal(std::string_view text, decimal& out);

// Plain (digits with at most one point; no sign, no exponent) and short:
// in range, and so are its half, its sum with another such length, and that
// sum's half.
inline bool plain_length(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(max_exponent) - 8) return false;
    bool point = false;
    for (char c : text) {
        if (static_cast<unsigned char>(c - '0') <= 9) continue;
        if (c != '.' || point) return false;
        point = true;
    }
    return text.size() > (point ? 1u : 0u);
}
// Whether a rooting can write half the length (which parse_decimal accepts).
bool half_in_range(std::string_view text);
// Whether a rooting can write the sum of two lengths, and its half; an empty
// one is none.
bool sum_in_range(std::string_view a, std::string_view b);

decimal add(const decimal& a, const decimal& b);
decimal subtract(const decimal& a, const decimal& b);
decimal half(const decimal& a);
inline bool operator==(const decimal& a, const decimal& b) {
    return a.negative == b.negative && a.exponent == b.exponent && a.digits == b.digits;
}

// Appends a with its digits and no more: positional from 0.0001 up to 10^16,
// in exponent notation beyond (a signed exponent of at least two digits, as
// C, R and Python write it): 0.05, 4.5, 9, 0.0005, 5e-05, 1e+16.
void write_decimal(const decimal& a, std::string& out);

// Appends half the length written as text (which parse_decimal accepts), as
// write_decimal would write it; sooner for plain numbers (the text read as
// write_plain_half reads it).
void write_half(std::string_view text, std::string& out);
// The same for a plain length of at most 60 characters whose half
// write_decimal writes positionally, to out, which has room for 64 bytes:
// returns where it ends. Null, with nothing written, for any other. Where
// the text is 15 bytes or shorter, 16 can be read from its start (a piece
// of a tree's text, or a std::string's).
char* write_plain_half(std::string_view text, char* out);
// The sum of two plain lengths (an empty one is 0) and its half, written as
// write_decimal would write them, in whole numbers where they are short and
// written positionally. False, with nothing written, for any other.
bool write_plain_sum(std::string_view a, std::string_view b, std::string& sum, std::string& sum_half);

}  // namespace quorlen::standard
