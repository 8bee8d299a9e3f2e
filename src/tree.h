// A rooted binary tree read from one line of Newick text, and its re-rooting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace quorlen {

// Index of a node in its tree's arena.
using node_ref = std::uint32_t;
inline constexpr node_ref none = UINT32_MAX;

// One vertex. Nodes live in the arena of the tree that made them; every link
// is an index into that arena and owns nothing.
struct node {
    const char* data_begin = nullptr;  // label: a view into the owning tree's text
    std::uint32_t data_size = 0;
    // None iff the node is the current root or a former root. For an internal
    // node reachable from the root: its neighbour towards the root. For a leaf:
    // the last value written to it, which nothing reads.
    node_ref parent = none;
    node_ref left = none;   // both set iff internal; none in a leaf
    node_ref right = none;

    bool is_leaf() const { return left == none; }
    std::string_view get_data() const { return {data_begin, data_size}; }
};

class tree {
public:
    // Longest text a tree takes: node counts and label sizes must fit a node_ref.
    static constexpr std::size_t max_text = 0xFFFFFFF0u;

    // Removes blanks from the line and reads it. Never fails: the end of the
    // text reads as ";", and text past max_text is cut off.
    explicit tree(std::string line);
    tree(const tree&) = delete;  // nodes point into this tree's text
    tree& operator=(const tree&) = delete;

    node_ref get_root() const { return root; }
    const node& operator[](node_ref n) const { return all_nodes[n]; }
    std::size_t size() const { return all_nodes.size(); }
    std::string_view get_data(node_ref n) const { return all_nodes[n].get_data(); }

    // The internal nodes in arena order: post-order, root last, before any re-rooting.
    std::vector<node_ref> get_all_internalNodes() const;

    // Appends the Newick text of n's subtree to out, with ";" after the current
    // root. A leaf writes its label.
    void to_newick(node_ref n, std::string& out) const;

    // Moves the root onto the branch above n and writes n's label and the new
    // tree to out, a line each, one write and a flush per line. Given none, it
    // writes "NULL Pointer". Given a node with no branch above it that can take
    // the root (a leaf, the current root, a former root, a node of no tree),
    // it writes nothing and changes nothing. False iff a write failed.
    bool produce(node_ref n, std::FILE* out);

    // Makes `from` the parent of x, turning x's links where x lies on the path
    // between the new root and the old one, and goes on below x.
    void restoreConnectivity(node_ref x, node_ref from);

private:
    char at_cursor() const;
    node_ref add_node(std::string_view label);
    node_ref make_node();
    node_ref parse_tree();

    std::size_t position = 0;  // read cursor into text; only used while reading
    node_ref root = none;      // the current root; set for every tree once read
    std::string text;          // the line, blanks removed; never changes once read
    // The arena and registry: every node in order of creation, the reader's
    // first (post-order), then the roots made by re-rooting.
    std::vector<node> all_nodes;
    std::string line;  // output buffer, reused from line to line
};

}  // namespace quorlen
