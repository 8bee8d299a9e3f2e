// The methods that choose a root, each in a file of its own. Each finds a
// branch of the unrooted tree and a point on it, measured from the branch's
// lower end in the view (see unrooted.h), or says what stops it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "reading/decimal.h"
#include "reading/nexus.h"
#include "choosing/unrooted.h"

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

// The branch of least score among those offered, and its best point: the
// first in the rootings' order on a tie; a score that is no number is
// never the least. Each branch's is kept too where `every` is given.
class least {
public:
    least(const unrooted& u, found& out, std::vector<branch_score>* every) : u(u), out(out), every(every) {
        out = found{};
        out.kind = found::real;
        if (every) every->assign(u.size(), branch_score{});
    }
    void offer(std::uint32_t v, double x, double score) {
        if (every) (*every)[v] = {x, score};
        if (out.branch == none || score < best || (score == best && u.before(v, out.branch)) ||
            (best != best && score == score)) {
            out.branch = v;
            out.real_x = x;
            best = score;
        }
    }

private:
    const unrooted& u;
    found& out;
    std::vector<branch_score>* every;
    double best = 0;
};

// A leaf's name, as an outgroup names it: its label as written, a quoted
// one without its quotes and with '' read as one quote.
inline std::string leaf_name(std::string_view label) { return label_value(label); }

// Each returns "" and the point, or what is wrong with the tree. Where
// `every` is given, it is filled with each branch's best point and score,
// by view node.
// Outgroup names are leaves' names, or with `names` the names their keys
// stand for.
std::string by_outgroup(const unrooted& u, const std::vector<std::vector<std::string>>& ranked,
                        const translation* names, found& out);
std::string by_midpoint(const unrooted& u, found& out);
std::string by_minvar(const unrooted& u, found& out, std::vector<branch_score>* every);
std::string by_mad(const unrooted& u, found& out, std::vector<branch_score>* every);

}  // namespace quorlen::standard::roots
