// Root choosing against brute force: hand-worked trees, then seeded random
// trees, each rooted by every method and the choice checked by
// testing::check_choice (root_oracle.h), which the fuzz target runs too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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

// The same shape with every length 0, 1 or 2 (or none): paths of equal
// length, middles on nodes, branches of length 0.
std::string small_lengths(std::string text, std::mt19937& rng) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] != ':' || i + 1 == text.size() || !std::strchr("-.0123456789", text[i + 1])) continue;
        while (i + 1 < text.size() && std::strchr("-+.0123456789eE", text[i + 1])) ++i;
        out += std::to_string(std::uniform_int_distribution<int>(0, 2)(rng));
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

}  // namespace
}  // namespace quorlen::standard
