// Root choosing against brute force: hand-worked trees, then seeded random
// trees, each rooted by every method and the choice checked by
// testing::check_choice (root_oracle.h), which the fuzz target runs too;
// and seeded random trees with sampling dates, rooted by the clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "random_tree.h"
#include "root_oracle.h"
#include "standard_checks.h"

namespace quorlen::standard {
namespace {

using roots::method;

struct example {
    method how;
    std::vector<std::vector<std::string>> outgroups;
    const char* text;
    const char* line;  // "" for a refusal
};

// Worked by hand.
const example examples[] = {
    // The longest path, B to D (16), has its middle 6 from X on X's branch
    // to Y, merged through the old root.
    {method::midpoint, {}, "((A:1,B:2)X:3,(C:4,D:5)Y:6)R;", "((A:1,B:2)X:6,(C:4,D:5)Y:3)R;"},
    // Every path is 2 long, with its middle at the centre: the first branch
    // with it is A's, at its far end.
    {method::midpoint, {}, "(A:1,B:1,C:1)R;", "(A:1,(B:1,C:1):0)R;"},
    {method::midpoint, {}, "(A:1,B:2,C:6)R;", "(C:4,(A:1,B:2):2)R;"},
    {method::midpoint, {}, "(A:2,B:1,(C:1,D:0)X:1)R;", "(A:2,(B:1,(C:1,D:0)X:1):0)R;"},
    {method::midpoint, {}, "(A,B,C)R;", ""},
    {method::midpoint, {}, "(A:0,B:0.0,C:0e-5)R;", ""},
    // Distances x, 5 - x, 5 - x from a root on C's branch: equal at 2.5.
    {method::minvar, {}, "(A:1,B:1,C:4)R;", "(C:2.5,(A:1,B:1):1.5)R;"},
    // On C's branch x, 7 - x, 8 - x: least at 3.75, a variance of 1/6;
    // A's and B's branches do no better than 14/3, at their far ends.
    {method::minvar, {}, "(A:1,B:2,C:6)R;", "(C:3.75,(A:1,B:2):2.25)R;"},
    {method::minvar, {}, "(A:1,B:3);", "(A:2,B:2);"},
    // A and B deviate by 0 at the centre; A and C, B and C by 1 - 2x/5.
    {method::mad, {}, "(A:1,B:1,C:4)R;", "(C:2.5,(A:1,B:1):1.5)R;"},
    {method::mad, {}, "(A:1,B:3);", "(A:2,B:2);"},
    // Two leaves, A and the old root, and two branches: the first, its middle.
    {method::mad, {}, "((A:1)X:2);", "(A:0.5,(:2)X:0.5);"},
    {method::mad, {}, "(A:-1,B:2,C:2)R;", ""},
    {method::outgroup, {{"C", "D"}}, "((A:1,B:2)X:3,(C:4,D:5)Y:6)R;", "((A:1,B:2)X:4.5,(C:4,D:5)Y:4.5)R;"},
    {method::outgroup, {{"B"}}, "((A:1,B:2)X:3,(C:4,D:5)Y:6)R;", "(B:1,(A:1,(C:4,D:5)Y:9)X:1)R;"},
    // The first list with a name in the tree, of which only D is.
    {method::outgroup, {{"Z"}, {"D", "Q"}, {"A"}}, "((A:1,B:2)X:3,(C:4,D:5)Y:6)R;", "(D:2.5,(C:4,(A:1,B:2)X:9)Y:2.5)R;"},
    // The outgroup on the side away from the chosen node.
    {method::outgroup, {{"A", "B", "C"}}, "((A:1,B:2)X:3,(C:4,D:5)Y:6)R;", "(D:2.5,(C:4,(A:1,B:2)X:9)Y:2.5)R;"},
    {method::outgroup, {{"A", "C"}}, "((A:1,B:2)X:3,(C:4,D:5)Y:6)R;", ""},
    {method::outgroup, {{"A", "B", "C", "D"}}, "((A:1,B:2)X:3,(C:4,D:5)Y:6)R;", ""},
    // A's branch and X's both part A from the rest: the first is taken.
    {method::outgroup, {{"A"}}, "((A:1)X:2,B:3,C:4);", "(A:0.5,((B:3,C:4):2)X:0.5);"},
    // Two leaves named A: which is meant is in doubt.
    {method::outgroup, {{"A"}}, "(A:1,B:2,(A:3,D:4)E:5);", ""},
    {method::outgroup, {{"Z"}}, "((A:1,B:2)X:3,(C:4,D:5)Y:6)R;", ""},
    {method::outgroup, {{"it's"}}, "('it''s':1,B:1,C:1);", "('it''s':0.5,(B:1,C:1):0.5);"},
    {method::outgroup, {{"A"}}, "('A':1,B:2,C:3);", "('A':0.5,(B:2,C:3):0.5);"},
    {method::outgroup, {{"'A'"}}, "('A':1,B:2,C:3);", ""},
    // Dates in the names, 1 apart for each unit of distance from the centre:
    // there, the first branch's far end, every residual is 0.
    {method::clock, {}, "(A_2000:1,B_2002:3,C_2001:2);", "(A_2000:1,(B_2002:3,C_2001:2):0);"},
    // The same from the point 0.5 up the branch merged through the root.
    {method::clock, {}, "((A_2000:0.5,B_2001:1.5):0.5,(C_2002:1,D_2003:2):2);",
     "((A_2000:0.5,B_2001:1.5):0.5,(C_2002:1,D_2003:2):2);"},
    // On A's branch the rate is 7 - x and RSS 2x^2/3 - 12x + 54, falling
    // to the centre, where the rate is 0; elsewhere no rate is positive.
    // Weak: the point of rate 7e-6, a millionth of the largest.
    {method::clock, {}, "(A_2006:7,B_2008:7,C_2007:9);", "(A_2006:6.999993,(B_2008:7,C_2007:9):7e-06);"},
    {method::clock, {}, "(A_2000:1,B:2,C_x:1);", ""},
    {method::clock, {}, "(A_2000:1,B_2000:2,C:3);", ""},
    {method::clock, {}, "(A_2000,B_2001,C_2002);", ""},
    // Sty is 0 at C's leaf and at B's, and negative everywhere else: no
    // root gives a positive rate.
    {method::clock, {}, "(A_2001:2,D_2009:0,(C_2004:9,B_2004:9):7);", ""},
    // One leaf: no branch to root on; minvar and mad write it as read.
    {method::outgroup, {{"A"}}, "A;", ""},
    {method::midpoint, {}, "A:1;", ""},
    {method::minvar, {}, "A:1[c];", "A:1[c];"},
    {method::mad, {}, "'A';", "'A';"},
};

TEST(RootsExamples, HandWorkedTrees) {
    for (const example& c : examples) {
        SCOPED_TRACE(std::string(testing::method_name(c.how)) + " " + c.text);
        tree t;
        ASSERT_EQ(testing::read_one(c.text, t), "");
        roots::options how;
        how.how = c.how;
        how.outgroups = c.outgroups;
        roots::chooser chooser(how);
        const std::string refusal = chooser.choose(t);
        if (*c.line == '\0') {
            EXPECT_NE(refusal, "");
        } else {
            ASSERT_EQ(refusal, "");
            std::string line;
            chooser.write(t, line);
            EXPECT_EQ(line, c.line);
        }
        how.scores = true;
        EXPECT_EQ(testing::check_choice(t, how), "");
    }
}

// The same shape with every length 0, 1 or 2 (or none), or up to `most`:
// paths of equal length, middles on nodes, branches of length 0.
std::string small_lengths(std::string text, std::mt19937& rng, int most = 2) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] != ':' || i + 1 == text.size() || !std::strchr("-.0123456789", text[i + 1])) continue;
        while (i + 1 < text.size() && std::strchr("-+.0123456789eE", text[i + 1])) ++i;
        out += std::to_string(std::uniform_int_distribution<int>(0, most)(rng));
    }
    return out;
}

// Outgroup lists naming one side of a random branch: a list of names in no
// tree first, then the side's names, shuffled, with names in no tree among
// them.
std::vector<std::vector<std::string>> random_outgroups(const tree& t, std::mt19937& rng) {
    const testing::root_oracle o(t);
    const auto& b = o.branches[std::uniform_int_distribution<std::size_t>(0, o.branches.size() - 1)(rng)];
    const std::set<std::string>& side = rng() % 2 ? b.near_names : b.far_names;
    std::vector<std::string> names(side.begin(), side.end());
    if (rng() % 2) names.push_back("absent");
    std::shuffle(names.begin(), names.end(), rng);
    return {{"nowhere", "L 99999"}, names};
}

TEST(RootsProperty, EveryMethodAgreesWithBruteForce) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 160; ++round) {
        const std::size_t leaves = std::uniform_int_distribution<std::size_t>(3, 40)(rng);
        std::string text = testing::random_tree(leaves, rng, round % 2 == 0);
        if (round % 4 == 3) text = small_lengths(text, rng);
        tree t;
        ASSERT_EQ(testing::read_one(text, t), "") << text;
        for (method how : {method::outgroup, method::midpoint, method::minvar, method::mad}) {
            roots::options o;
            o.how = how;
            o.labels = rng() % 2 ? internal_labels::names : internal_labels::supports;
            o.scores = rng() % 4 != 0;
            if (how == method::outgroup) o.outgroups = random_outgroups(t, rng);
            EXPECT_EQ(testing::check_choice(t, o), "") << text;
        }
    }
}

// Each leaf label of a tree random_tree() made, L12 or 'L 12', replaced by
// what `rename` makes of its name, L12 or L 12.
template <class Rename>
std::string renamed_leaves(const std::string& text, Rename rename) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const bool leaf = i > 0 && (text[i - 1] == '(' || text[i - 1] == ',');
        if (c == '[') {
            const std::size_t end = text.find(']', i) + 1;
            out.append(text, i, end - i);
            i = end;
        } else if (leaf && c == '\'') {
            const std::size_t end = text.find('\'', i + 1);
            out += rename(text.substr(i + 1, end - i - 1), true);
            i = end + 1;
        } else if (leaf && c == 'L') {
            std::size_t end = i + 1;
            while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
            out += rename(text.substr(i, end - i), false);
            i = end;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

// A tree with sampling dates: its text, each leaf's date by name, and the
// text of a dates table where the dates are given in one.
struct dated_tree {
    std::string text;
    std::map<std::string, double> dates;
    std::string table;
};

// The signal the dates carry: a clock running forward from the root as
// read (with noise, or none), or backward; none at all; or too few dates to
// fit, or one date for all, or lengths all 0.
enum class signal { clock, reversed, none, too_few, one_date, no_lengths };

// A random tree of `leaves` leaves dated with signal `kind`, most leaves
// dated, in their names (after a '_', '|' or '/') or in a table.
dated_tree random_dated(std::size_t leaves, signal kind, bool in_table, std::mt19937& rng) {
    auto chance = [&](int percent) { return std::uniform_int_distribution<int>(0, 99)(rng) < percent; };
    std::string text = testing::random_tree(leaves, rng, chance(25));
    if (kind == signal::no_lengths) text = small_lengths(text, rng, 0);
    else if (chance(20)) text = small_lengths(text, rng);
    tree t;
    testing::read_one(text, t);
    // Each leaf's distance from the root as read, parents coming first.
    std::vector<double> depth(t.nodes.size(), 0);
    for (node_ref n = 1; n < t.nodes.size(); ++n)
        depth[n] = depth[t.nodes[n].parent] + testing::as_double(testing::exact_length(t.length(n)));
    double mean = 0, spread = 0;
    std::size_t count = 0;
    for (node_ref n = 0; n < t.nodes.size(); ++n)
        if (t.nodes[n].is_leaf()) mean += depth[n], ++count;
    mean /= static_cast<double>(count);
    for (node_ref n = 0; n < t.nodes.size(); ++n)
        if (t.nodes[n].is_leaf()) spread += (depth[n] - mean) * (depth[n] - mean);
    spread = std::sqrt(spread / static_cast<double>(count));
    // Years per unit of distance, and the noise, in years.
    const double years = std::pow(10.0, std::uniform_real_distribution<double>(0, 3)(rng));
    const double noise = (chance(30) ? 0 : chance(50) ? 0.05 : 0.4) * spread * years;
    std::normal_distribution<double> jitter(0, 1);
    const double one_date = 2000 + std::uniform_int_distribution<int>(0, 20)(rng);
    const std::size_t dated_few = std::uniform_int_distribution<std::size_t>(0, 1)(rng);
    std::map<std::string, std::string> written;  // a leaf's date by its name as random_tree gave it; "" none
    std::size_t dated = 0;
    for (node_ref n = 0; n < t.nodes.size(); ++n) {
        if (!t.nodes[n].is_leaf()) continue;
        double date = 0;
        switch (kind) {
        case signal::clock: date = 2000 + depth[n] * years + noise * jitter(rng); break;
        case signal::reversed: date = 2000 - depth[n] * years + noise * jitter(rng); break;
        case signal::none:
        case signal::no_lengths: date = std::uniform_real_distribution<double>(1990, 2020)(rng); break;
        case signal::one_date: date = one_date; break;
        case signal::too_few: date = 2000 + static_cast<double>(dated); break;
        }
        const bool undated = kind == signal::too_few ? dated >= dated_few : chance(15);
        char year[32] = "";
        if (!undated) std::snprintf(year, sizeof year, "%.4f", date), ++dated;
        written[testing::leaf_name(t.label(n))] = year;
    }
    dated_tree out;
    static const char* separators[] = {"_", "|", "/"};
    static const char* no_date[] = {"", "_NA", "_?", "|x", "_2020-13"};
    out.table = chance(50) ? "name,date\n" : "Strain\tcollection date\n";
    const char separator = out.table[4] == ',' ? ',' : '\t';
    out.text = renamed_leaves(text, [&](const std::string& name, bool quoted) {
        const std::string& year = written.at(name);
        std::string label = name;
        if (in_table) {
            // A date in the name too, which the table's overrides.
            if (chance(20)) label += "_1900";
            if (!year.empty()) out.table += label + separator + year + "\n";
            else if (chance(50)) out.table += label + separator + (chance(50) ? "NA" : "") + "\n";
        } else {
            label += year.empty() ? no_date[std::uniform_int_distribution<int>(0, 4)(rng)]
                                  : separators[std::uniform_int_distribution<int>(0, quoted ? 1 : 2)(rng)] + year;
        }
        if (!year.empty()) out.dates[label] = std::strtod(year.c_str(), nullptr);
        return quoted ? "'" + label + "'" : label;
    });
    return out;
}

TEST(RootsProperty, ClockAgreesWithBruteForce) {
    std::mt19937 rng(20261219);
    const std::string path = ::testing::TempDir() + "roots_clock_dates.csv";
    // How often each outcome came: a choice, a weak one, each refusal.
    std::map<std::string, int> seen;
    for (int round = 0; round < 300; ++round) {
        static const signal kinds[] = {signal::clock,    signal::clock,   signal::clock, signal::clock,
                                       signal::reversed, signal::reversed, signal::none,  signal::none,
                                       signal::too_few,  signal::one_date, signal::no_lengths};
        const signal kind = kinds[static_cast<std::size_t>(round) % (sizeof kinds / sizeof kinds[0])];
        const std::size_t leaves = std::uniform_int_distribution<std::size_t>(3, 30)(rng);
        const bool in_table = rng() % 3 == 0;
        const dated_tree d = random_dated(leaves, kind, in_table, rng);
        tree t;
        ASSERT_EQ(testing::read_one(d.text, t), "") << d.text;
        dates_table table;
        if (in_table) {
            std::FILE* f = std::fopen(path.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            std::fputs(d.table.c_str(), f);
            std::fclose(f);
            ASSERT_EQ(table.load(path), "") << d.table;
        }
        for (bool r2 : {false, true}) {
            roots::options o;
            o.how = method::clock;
            o.r2 = r2;
            o.dates = in_table ? &table : nullptr;
            o.labels = rng() % 2 ? internal_labels::names : internal_labels::supports;
            o.scores = rng() % 4 != 0;
            EXPECT_EQ(testing::check_choice(t, o, true, &d.dates), "")
                << d.text << (in_table ? "\ndates:\n" + d.table : "") << (r2 ? "\nby R^2" : "");
            roots::chooser chooser(o);
            const std::string refusal = chooser.choose(t);
            ++seen[!refusal.empty()               ? refusal
                   : chooser.clock().weak         ? "weak"
                   : chooser.clock().outliers > 0 ? "outliers"
                                                  : r2 ? "by R^2" : "chosen"];
        }
    }
    std::remove(path.c_str());
    for (const char* outcome : {"chosen", "by R^2", "weak", "outliers", "fewer than two leaves have dates",
                                "every dated leaf has the same date", "no root gives the dates a positive rate"})
        EXPECT_GT(seen[outcome], 0) << outcome;
}

}  // namespace
}  // namespace quorlen::standard
