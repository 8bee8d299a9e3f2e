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
    // None iff the node is the current root or a former root. For an internal
    // node reachable from the root: its neighbour towards the root. For a leaf:
    // the last value written to it, which nothing reads.
    node_ref parent = none;
    node_ref left = none;   // both set iff internal; none in a leaf
    node_ref right = none;
    // Where the label starts in the tree's text; it runs to the next ",", ")"
    // or ";", or to the end of the text.
    std::uint32_t label_at = 0;
    // Length of the subtree's Newick text, without the root's ";". Kept
    // current for every node reachable from the root.
    std::uint32_t size = 0;

    bool is_leaf() const { return left == none; }
};

class tree {
public:
    // Longest text a tree takes, such that every written text fits 32 bits.
    static constexpr std::size_t max_text = 0x30000000u;

    // Removes blanks from the line and reads it. Never fails: the end of the
    // text reads as ";", and text past max_text is cut off.
    explicit tree(std::string line);

    node_ref get_root() const { return root; }
    const node& operator[](node_ref n) const { return all_nodes[n]; }
    std::size_t size() const { return all_nodes.size(); }
    std::string_view get_data(node_ref n) const;

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

private:
    char at_cursor() const;
    std::size_t label_end(std::size_t from) const;
    std::uint32_t label_size(node_ref n) const;
    std::uint32_t group_size(node_ref g, std::uint32_t label) const;
    node_ref make_node();
    node_ref parse_tree();
    // A subtree that keeps its text through a re-rooting, and where that
    // text stands in the printed line.
    struct piece {
        node_ref n;
        std::uint32_t at;
    };
    node_ref find_pieces(node_ref n, std::vector<node_ref>& path, std::vector<piece>& pieces) const;
    void write_member(node_ref m, std::string& out) const;
    void write_moved(node_ref fresh, const std::vector<node_ref>& path, const std::vector<piece>& pieces);
    // Makes `from` the parent of x and turns the links of x, and of the nodes
    // above it in the old rooting, so that each points towards `from`.
    void restoreConnectivity(node_ref x, node_ref from);

    std::size_t position = 0;  // read cursor into text; only used while reading
    node_ref root = none;      // the current root; set for every tree once read
    std::string text;          // the line, blanks removed; never changes once read
    // The arena and registry: every node in order of creation, the reader's
    // first (post-order), then the roots made by re-rooting.
    std::vector<node> all_nodes;

    std::string printed;  // the current rooting's text, as last printed; empty before
    std::string writing;  // the next rooting's text, being built
    std::string label_line;
};

}  // namespace quorlen
