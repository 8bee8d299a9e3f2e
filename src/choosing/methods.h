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
    // The clock's: its regression at that point, and whether the branch has
    // no point of a positive rate (then nothing else is).
    double rate = 0, root_date = 0, r2 = 0;
    bool empty = false;
};

// The root-to-tip regression at the clock's chosen point.
struct clock_fit {
    std::size_t dated = 0, outliers = 0;
    bool weak = false;  // the best point had to be bounded away from a rate of 0
    double rate = 0, root_date = 0, r2 = 0, rms = 0;
    // By view node, the distance from the root; by leaf (in pre-order, as
    // fold_sides numbers them), a dated leaf's residual, else NaN, and 1
    // where it is an outlier.
    big_vector<double> distance, residual;
    big_vector<char> outlier;
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

// The name of leaf v of u, as outgroups and dates name it: with `names`,
// the name its key stands for. A top of one child, a leaf of the unrooted
// tree, has none. A plain label is its own name, in the tree's text; other
// names are made in `room`, or stand in `names`.
inline std::string_view leaf_name_of(const unrooted& u, std::uint32_t v, const translation* names,
                                     std::string& room) {
    if (v == 0 && u.offset == 0 && u.extent[0] > 1) return {};
    const std::string_view label = u.t.label(u.original(v));
    const bool quoted = label.size() >= 2 && label.front() == '\'';
    if (!quoted && !names) return label;
    if (quoted)
        room = leaf_name(label);
    else
        room.assign(label.data(), label.size());
    if (names) {
        const auto key = names->find(room);
        if (key != names->end()) return key->second.name;
    }
    return room;
}

// Each returns "" and the point, or what is wrong with the tree. Where
// `every` is given, it is filled with each branch's best point and score,
// by view node.
// Outgroup names are leaves' names, or with `names` the names their keys
// stand for.
std::string by_outgroup(const unrooted& u, const std::vector<std::vector<std::string>>& ranked,
                        const translation* names, found& out);
std::string by_midpoint(const unrooted& u, found& out);
std::string by_minvar(const unrooted& u, found& out, std::vector<branch_score>* every);
// mad: on `threads` threads, at most two; the same answer on any number.
std::string by_mad(const unrooted& u, found& out, std::vector<branch_score>* every, unsigned threads);
// Dates by leaf (in pre-order, as fold_sides numbers them), NaN where a leaf
// has none; r2:
// the point of largest R^2 rather than of least residual.
// `length` and `longest` are clock_lengths'; `length` becomes the
// distances of fit.
std::string by_clock(const unrooted& u, const big_vector<double>& dates, big_vector<double> length, double longest,
                     bool r2, found& out, std::vector<branch_score>* every, clock_fit& fit);
// The lengths of u's branches by view node, and the longest path between
// two leaves, every length counted by its size.
void clock_lengths(const unrooted& u, big_vector<double>& length, double& longest);

}  // namespace quorlen::standard::roots
