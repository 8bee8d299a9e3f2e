// Random trees with lengths, supports, comments and quoted labels, rooted on
// every branch: each rooting must stand for the tree as read, branch for
// branch, with the same leaf-to-leaf distances, and read back.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "random_tree.h"
#include "standard_checks.h"

namespace quorlen::standard {
namespace {

TEST(StandardProperty, EveryRootingKeepsTheUnrootedTree) {
    std::mt19937 rng(20261207);
    for (int round = 0; round < 60; ++round) {
        const std::size_t leaves = std::uniform_int_distribution<std::size_t>(3, round < 55 ? 40 : 300)(rng);
        const std::string text = testing::random_tree(leaves, rng);
        tree t;
        ASSERT_EQ(testing::read_one(text, t), "") << text;
        for (internal_labels kind : {internal_labels::names, internal_labels::supports})
            ASSERT_EQ(testing::check_rootings(t, kind, leaves <= 40 && kind == internal_labels::names), "") << text;
    }
}

// A file of random trees bigger than the reader's block, read from a file:
// the reads come in the middle of batches, and the lines of the trees read
// must be out before each.
TEST(StandardProperty, ManyTreesWrittenAsOneByOne) {
    std::mt19937 rng(20261209);
    std::string file;
    while (file.size() < 150000) {
        const std::size_t leaves = std::uniform_int_distribution<std::size_t>(1, 60)(rng);
        file += leaves == 1 ? "L0;\n" : testing::random_tree(leaves, rng) + "\n";
    }
    for (std::size_t seed = 0; seed < 8; ++seed)
        for (internal_labels kind : {internal_labels::names, internal_labels::supports})
            ASSERT_EQ(testing::check_every_rooting(file, kind, false, seed, true), "") << seed;
}

}  // namespace
}  // namespace quorlen::standard
