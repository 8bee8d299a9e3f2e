// Fuzz target: arbitrary bytes as a tree file's first line, run as the
// program runs it (read, re-root above every internal node labelled unlike
// the root, write), with the tree checked after every step.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "default_mode/tree.h"
#include "tree_checks.h"

namespace {

using quorlen::node_ref;
using quorlen::tree;
using quorlen::testing::check_tree;
using quorlen::testing::newick;
using quorlen::testing::produce_output;

void require(bool ok, const std::string& what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz_tree: %s\n", what.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The program's first line: up to the first line feed, cut at a NUL byte.
    std::string line(reinterpret_cast<const char*>(data), size);
    line.resize(std::min(line.find('\n'), line.size()));
    line.resize(std::min(line.find('\0'), line.size()));

    tree t(line);
    require(check_tree(t, 0).empty(), "as read: " + check_tree(t, 0));
    const node_ref first_root = t.get_root();
    const std::string root_label(t.get_data(first_root));
    quorlen::testing::model literal(t);
    std::size_t moves = 0;
    for (node_ref n : t.get_all_internalNodes()) {
        if (t.get_data(n) == root_label) continue;
        const std::string out = produce_output(t, n);
        ++moves;
        require(out == literal.produce(n), "differs from the plain re-rooting");
        const std::string fault = check_tree(t, moves);
        require(fault.empty(), "after re-rooting " + std::to_string(moves) + ": " + fault);
        const std::string text = newick(t);
        require(out == std::string(t.get_data(n)) + "\n" + text + "\n", "printed text differs from the tree");
        const quorlen::node& root = t[t.get_root()];
        require(root.left == n || root.right == n, "the root is not above the chosen node");
        tree again(text);
        require(newick(again) == text, "the text does not read back into the same tree");
        require(check_tree(again, 0).empty(), "read back: " + check_tree(again, 0));
    }
    // Nodes with no branch above them, and none, leave the tree as it is.
    const std::string before = newick(t);
    require(produce_output(t, quorlen::none) == "NULL Pointer\n", "none did not write NULL Pointer");
    for (node_ref n : {t.get_root(), first_root, node_ref{0}})
        require(produce_output(t, n).empty(), "a node without a branch above it wrote output");
    require(newick(t) == before && check_tree(t, moves).empty(), "a node without a branch above it changed the tree");
    return 0;
}
