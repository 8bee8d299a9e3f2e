// Random trees, re-rooted above every internal node: each rooting must print
// what the plain rules print, keep the leaves and the unrooted splits of the
// tree read, and read back into the same tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "default_mode/tree.h"
#include "tree_checks.h"

namespace quorlen {
namespace {

using testing::check_tree;
using testing::newick;
using testing::produce_output;

// A line for a random tree of `leaves` leaves, made by joining random pairs;
// leaves are L0, L1, ..., internal nodes I0, I1, ..., the root R.
std::string random_line(std::size_t leaves, std::mt19937& rng) {
    std::vector<std::string> parts;
    for (std::size_t i = 0; i < leaves; ++i) parts.push_back("L" + std::to_string(i));
    for (std::size_t joined = 0; parts.size() > 1; ++joined) {
        std::swap(parts[std::uniform_int_distribution<std::size_t>(0, parts.size() - 1)(rng)], parts.back());
        std::string b = std::move(parts.back());
        parts.pop_back();
        std::swap(parts[std::uniform_int_distribution<std::size_t>(0, parts.size() - 1)(rng)], parts.back());
        std::string a = std::move(parts.back());
        parts.pop_back();
        parts.push_back("(" + a + "," + b + ")" + (parts.empty() ? std::string("R") : "I" + std::to_string(joined)));
    }
    return parts.front() + ";";
}

using split = std::vector<bool>;  // leaves on one side, indexed by leaf number

// The leaves reachable from the root, and every split that an edge between
// two internal nodes makes, each given by the side without leaf 0.
void leaves_and_splits(const tree& t, std::set<std::string>& leaves, std::set<split>& splits,
                       std::size_t leaf_count) {
    std::vector<node_ref> order{t.get_root()};
    for (std::size_t i = 0; i < order.size(); ++i)
        if (!t[order[i]].is_leaf()) order.insert(order.end(), {t[order[i]].left, t[order[i]].right});
    std::vector<split> below(t.size());
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        const node& n = t[*it];
        split& side = below[*it];
        if (n.is_leaf()) {
            leaves.insert(std::string(t.get_data(*it)));
            side.assign(leaf_count, false);
            side[std::stoul(std::string(t.get_data(*it).substr(1)))] = true;
            continue;
        }
        side = below[n.left];
        for (std::size_t i = 0; i < leaf_count; ++i)
            if (below[n.right][i]) side[i] = true;
        if (*it == t.get_root()) continue;
        split s = side;
        if (s[0]) s.flip();
        const auto count = std::count(s.begin(), s.end(), true);
        if (count > 1 && count < static_cast<long>(leaf_count) - 1) splits.insert(s);
    }
}

TEST(Property, EveryRootingKeepsLeavesAndSplits) {
    std::mt19937 rng(20261207);
    for (int round = 0; round < 12; ++round) {
        const std::size_t leaf_count = std::uniform_int_distribution<std::size_t>(4, 400)(rng);
        const std::string line = random_line(leaf_count, rng);
        tree t(line);
        std::set<std::string> leaves;
        std::set<split> splits;
        leaves_and_splits(t, leaves, splits, leaf_count);
        ASSERT_EQ(leaves.size(), leaf_count);
        ASSERT_EQ(splits.size(), leaf_count - 3);

        testing::model literal(t);
        std::size_t moves = 0;
        for (node_ref n : t.get_all_internalNodes()) {
            if (t.get_data(n) == "R") continue;
            const std::string out = produce_output(t, n);
            ++moves;
            ASSERT_EQ(out, literal.produce(n)) << line;
            ASSERT_EQ(check_tree(t, moves), "") << line;
            const node& root = t[t.get_root()];
            EXPECT_TRUE(root.left == n || root.right == n) << "the root is not above " << t.get_data(n);

            std::set<std::string> now_leaves;
            std::set<split> now_splits;
            leaves_and_splits(t, now_leaves, now_splits, leaf_count);
            EXPECT_EQ(now_leaves, leaves);
            EXPECT_EQ(now_splits, splits) << "after re-rooting above " << t.get_data(n);

            const std::string text = newick(t);
            EXPECT_EQ(out, std::string(t.get_data(n)) + "\n" + text + "\n");
            tree again(text);
            EXPECT_EQ(newick(again), text);
            EXPECT_EQ(again.size(), 2 * leaf_count - 1);
        }
        EXPECT_EQ(moves, leaf_count - 2);
    }
}

}  // namespace
}  // namespace quorlen
