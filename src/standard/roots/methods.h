// The methods that choose a root, each in a file of its own. Each finds a
// branch of the unrooted tree and a point on it, measured from the branch's
// lower end in the view (see unrooted.h), or says what stops it.
#pragma once

#include <string>
#include <vector>

#include "standard/decimal.h"
#include "standard/roots/unrooted.h"

namespace quorlen::standard::roots {

struct found {
    std::uint32_t branch = none;  // a view node: the branch above it
    enum { middle, exact, real } kind = middle;
    decimal exact_x;    // with exact: from the lower end
    double real_x = 0;  // with real: from the lower end
};

// A branch's best point, from its lower end, and the method's value there.
struct branch_score {
    double position = 0, score = 0;
};

// Each returns "" and the point, or what is wrong with the tree. Where
// `every` is given, it is filled with each branch's best point and score,
// by view node.
std::string by_outgroup(const unrooted& u, const std::vector<std::vector<std::string>>& ranked, found& out);
std::string by_midpoint(const unrooted& u, found& out);
std::string by_minvar(const unrooted& u, found& out, std::vector<branch_score>* every);
std::string by_mad(const unrooted& u, found& out, std::vector<branch_score>* every);

}  // namespace quorlen::standard::roots
