// Every rooting of a tree as read, one for each branch of the unrooted tree,
// each written from the tree as read: the nodes between the chosen branch
// and the old root are written afresh, every other subtree is copied whole.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "standard/newick.h"

namespace quorlen::standard {

// What an internal node's label is: a name, which stays with its node, or the
// support of the branch above it, which moves with that branch.
enum class internal_labels { names, supports };

class rootings {
public:
    rootings(const tree& t, internal_labels kind);

    // The nodes whose branch takes the root, in the order written: every node
    // but the root in post-order, less a two-child root's second child, whose
    // branch is its first child's.
    const pod_array<node_ref>& chosen() const { return nodes; }

    // The most bytes a rooting takes.
    std::size_t longest() const;
    // Writes the tree rooted in the middle of the branch above n, with its
    // ";", to p, which has room for longest() bytes; returns its end.
    char* write(node_ref n, char* p);
    // The same, appended to out.
    void write(node_ref n, std::string& out);
    // The tree rooted at another point of the branch above n: the root's
    // two children, n's side first, take the lengths first and second, each
    // ":" and a length, or empty; neither longer than 2 * max_exponent + 64.
    char* write(node_ref n, std::string_view first, std::string_view second, char* p);
    void write(node_ref n, std::string_view first, std::string_view second, std::string& out);
    // The length of the branch above n, ":" and the length or empty: as
    // read, or a two-child root's merged branch.
    std::string_view branch_length(node_ref n) const;

private:
    char* annotate(node_ref n, std::string_view label, std::string_view length, char* p) const;
    char* write_node(node_ref n, std::string_view label, std::string_view length, char* p) const;
    char* open_children_but(node_ref n, node_ref but, char* p) const;
    std::string_view support_of(node_ref n) const;

    const tree& t;
    const bool supports;
    pod_array<node_ref> nodes;
    // A root with two children is no node of the unrooted tree: its two
    // branches, to first and second, are one, of length merged.
    bool dissolved = false;
    node_ref first = none, second = none;
    std::string merged, merged_half;  // ":" and the length, or empty
    std::string_view merged_support;
    std::string half_length;  // the chosen branch's half, ":" and the length, or empty
    // The chosen node and the nodes above it up to the old root (or to the
    // old root's child, where the root is dissolved).
    pod_array<node_ref> path;
    std::unique_ptr<char[]> scratch;  // room for a rooting, for write to a string
};

}  // namespace quorlen::standard
