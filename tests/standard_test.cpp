// The standard mode: lengths, the reader's accepted forms and errors, and
// the rootings of small trees.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <random>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "common/io.h"
#include "reading/decimal.h"
#include "reading/newick.h"
#include "rootings/rootings.h"
#include "standard_checks.h"

namespace quorlen::standard {
namespace {

using testing::read_one;

std::string written(const decimal& d) {
    std::string out;
    write_decimal(d, out);
    return out;
}

decimal number(const std::string& text) {
    decimal d;
    EXPECT_EQ(parse_decimal(text, d), length_fault::none) << text;
    return d;
}

TEST(Decimal, HalvesAndSumsAreExactInTheirShortestForm) {
    struct row {
        std::string a, b, half_a, sum;
    };
    const std::vector<row> rows = {
        {"0.1", "0.2", "0.05", "0.3"},
        {"3", "6", "1.5", "9"},
        {"1.0", "1.0", "0.5", "2"},
        {"0.001", "0.1", "0.0005", "0.101"},
        {"1e-05", "2.5E+3", "5e-06", "2500.00001"},
        {".5", "-0.01", "0.25", "0.49"},
        {"-1", "1", "-0.5", "0"},
        {"-0.3", "0.1", "-0.15", "-0.2"},
        {"0", "-0", "0", "0"},
        {"+1.", "999.999", "0.5", "1000.999"},
        {"1e16", "1", "5000000000000000", "1.0000000000000001e+16"},
        {"1e9999", "1e-9999", "5e+9998", ""},
        {"0.0002", "0.00001", "0.0001", "0.00021"},
        {"0.0001", "0.00002", "5e-05", "0.00012"},
        {"99999999999999999", "1", "4.99999999999999995e+16", "1e+17"},
        {"19999999999999999.8", "0.2", "9999999999999999.9", "2e+16"},
        {"000.000", "0001.50", "0", "1.5"},
    };
    for (const row& r : rows) {
        const decimal a = number(r.a), b = number(r.b);
        EXPECT_EQ(written(half(a)), r.half_a) << r.a;
        std::string quick;
        write_half(r.a, quick);
        EXPECT_EQ(quick, r.half_a) << r.a;
        if (!r.sum.empty()) {
            EXPECT_EQ(written(add(a, b)), r.sum) << r.a << " + " << r.b;
        }
    }
    EXPECT_EQ(written(add(number("1e9999"), number("1e-9999"))).size(), 2 * 9999 + 2 + 6);
}

// The quick half of a plain length, digit by digit, against the half of the
// number: on every string of digits, points and zeros it takes.
// Mostly digits and points, now and then a byte of no plain number; now and
// then long; now and then below 1, as most lengths are.
std::string random_length(std::mt19937_64& random) {
    const char alphabet[] = "0123456789.0000.0123456789e-+/:\xff";
    std::string text = random() % 4 ? "" : random() % 2 ? "0." : std::string(1, static_cast<char>('0' + random() % 10)) + ".";
    for (std::size_t i = random() % (random() % 4 ? 22 : 66); i > 0; --i)
        text += alphabet[random() % (random() % 8 ? 15 : sizeof alphabet - 1)];
    return text;
}

TEST(Decimal, QuickHalfIsTheHalf) {
    std::mt19937_64 random(12);
    for (int k = 0; k < 200000; ++k) {
        const std::string text = random_length(random);
        char quick[64];
        char* end = write_plain_half(text, quick);
        if (!end) continue;
        EXPECT_EQ(std::string(quick, static_cast<std::size_t>(end - quick)), written(half(number(text)))) << text;
    }
}

TEST(Decimal, QuickSumIsTheSum) {
    std::mt19937_64 random(13);
    for (int k = 0; k < 200000; ++k) {
        const std::string a = random_length(random), b = random_length(random);
        std::string sum, sum_half;
        if (!write_plain_sum(a, b, sum, sum_half)) continue;
        const decimal exact = add(a.empty() ? decimal{} : number(a), b.empty() ? decimal{} : number(b));
        EXPECT_EQ(sum, written(exact)) << a << " + " << b;
        EXPECT_EQ(sum_half, written(half(exact))) << a << " + " << b;
    }
}

TEST(Decimal, RejectsWhatIsNoNumber) {
    for (const char* text : {"", "x", ".", "-", "1e", "1e+", "1.2.3", "0x1", "inf", "nan", "1,5", "1 ", "e5"}) {
        decimal d;
        EXPECT_EQ(parse_decimal(text, d), length_fault::not_a_number) << text;
    }
    for (const char* text : {"1e10000", "1e-10000", "0.1e-9999", "1e99999999999999999999"}) {
        decimal d;
        EXPECT_EQ(parse_decimal(text, d), length_fault::out_of_range) << text;
    }
}

// A tree as read: each node in post-order as label{comments}:length, with
// /children after an internal node; then the leading comments.
std::string summary(const tree& t) {
    std::string out;
    for (node_ref n : t.post_order()) {
        const node& v = t.nodes[n];
        out += t.label(n);
        const std::string comments = std::string(t.span(v.label_end, v.colon)) + std::string(t.span(v.length_end, v.end));
        if (!comments.empty()) out += "{" + comments + "}";
        if (v.has_length()) out += ":" + std::string(t.colon_comments(n)) + std::string(t.length(n));
        if (!v.is_leaf()) out += "/" + std::to_string(testing::children(t, n));
        out += ' ';
    }
    return out + "lead=" + std::string(t.span(0, t.leading));
}

TEST(StandardReader, AcceptedForms) {
    struct row {
        std::string text, summary;
    };
    const std::vector<row> rows = {
        {"((A,B)X,C)R;", "A B X/2 C R/2 lead="},
        {"(A,B,(C,D)E);", "A B C D E/2 /3 lead="},
        {" ( A ,\n B\t)\r\n R ;\n", "A B R/2 lead="},
        {"(A:0.1,B:-0.01,C:.5,D:1e-05,E:2.5E+3,F : 1 )G:+1.;",
         "A:0.1 B:-0.01 C:.5 D:1e-05 E:2.5E+3 F:1 G:+1./6 lead="},
        {"('A b''c':1,'x,(y);':2)'R';", "'A b''c':1 'x,(y);':2 'R'/2 lead="},
        {"(A[&x]:0.1[&&NHX:S=y],B [c] [d])[r]:2[s];", "A{[&x][&&NHX:S=y]}:0.1 B{[c][d]} {[r][s]}:2/2 lead="},
        {"[&R] [&x] ((B,C)90:0.5,D);", "B C 90:0.5/2 D /2 lead=[&R][&x]"},
        {"\xEF\xBB\xBF(A,B);", "A B /2 lead="},
        {"(A[a b],'B C'[]);", "A{[a b]} 'B C'{[]} /2 lead="},
        // Comments between a ":" and its number, as BEAST writes them.
        {"(A:[&rate=0.9]3.1,B[&a]: [&b] [c] 2[d])R;", "A:[&rate=0.9]3.1 B{[&a][d]}:[&b][c]2 R/2 lead="},
        {"A;", "A lead="},
        {";", " lead="},
        {"(,);", "  /2 lead="},
        {"((A)X)R;", "A X/1 R/1 lead="},
        {"(A\x01,B\xC3\xA9);", "A\x01 B\xC3\xA9 /2 lead="},
    };
    for (const row& r : rows) {
        tree t;
        EXPECT_EQ(read_one(r.text, t), "") << r.text;
        EXPECT_EQ(summary(t), r.summary) << r.text;
    }
}

TEST(StandardReader, ErrorsSayWhatAndWhere) {
    struct row {
        std::string text, error;
    };
    const std::vector<row> rows = {
        {"((A,B);", "tree 1, line 1, column 1: unbalanced parentheses: '(' not closed"},
        {"(A,(B,C)", "tree 1, line 1, column 1: unbalanced parentheses: '(' not closed"},
        {"(A,B));", "tree 1, line 1, column 6: unbalanced parentheses: ')' without '('"},
        {"(A,B)", "tree 1, line 1, column 6: tree ends without ';'"},
        {"(A,B)\n(C,D);", "tree 1, line 2, column 1: tree ends without ';' before '('"},
        {"(A,'B C);", "tree 1, line 1, column 4: unterminated quote"},
        {"(A[x,B);", "tree 1, line 1, column 3: unterminated comment"},
        {"[x (A,B);", "tree 1, line 1, column 1: unterminated comment"},
        {"(A:x,B);", "tree 1, line 1, column 4: length is not a number"},
        {"(A: ,B);", "tree 1, line 1, column 5: length is not a number"},
        {"(A:1.2.3,B);", "tree 1, line 1, column 4: length is not a number"},
        {"(A:1e99999,B);", "tree 1, line 1, column 4: length out of range"},
        // A rooting would write a length out of range: a half, or a sum.
        {"((A:1e-9999,B),C);", "tree 1, line 1, column 5: length out of range"},
        {"(A:1e-9999);", "tree 1, line 1, column 4: length out of range"},
        {"(A:9e9999,B:9e9999);", "tree 1, line 1, column 13: length out of range"},
        {"(A B,C);", "tree 1, line 1, column 4: unexpected 'B': a label with blanks must be quoted"},
        {"(A,B)C D;", "tree 1, line 1, column 8: unexpected 'D': a label with blanks must be quoted"},
        {"((A,B)C(D));", "tree 1, line 1, column 8: unexpected '('"},
        {"(A,B):1:2;", "tree 1, line 1, column 8: unexpected ':'"},
        {"(A'B',C);", "tree 1, line 1, column 3: unexpected '''"},
        {"([c]A,B);", "tree 1, line 1, column 5: unexpected 'A'"},
        {"A,B;", "tree 1, line 1, column 2: unexpected ','"},
        {"('A'\x01,B);", "tree 1, line 1, column 5: unexpected byte 0x01"},
        {"", "tree 1, line 1, column 1: no tree in the input"},
        {" \r\n\t\n", "tree 1, line 3, column 1: no tree in the input"},
        {"(A,B);\n(C,D);\n(E,F)G H;", "tree 3, line 3, column 8: unexpected 'H': a label with blanks must be quoted"},
        {"(A,B); x", "tree 2, line 1, column 9: tree ends without ';'"},
    };
    for (const row& r : rows) {
        reader in(r.text);
        tree t;
        reader::result got;
        while ((got = in.next(t)) == reader::read) {
        }
        ASSERT_EQ(got, reader::failed) << r.text;
        EXPECT_EQ(in.error().message(), r.error) << r.text;
    }
}

TEST(StandardReader, ReadsEveryTreeInTurn) {
    reader in(std::string_view("(A,B);(C,D)E;\n(\n F,\n G\n)\n;\n[&U](H,I); \n"));
    tree t;
    std::vector<std::string> texts;
    while (in.next(t) == reader::read) texts.emplace_back(t.text.view());
    EXPECT_EQ(texts, (std::vector<std::string>{"(A,B)", "(C,D)E", "(F,G)", "[&U](H,I)"}));
}

// Every tree of the input, summarised, and how the reading ended.
std::string all_of(reader& in) {
    tree t;
    std::string out;
    reader::result got;
    while ((got = in.next(t)) == reader::read) out += summary(t) + "\n";
    return out + (got == reader::end ? "end" : in.error().message());
}

// Trees whose reading a block's or a piece's end could change.
const std::vector<std::string> cut_trees = {
    "(Alpha:0.125,(B:1.5,C:2)90:0.25,'d e':1e-3)R:0;",
    "[&R] ( A [x] : 1 ,\n B:2[&y] )'R''s':3;",
    "A;",  // one leaf between big trees
    "(A:1,B:2)C D;",  // an error after the edge
    "(A:1,B:2.5.1);",
    "((((A:1,B:2)x:3,,C)y,D:4,(E,(F:.5,G:5.)z:6)):7,H);",
    // Annotations taken 16 bytes at a time, and the ones that are not.
    "(A-1:0.5,\xC3\xA9t\xC3\xA9:1,#x:.5,y:5.,abcdefghijklmn:1,abcdefgh:1234567,z:1234567890123456,w:1e5)90:1;",
    "(abcdefghijklmno:.,b);",
};

// A file is read a block at a time and the common annotations straight from
// the block: wherever a block ends in a tree, the trees and errors are the
// ones read from memory.
TEST(StandardReader, ReadsTheSameWhereverABlockEnds) {
    const std::size_t block = 1 << 16;
    const std::vector<std::string>& trees = cut_trees;
    const std::string big = "(" + std::string(block / 2, 'L') + ":1,M:2);\n";
    for (const std::string& tree_text : trees) {
        for (std::size_t edge = 0; edge <= tree_text.size(); ++edge) {
            // The first block ends `edge` bytes into the tree.
            std::string input = big + std::string(block - big.size() - edge, '\n') + tree_text + "\n" + big;
            reader from_memory{std::string_view(input)};
            std::FILE* file = std::tmpfile();
            ASSERT_NE(file, nullptr);
            ASSERT_EQ(std::fwrite(input.data(), 1, input.size(), file), input.size());
            std::fflush(file);
            std::rewind(file);
            reader from_file(fileno(file));
            EXPECT_EQ(all_of(from_file), all_of(from_memory)) << tree_text << " cut after " << edge;
            std::fclose(file);
        }
    }
}

// The plain parts of a tree are taken a piece at a time: wherever a piece
// ends, the trees and errors are the same.
TEST(StandardReader, ReadsTheSameWhereverAPieceEnds) {
    for (const std::string& tree_text : cut_trees) {
        const std::string input = tree_text + "\n" + tree_text;
        for (std::size_t piece = 1; piece <= tree_text.size(); ++piece)
            EXPECT_EQ(testing::check_pieces(input, piece), "") << tree_text;
    }
}

// Every line the mode writes for a tree.
std::string rootings_of(const std::string& text, internal_labels kind) {
    tree t;
    const std::string error = read_one(text, t);
    if (!error.empty()) return error;
    rootings r(t, kind);
    std::string out;
    for (node_ref n : r.chosen()) {
        r.write(n, out);
        out += '\n';
    }
    return out;
}

TEST(StandardRootings, OnePerBranchWithLengthsAndSupportsMoved) {
    constexpr auto names = internal_labels::names, supports = internal_labels::supports;
    struct row {
        std::string text;
        internal_labels kind;
        std::string lines;
    };
    const std::vector<row> rows = {
        // Lengths move with their branches; the root's two branches are one.
        {"((A:1,B:2)X:3,(C:4,D:5)Y:6)R;", names,
         "(A:0.5,(B:2,(C:4,D:5)Y:9)X:0.5)R;\n"
         "(B:1,(A:1,(C:4,D:5)Y:9)X:1)R;\n"
         "((A:1,B:2)X:4.5,(C:4,D:5)Y:4.5)R;\n"
         "(C:2,(D:5,(A:1,B:2)X:9)Y:2)R;\n"
         "(D:2.5,(C:4,(A:1,B:2)X:9)Y:2.5)R;\n"},
        // Supports stay with their splits; the root of three is a node.
        {"((C:1.0,D:1.0)10:0.001,(A:1.0,(B:1.0,X:1.0)30:0.01)20:0.1,E:1.0)0:0.0;", supports,
         "(C:0.5,(D:1.0,((A:1.0,(B:1.0,X:1.0)30:0.01)20:0.1,E:1.0)10:0.001):0.5)0:0.0;\n"
         "(D:0.5,(C:1.0,((A:1.0,(B:1.0,X:1.0)30:0.01)20:0.1,E:1.0)10:0.001):0.5)0:0.0;\n"
         "((C:1.0,D:1.0)10:0.0005,((A:1.0,(B:1.0,X:1.0)30:0.01)20:0.1,E:1.0)10:0.0005)0:0.0;\n"
         "(A:0.5,((B:1.0,X:1.0)30:0.01,((C:1.0,D:1.0)10:0.001,E:1.0)20:0.1):0.5)0:0.0;\n"
         "(B:0.5,(X:1.0,(A:1.0,((C:1.0,D:1.0)10:0.001,E:1.0)20:0.1)30:0.01):0.5)0:0.0;\n"
         "(X:0.5,(B:1.0,(A:1.0,((C:1.0,D:1.0)10:0.001,E:1.0)20:0.1)30:0.01):0.5)0:0.0;\n"
         "((B:1.0,X:1.0)30:0.005,(A:1.0,((C:1.0,D:1.0)10:0.001,E:1.0)20:0.1)30:0.005)0:0.0;\n"
         "((A:1.0,(B:1.0,X:1.0)30:0.01)20:0.05,((C:1.0,D:1.0)10:0.001,E:1.0)20:0.05)0:0.0;\n"
         "(E:0.5,((C:1.0,D:1.0)10:0.001,(A:1.0,(B:1.0,X:1.0)30:0.01)20:0.1):0.5)0:0.0;\n"},
        // As names, the same labels stay with their nodes.
        {"((A,B)X,C,D)R;", names, "(A,(B,(C,D))X)R;\n(B,(A,(C,D))X)R;\n((A,B)X,(C,D))R;\n(C,((A,B)X,D))R;\n(D,((A,B)X,C))R;\n"},
        // The merged branch: one length missing, or both; its support.
        {"((A,B)80:1,(C,D)90)R;", supports,
         "(A,(B,(C,D)80:1))R;\n(B,(A,(C,D)80:1))R;\n((A,B)80:0.5,(C,D)80:0.5)R;\n"
         "(C,(D,(A,B)80:1))R;\n(D,(C,(A,B)80:1))R;\n"},
        {"((A,B),(C,D)90)R;", supports, "(A,(B,(C,D)90))R;\n(B,(A,(C,D)90))R;\n((A,B)90,(C,D)90)R;\n"
                                         "(C,(D,(A,B)90))R;\n(D,(C,(A,B)90))R;\n"},
        // A leaf's branch shows no support: a leaf's label is its name.
        {"(A:1,(B,C)95:2);", supports, "(A:1.5,(B,C):1.5);\n(B,(C,A:3));\n(C,(B,A:3));\n"},
        // Comments stay with their nodes, the root's and the leading ones too.
        {"[&R] ((A[a]:1[b],B)X[x]:2,C[c])R[r]:3[s];", names,
         "[&R](A[a]:0.5[b],(B,C[c]:2)X[x]:0.5)R[r]:3[s];\n"
         "[&R](B,(A[a]:1[b],C[c]:2)X[x])R[r]:3[s];\n"
         "[&R]((A[a]:1[b],B)X[x]:1,C[c]:1)R[r]:3[s];\n"},
        // Quoted labels as read; a root of one child becomes a leaf.
        {"(('A b':2,'c''d')X)R;", names, "('A b':1,('c''d',)X:1)R;\n('c''d',('A b':2,)X)R;\n(('A b':2,'c''d')X,)R;\n"},
        {"(((A,B)X:1)Y:2)R;", supports,
         "(A,(B,(:2)X:1))R;\n(B,(A,(:2)X:1))R;\n((A,B)X:0.5,(:2)X:0.5)R;\n(((A,B)X:1):1,:1)R;\n"},
        // Nothing to root: a single leaf.
        {"A:1;", names, ""},
    };
    for (const row& r : rows) EXPECT_EQ(rootings_of(r.text, r.kind), r.lines) << r.text;
}

TEST(StandardRootings, NestingAMillionDeep) {
    // A caterpillar: (((L0:1,L1:1):1,L2:1):1, ... ,Ln:1);
    const std::size_t depth = 1000000;
    std::string text(depth, '(');
    text += "L0:1,L1:1)";
    for (std::size_t i = 2; i <= depth; ++i) text += ":1,L" + std::to_string(i) + ":1)";
    text += ';';
    tree t;
    ASSERT_EQ(read_one(text, t), "");
    rootings r(t, internal_labels::names);
    ASSERT_EQ(r.chosen().size(), 2 * (depth + 1) - 3);
    std::string line;
    r.write(r.chosen().front(), line);  // L0: the whole caterpillar turns
    EXPECT_EQ(line.substr(0, 30), "(L0:0.5,(L1:1,(L2:1,(L3:1,(L4:");
    EXPECT_NE(line.find(",L1000000:2):1):1)"), std::string::npos);
    EXPECT_EQ(line.substr(line.size() - 7), "):0.5);");
    tree back;
    EXPECT_EQ(read_one(line, back), "");
    EXPECT_EQ(back.nodes.size(), t.nodes.size());
}

// Files of many trees, on as many threads, batched every way: the same
// bytes as one tree at a time, and the same error after the same lines.
TEST(StandardWriting, EveryWayWritesTheSame) {
    std::string big = "(";
    for (int i = 0; i < 60; ++i) big += "(A" + std::to_string(i) + ":0.5,B" + std::to_string(i) + ":1.25)9:3,";
    big += "C);";
    struct row {
        std::string input;
        bool newick;
    };
    const std::vector<row> rows = {
        // Small trees, a tree of one leaf and of none among big ones, lines
        // longer than a block.
        {"(A:1,B:2)9:1;\nA;\n" + big + "\n(A,(B,C)5);\n();\n" + big + big + "((A,B),(C,D))7;\n", false},
        // A bad tree after good ones: their lines, then the error.
        {"(A,(B,C)5);\n" + big + "((A,B)3,(C,D)4);\n(A,B;\n(C,D);\n", false},
        {"(A,B);" + big + "(A,B", false},
        // NEXUS: the text between the trees copied, each line a TREE
        // command, or Newick with the leaves named.
        {"#NEXUS\nbegin taxa;\nend;\nbegin trees;\ntranslate 1 Aa, 2 Bb, 3 Cc;\ntree one = [&U] ((1,2)8,3);\n[x]\n"
         "tree * 'two t' = (1:1,(2:2,3:3)7:0.5);\nend;\nbegin trees;\ntree three = " + big + "\nend;\n[after]\n",
         false},
        {"#NEXUS\nbegin trees;\ntranslate 1 Aa, 2 Bb, 3 Cc;\ntree one = ((1,2)8,3);\ntree two = (1,(2,3)7);\nend;\n",
         true},
        {"#NEXUS\nbegin trees;\ntree one = ((A,B)8,C);\ntree two = (A,(B,C)7;\nend;\n", false},
    };
    for (const row& r : rows)
        for (std::size_t seed = 0; seed < 30; ++seed)
            for (bool from_file : {false, true})
                ASSERT_EQ(testing::check_every_rooting(r.input, internal_labels::supports, r.newick, seed, from_file), "")
                    << r.input;
}

// Pieces written into a pipe whose reader is slow, the writes cut short by
// a signal after some of their bytes: the rest follows, in order.
TEST(StandardWriting, PiecesGoOutWholeThroughInterruptedWrites) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fcntl(fds[1], F_SETPIPE_SZ, 4096);
    struct sigaction quiet {}, was{};
    quiet.sa_handler = [](int) {};  // no SA_RESTART: a write cut short says what it wrote
    sigaction(SIGUSR1, &quiet, &was);
    std::string text;
    for (int i = 0; i < 10000; ++i) text += "(L" + std::to_string(i) + ",M);\n";
    std::vector<iovec> pieces;
    for (std::size_t at = 0, n = 1; at < text.size(); at += n, n = n * 7 % 5000 + 1)
        pieces.push_back({text.data() + at, std::min(n, text.size() - at)});
    std::string got;
    std::thread reader([&] {
        char chunk[1000];
        for (ssize_t n; (n = read(fds[0], chunk, sizeof chunk)) > 0;) {
            got.append(chunk, static_cast<std::size_t>(n));
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    const pthread_t writer = pthread_self();
    std::atomic<bool> done{false};
    std::thread signaller([&] {
        while (!done.load()) {
            pthread_kill(writer, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    std::FILE* f = fdopen(fds[1], "w");
    {
        line_writer out(f);
        EXPECT_TRUE(out.write_pieces(pieces.data(), pieces.size()));
    }
    done.store(true);
    signaller.join();
    std::fclose(f);
    reader.join();
    close(fds[0]);
    sigaction(SIGUSR1, &was, nullptr);
    EXPECT_EQ(got, text);
}

}  // namespace
}  // namespace quorlen::standard
