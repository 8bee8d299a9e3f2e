// Branch lengths as exact decimal numbers, for the few lengths a rooting
// makes: halves of a branch and the sum of a root's two branches.
#pragma once

#include <optional>
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

// The largest power of ten a length may have, written or as a result: wide
// enough for every floating-point format, small enough that no sum grows
// past the digits written plus this many.
inline constexpr long max_exponent = 9999;

enum class length_fault { none, not_a_number, out_of_range };

// Reads a length written as an optional sign, digits with an optional
// fraction (either side of the point may be empty, not both), and an
// optional exponent: "1", "-0.01", ".5", "1e-05", "2.5E+3".
length_fault parse_decimal(std::string_view text, decimal& out);

// The same verdict as parse_decimal, sooner for plain numbers.
length_fault check_length(std::string_view text);

decimal add(const decimal& a, const decimal& b);
decimal half(const decimal& a);

// Appends a with its digits and no more: positional from 0.0001 up to 10^16,
// in exponent notation beyond (a signed exponent of at least two digits, as
// C, R and Python write it): 0.05, 4.5, 9, 0.0005, 5e-05, 1e+16.
void write_decimal(const decimal& a, std::string& out);

// Appends half the length written as text (which parse_decimal accepts), as
// write_decimal would write it; sooner for plain numbers.
void write_half(std::string_view text, std::string& out);

}  // namespace quorlen::standard
