#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "default_mode/tree.h"
#include "tree_checks.h"

namespace quorlen {
namespace {

using testing::check_tree;
using testing::newick;
using testing::produce_output;

// The arena in creation order: a leaf as its label, an internal node as
// label(left,right), separated by "|", and the root's index.
std::string shape(const tree& t) {
    std::string out;
    for (node_ref n = 0; n < t.size(); ++n) {
        if (n) out += '|';
        out += t.get_data(n);
        if (!t[n].is_leaf()) out += "(" + std::to_string(t[n].left) + "," + std::to_string(t[n].right) + ")";
    }
    return out + " root=" + std::to_string(t.get_root());
}

struct read_case {
    std::string line, shape;
};

TEST(Reader, BuildsTheTreeTheLineGives) {
    const std::vector<read_case> cases = {
        {"((A,B)X,C)R;", "A|B|X(0,1)|C|R(2,3) root=4"},
        {"( (A, B) X , C ) R ;", "A|B|X(0,1)|C|R(2,3) root=4"},
        {"((A,B)X,C)R; and other words", "A|B|X(0,1)|C|R(2,3) root=4"},
        {"(((A,B)X,C)R);", "A|B|X(0,1)|C|R(2,3) root=4"},
        {"((A,B),(C,D));", "A|B|(0,1)|C|D|(3,4)|(2,5) root=6"},
        {"((A:0.1,B:0.2)X:0.3,C:0.4)R;", "A:0.1|B:0.2|X:0.3(0,1)|C:0.4|R(2,3) root=4"},
        {"('A b',[c]d)R;", "'Ab'|[c]d|R(0,1) root=2"},
        {"(A,B)R;\r", "A|B|R(0,1) root=2"},
        {"(A,B\r)R;", "A|B\r|R(0,1) root=2"},
        // Malformed lines read as the reader's rules make them.
        {"(A,B,C)R;", "A|B|C(0,1)|R|(2,3) root=4"},
        {"A;", "A||(0,1) root=2"},
        {"((A,B)X,C;", "A|B|X(0,1)|C|(2,3) root=4"},
        {"(A)B,C;", "A|B|C(0,1) root=2"},
        {"A,B,C,D;", "A|B|C(0,1) root=2"},
        {"(A,(B;", "A|B||(1,2)|(0,3) root=4"},
        // Text that ends before a ";": the end reads as one.
        {"", "||(0,1) root=2"},
        {"((A,B", "A|B|(0,1) root=2"},
        {"(((((", "||(0,1) root=2"},
        {")))", "||(0,1) root=2"},
    };
    for (const auto& c : cases) {
        tree t(c.line);
        EXPECT_EQ(shape(t), c.shape) << c.line;
        EXPECT_EQ(check_tree(t, 0), "") << c.line;
    }
}

TEST(Reader, ListsInternalNodesInPostOrder) {
    tree t("((A,B)X,C)R;");
    EXPECT_EQ(t.get_all_internalNodes(), (std::vector<node_ref>{2, 4}));
    tree empty_labels("((A,B),(C,D));");
    EXPECT_EQ(empty_labels.get_all_internalNodes(), (std::vector<node_ref>{2, 5, 6}));
}

TEST(Reader, NestingAMillionDeepDoesNotUseTheCallStack) {
    const std::size_t depth = 1000000;
    std::string left_deep(depth, '(');
    left_deep += "A,B)";
    for (std::size_t i = 0; i < depth - 1; ++i) left_deep += ",C)";
    left_deep += ';';
    tree t(left_deep);
    EXPECT_EQ(t.size(), 2 * depth + 1);
    EXPECT_EQ(check_tree(t, 0), "");
    std::string written;
    t.to_newick(t.get_root(), written);
    EXPECT_EQ(written, left_deep);

    tree unclosed(std::string(depth, '(') + ";");
    EXPECT_EQ(check_tree(unclosed, 0), "");
}

TEST(Writer, WritesSubtreesAndLeaves) {
    tree t("((A,B)X,(C,D)Y)R;");
    std::string out;
    t.to_newick(2, out);
    EXPECT_EQ(out, "(A,B)X");
    out.clear();
    t.to_newick(0, out);
    EXPECT_EQ(out, "A");
    EXPECT_EQ(newick(t), "((A,B)X,(C,D)Y)R;");

    // A former root still writes the subtrees its links lead to.
    tree moved("(((A,B)P,C)Q,(D,E)S)R;");
    const node_ref first_root = moved.get_root();
    produce_output(moved, 2);
    out.clear();
    moved.to_newick(first_root, out);
    EXPECT_EQ(out, "((C,(D,E)S)Q,(D,E)S)R");
}

// All that the program prints for a line: each internal node whose label
// differs from the root's, re-rooted in turn, the tree checked after each.
std::string rerootings(const std::string& line) {
    tree t(line);
    const std::string root_label(t.get_data(t.get_root()));
    std::string out;
    std::size_t moves = 0;
    for (node_ref n : t.get_all_internalNodes()) {
        if (t.get_data(n) == root_label) continue;
        out += produce_output(t, n);
        ++moves;
        const std::string fault = check_tree(t, moves);
        if (!fault.empty()) return out + "<" + fault + ">";
    }
    return out;
}

struct reroot_case {
    std::string line, output;
};

TEST(Produce, ReRootsAboveEachNodeInTurn) {
    const std::vector<reroot_case> cases = {
        {"((A,B)X,C)R;", "X\n((A,B)X,C)R;\n"},
        {"((A,B)X,(C,D)Y)R;", "X\n((A,B)X,(C,D)Y)R;\nY\n((C,D)Y,(A,B)X)R;\n"},
        {"(A,(B,C)Y)R;", "Y\n((B,C)Y,A)R;\n"},
        {"(((A,B)P,C)Q,(D,E)S)R;",
         "P\n((A,B)P,(C,(D,E)S)Q)R;\nQ\n((C,(D,E)S)Q,(A,B)P)R;\nS\n(((A,B)P,C)Q,(D,E)S)R;\n"},
        {"(A,(B,(C,D)P)Q)R;", "P\n((A,B)Q,(C,D)P)R;\nQ\n((A,B)Q,(C,D)P)R;\n"},
        {"(S1,((S2,((S3,S4)15,((S5,S6)17,S7)16)14)13,((S8,S9)19,S10)18)12)11;",
         "15\n((S3,S4)15,(((S5,S6)17,S7)16,((((S8,S9)19,S10)18,S1)12,S2)13)14)11;\n"
         "17\n((S5,S6)17,(S7,(((((S8,S9)19,S10)18,S1)12,S2)13,(S3,S4)15)14)16)11;\n"
         "16\n((S7,(((((S8,S9)19,S10)18,S1)12,S2)13,(S3,S4)15)14)16,(S5,S6)17)11;\n"
         "14\n(((S5,S6)17,S7)16,(((((S8,S9)19,S10)18,S1)12,S2)13,(S3,S4)15)14)11;\n"
         "13\n(((((S8,S9)19,S10)18,S1)12,S2)13,((S3,S4)15,((S5,S6)17,S7)16)14)11;\n"
         "19\n((S8,S9)19,(S10,(S1,(S2,((S3,S4)15,((S5,S6)17,S7)16)14)13)12)18)11;\n"
         "18\n((S10,(S1,(S2,((S3,S4)15,((S5,S6)17,S7)16)14)13)12)18,(S8,S9)19)11;\n"
         "12\n(((S8,S9)19,S10)18,(S1,(S2,((S3,S4)15,((S5,S6)17,S7)16)14)13)12)11;\n"},
        // Nodes labelled like the root are skipped; so is every unlabelled
        // node of a tree whose root is unlabelled.
        {"((A,B),(C,D));", ""},
        {"((A,B)X,(C,D)R)R;", "X\n((A,B)X,(C,D)R)R;\n"},
        {"(A,B)R;", ""},
        {"(A,B,C)R;", "C\n((A,B)C,R);\n"},
        {"((A:0.1,B:0.2)X:0.3,C:0.4)R;", "X:0.3\n((A:0.1,B:0.2)X:0.3,C:0.4)R;\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(rerootings(c.line), c.output) << c.line;
}

TEST(Produce, NodesWithNoBranchAboveThemChangeNothing) {
    tree t("(((A,B)P,C)Q,(D,E)S)R;");
    const node_ref first_root = t.get_root();
    EXPECT_EQ(produce_output(t, none), "NULL Pointer\n");
    EXPECT_EQ(produce_output(t, first_root), "");
    EXPECT_EQ(produce_output(t, 0), "");  // a leaf
    EXPECT_EQ(produce_output(t, 1000), "");  // past the arena
    EXPECT_EQ(check_tree(t, 0), "");
    EXPECT_EQ(produce_output(t, 2), "P\n((A,B)P,(C,(D,E)S)Q)R;\n");
    const std::string after = newick(t);
    for (node_ref n : {none, first_root, t.get_root(), node_ref{0}, node_ref{3}}) {
        produce_output(t, n);
        EXPECT_EQ(newick(t), after) << n;
        EXPECT_EQ(check_tree(t, 1), "") << n;
    }
}

}  // namespace
}  // namespace quorlen
