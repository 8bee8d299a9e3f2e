// Choosing a root: every method on small trees worked by hand, the outgroup
// rules, the errors, and the table of scores.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "choosing/choose.h"
#include "choosing/unrooted.h"
#include "random_tree.h"
#include "standard_checks.h"

namespace quorlen::standard::roots {
namespace {

// The line chosen for the first tree of text, or "error: " and the error.
std::string chosen_line(const std::string& text, const options& how) {
    tree t;
    const std::string error = testing::read_one(text, t);
    if (!error.empty()) return "unread: " + error;
    chooser c(how);
    const std::string fault = c.choose(t);
    if (!fault.empty()) return "error: " + fault;
    std::string line;
    c.write(t, line);
    return line;
}

options with(method how, std::vector<std::vector<std::string>> outgroups = {},
             internal_labels labels = internal_labels::names) {
    options o;
    o.how = how;
    o.outgroups = std::move(outgroups);
    o.labels = labels;
    return o;
}

struct row {
    std::string tree;
    options how;
    std::string line;
};

void check(const std::vector<row>& rows) {
    for (const row& r : rows) EXPECT_EQ(chosen_line(r.tree, r.how), r.line) << r.tree;
}

const std::string example = "((A:1,B:2)X:3,(C:4,D:5)Y:6)R;";

TEST(Outgroup, IsOneSideOfTheChosenBranch) {
    const method o = method::outgroup;
    check({
        // The standard mode's line for the branch.
        {example, with(o, {{"A"}}), "(A:0.5,(B:2,(C:4,D:5)Y:9)X:0.5)R;"},
        {example, with(o, {{"A", "B"}}), "((A:1,B:2)X:4.5,(C:4,D:5)Y:4.5)R;"},
        {example, with(o, {{"D", "C"}}), "((A:1,B:2)X:4.5,(C:4,D:5)Y:4.5)R;"},
        // Ranked lists: the first with a leaf of the tree; names it lacks
        // are left out.
        {example, with(o, {{"Z"}, {"D", "Q"}, {"A"}}), "(D:2.5,(C:4,(A:1,B:2)X:9)Y:2.5)R;"},
        // A root of three, and of one child, whose own place is a leaf.
        {"(A:1,B:2,(C:1,D:1)X:1);", with(o, {{"A", "B"}}), "((C:1,D:1)X:0.5,(A:1,B:2):0.5);"},
        {"((A:1,B:1)X:2)R;", with(o, {{"A", "B"}}), "((A:1,B:1)X:1,:1)R;"},
        // Quoted names are their text.
        {"('Homo sapiens':1,'it''s':2,C:3);", with(o, {{"it's"}}), "('it''s':1,('Homo sapiens':1,C:3):1);"},
        {"('Homo sapiens':1,'it''s':2,C:3);", with(o, {{"Homo sapiens"}}),
         "('Homo sapiens':0.5,('it''s':2,C:3):0.5);"},
        // Supports move with their branches.
        {"((A:1,B:1)90:1,(C:1,D:1)80:1);", with(o, {{"A"}}, internal_labels::supports),
         "(A:0.5,(B:1,(C:1,D:1)90:2):0.5);"},
        {"((A:1,B:1)90:1,(C:1,D:1)80:1);", with(o, {{"C", "D"}}, internal_labels::supports),
         "((A:1,B:1)90:1,(C:1,D:1)90:1);"},
        // A duplicate name not looked up is no fault.
        {"(A,A,B,C);", with(o, {{"B"}}), "(B,(A,A,C));"},
        {"(A,B,(C,D));", with(o, {{"A", "C"}}), "error: the outgroup is not one side of any branch"},
        {"(A,B,(C,D));", with(o, {{"A", "B", "C", "D"}}), "error: the outgroup is not one side of any branch"},
        {"(A,A,B,C);", with(o, {{"A"}}), "error: the outgroup name 'A' is the name of more than one leaf"},
        {"(A,B,C);", with(o, {{"Z"}, {"Y"}}), "error: no outgroup name is a leaf of the tree"},
        {"A;", with(o, {{"A"}}), "error: the outgroup is not one side of any branch"},
    });
}

TEST(Midpoint, HalfwayAlongTheLongestPathExactly) {
    const options m = with(method::midpoint);
    check({
        // B to D, 16 long: 8 from B, 6 above X on the merged branch.
        {example, m, "((A:1,B:2)X:6,(C:4,D:5)Y:3)R;"},
        {"(A:1,B:3);", m, "(A:2,B:2);"},
        {"((A:1)X:2,B:3)R;", m, "((A:1)X:2,B:3)R;"},
        {"(A:0.1,B:0.2,C:0.3);", m, "(C:0.25,(A:0.1,B:0.2):0.05);"},
        // At a node: on the first of its branches on the longest path.
        {"(A:1,B:2,(C:1,D:1)X:1);", m, "(B:2,(A:1,(C:1,D:1)X:1):0);"},
        {"(A:1,B:1,C:1);", m, "(A:1,(B:1,C:1):0);"},
        // Lengths past 64 and past 128 bits, exact.
        {"(A:0.12345678901234567891,B:0.2,C:0.3);", m, "(C:0.25,(A:0.12345678901234567891,B:0.2):0.05);"},
        {"(A:0.1,B:0.2,C:0.30000000000000000000000000000000000001);", m,
         "(C:0.250000000000000000000000000000000000005,(A:0.1,B:0.2):0.050000000000000000000000000000000000005);"},
        {"(A:1,B:3,C:1e-30);", m, "(B:2,(A:1,C:1e-30):1);"},
        {"(A:1,B:-2,(C:1,D:1):1);", m, "((C:1,D:1):0.5,(A:1,B:-2):0.5);"},
        {"[&R] ((A:1,B:2)X:3[c],(C:4,D:5)Y:6)R:7[r];", with(method::midpoint, {}, internal_labels::supports),
         "[&R]((A:1,B:2)X:6[c],(C:4,D:5)X:3)R:7[r];"},
        {"(A,B,C);", m, "error: the longest path between two leaves has length 0"},
        {"(A:0,B:0);", m, "error: the longest path between two leaves has length 0"},
        {"A;", m, "error: the longest path between two leaves has length 0"},
    });
}

TEST(MinimalVariance, LeastVarianceOfRootToLeafDistances) {
    const options v = with(method::minvar);
    check({
        // On X-Y, 6 from X: the distances 7, 8, 7, 8.
        {example, v, "((A:1,B:2)X:6,(C:4,D:5)Y:3)R;"},
        // On C's branch: x = (3 + 1.5 - 0) / 2 from C.
        {"(A:1,B:2,C:3);", v, "(C:2.25,(A:1,B:2):0.75);"},
        {"((A:1,B:1)X:2)R;", v, "((A:1,B:1)X:0.5,:1.5)R;"},
        // A point at an end: 0, and the length as read.
        {"(A:0,B:0,C:0.0);", v, "(A:0,(B:0,C:0.0):0);"},
        // At the far end of a merged branch, whose length as doubles
        // (0.1 + 0.2) is not the length as read (0.3): that end, exactly.
        {"((:1e1255)X:1e-9,L2:4890.1);", v, "((:1e1255)X:0,L2:4890.100000001);"},
        {"(A:1,B:-2,(C:1,D:1):1);", v, "(B:-0.16666666666666674,(A:1,(C:1,D:1):1):-1.83333333333333326);"},
        {"(A,B);", v, "(A,B);"},
        {"A;", v, "A;"},
        // A length of 20 digits is not one of 64 bits taken modulo 2^64 (5).
        {"(A:18446744073709551621,B:1,C:1);", v, "(A:9.223372036854775808e+18,(B:1,C:1):9.223372036854775813e+18);"},
        // A tie, exactly 0 at X = Y: the first branch in order, A's, at its
        // end.
        {"((A:1,B:1)X:0,(C:1,D:1)Y:0);", v, "(A:1,(B:1,(C:1,D:1)Y:0)X:0);"},
    });
}

TEST(Lengths, PlainDecimalsAWordAtATime) {
    // The lengths stand in a buffer with bytes past them that are digits,
    // points and signs, as the rest of a tree's text is.
    auto plain = [](const std::string& length, std::uint64_t& digits, int& places) {
        byte_buffer text;
        const std::string all = length + "1.2-3,4.5:6";
        std::memcpy(text.room(all.size()), all.data(), all.size());
        text.wrote(text.data() + all.size());
        return plain_length(text.view().substr(0, length.size()), digits, places);
    };
    struct case_ {
        std::string length;
        bool plain;
        std::uint64_t digits;
        int places;
    };
    for (const case_& c : std::vector<case_>{
             {"", true, 0, 0},
             {".", true, 0, 0},
             {"7", true, 7, 0},
             {"0.21632", true, 21632, 5},
             {"12345678", true, 12345678, 0},
             {"1234567.", true, 1234567, 0},
             {".1234567", true, 1234567, 7},
             {"0.000001", true, 1, 6},
             {"1.2.3", false, 0, 0},
             {"1e-5", false, 0, 0},
             {"-1", false, 0, 0},
             {"1,5", false, 0, 0},
             {"123456.789", true, 123456789, 3},
             {"123456789012345678", true, 123456789012345678u, 0},
             {"1234567890123456789", false, 0, 0},
         }) {
        std::uint64_t digits = 0;
        int places = 0;
        ASSERT_EQ(plain(c.length, digits, places), c.plain) << c.length;
        if (!c.plain) continue;
        EXPECT_EQ(digits, c.digits) << c.length;
        EXPECT_EQ(places, c.places) << c.length;
    }
    // Strings of up to 20 of these bytes, at random, as a byte at a time
    // reads them.
    std::mt19937 draw(5);
    const std::string bytes = "0123456789.....-+e /";
    for (int k = 0; k < 200000; ++k) {
        std::string length(draw() % 21, ' ');
        const std::size_t kinds = draw() % 2 ? 11 : bytes.size();
        for (char& c : length) c = bytes[draw() % kinds];
        std::uint64_t a = 0, b = 0;
        int pa = 0, pb = 0;
        const bool x = plain(length, a, pa), y = plain_length_by_bytes(length, b, pb);
        ASSERT_EQ(x, y) << length;
        if (x) {
            ASSERT_TRUE(a == b && pa == pb) << length;
        }
    }
}

TEST(MinimalAncestorDeviation, LeastDeviationOfLeafPairs) {
    const options d = with(method::mad);
    check({
        // On C's branch, 33/41 from the centre: the pair deviations -1/3,
        // (t - 1) / 2 and (2t - 1) / 5 give 41 t = 33.
        {"(A:1,B:2,C:3);", d, "(C:2.1951219512195124,(A:1,B:2):0.8048780487804876);"},
        {"(A:1,B:3);", d, "(A:2,B:2);"},
        {"((A:1,B:1):1,(C:1,D:1):1);", d, "((A:1,B:1):1,(C:1,D:1):1);"},
        {"(A:1,B:-2,(C:1,D:1):1);", d, "error: a negative branch length"},
        {"((A:1,B:1)X:0,(C:1,D:1)Y:0);", d, "(A:1,(B:1,(C:1,D:1)Y:0)X:0);"},
        {"A;", d, "A;"},
    });
}

// Past 256 leaves the pairs are summed in two halves, each on a thread
// where there are two: the same line and scores, to the last digit, on one.
TEST(MinimalAncestorDeviation, SameOnOneThreadAsOnTwo) {
    std::mt19937 rng(23);
    for (std::size_t leaves : {300, 1000}) {
        tree t;
        ASSERT_EQ(testing::read_one(testing::random_tree(leaves, rng, false), t), "");
        std::string line[2];
        std::vector<scored_branch> rows[2];
        for (unsigned threads : {1u, 2u}) {
            options how = with(method::mad);
            how.scores = true;
            how.threads = threads;
            chooser c(how);
            ASSERT_EQ(c.choose(t), "");
            c.write(t, line[threads - 1]);
            rows[threads - 1] = c.scores();
        }
        EXPECT_EQ(line[0], line[1]);
        ASSERT_EQ(rows[0].size(), rows[1].size());
        for (std::size_t i = 0; i < rows[0].size(); ++i) {
            EXPECT_EQ(rows[0][i].position, rows[1][i].position) << i;
            EXPECT_EQ(rows[0][i].score, rows[1][i].score) << i;
        }
    }
}

TEST(Scores, EveryBranchInTheOrderOfTheRootings) {
    tree t;
    ASSERT_EQ(testing::read_one(example, t), "");
    options how = with(method::minvar);
    how.scores = true;
    chooser c(how);
    ASSERT_EQ(c.choose(t), "");
    struct expected {
        std::string node;
        std::size_t leaves;
        double length, position, score;
    };
    // From A: B at 2, C at 13, D at 14 from X, mean 29/3: past A's end.
    const std::vector<expected> rows = {
        {"A", 1, 1, 1, 36.25}, {"B", 1, 2, 2, 36.25}, {"X", 2, 9, 6, 0.25}, {"C", 1, 4, 4, 9.25}, {"D", 1, 5, 5, 9.25},
    };
    ASSERT_EQ(c.scores().size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const scored_branch& got = c.scores()[i];
        EXPECT_EQ(t.label(got.chosen), rows[i].node);
        EXPECT_EQ(got.leaves, rows[i].leaves);
        EXPECT_EQ(got.length, rows[i].length);
        EXPECT_EQ(got.position, rows[i].position);
        EXPECT_NEAR(got.score, rows[i].score, 1e-12);
    }
    EXPECT_EQ(t.label(c.chosen()), "X");
}

// A caterpillar nested a million deep: every method's passes go without
// recursion.
TEST(Deep, EveryMethodOnAMillionDeepTree) {
    const int n = 1000000;
    std::string text(n - 1, '(');
    text += "L0:1,L1:1)";
    for (int i = 2; i < n; ++i) text += ":1,L" + std::to_string(i) + ":1)";
    text += ";";
    tree t;
    ASSERT_EQ(testing::read_one(text, t), "");
    for (method m : {method::outgroup, method::midpoint, method::minvar}) {
        chooser c(with(m, {{"L0"}}));
        ASSERT_EQ(c.choose(t), "");
        std::string line;
        c.write(t, line);
        tree back;
        EXPECT_EQ(testing::read_one(line, back), "");
        EXPECT_EQ(back.nodes.size(), t.nodes.size());
        if (m == method::outgroup) {
            EXPECT_EQ(line.substr(0, 14), "(L0:0.5,(L1:1,");
        }
    }
}

}  // namespace
}  // namespace quorlen::standard::roots
