// Every rooting of a tree as read, one for each branch of the unrooted tree,
// each written from the tree as read: the nodes between the chosen branch
// and the old root are written afresh, every other subtree is copied whole.
#pragma once

#include <cstddef>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/io.h"
#include "reading/newick.h"

namespace quorlen::standard {

// What an internal node's label is: a name, which stays with its node, or the
// support of the branch above it, which moves with that branch.
enum class internal_labels { names, supports };

// What the rootings of a tree work in, kept from one tree to the next: a
// file of many small trees then asks the system for no memory per tree.
struct rooting_space {
    // The chosen node and the nodes above it up to the old root (or to the
    // old root's child, where the root is dissolved).
    pod_array<node_ref> path;
    // After prepare_all, for each node x but the root, the text that
    // beyond(x) writes: kept[kept_at[x].from, kept_at[x].to). Empty when
    // not kept.
    struct kept_span {
        std::uint32_t from, to;
    };
    byte_buffer kept;
    pod_array<kept_span> kept_at;
    byte_buffer scratch;  // room for a rooting, for write to a string
};

class rootings {
public:
    // Works in a space of its own, or in one lent for the rootings' life.
    rootings(const tree& t, internal_labels kind);
    rootings(const tree& t, internal_labels kind, rooting_space& space);

    // The nodes whose branch takes the root, in the order written: every node
    // but the root in post-order, less a two-child root's second child, whose
    // branch is its first child's.
    class chosen_nodes {
    public:
        class iterator : public node_iterator_types {
        public:
            iterator(tree::post_order_walk::iterator at, node_ref skipped) : at(at), skipped(skipped) { pass(); }
            const node_ref& operator*() const { return *at; }
            iterator& operator++() {
                ++at;
                pass();
                return *this;
            }
            bool operator==(const iterator& o) const { return at == o.at; }
            bool operator!=(const iterator& o) const { return at != o.at; }

        private:
            // Past the skipped node, and past the root, which ends the walk.
            void pass() {
                if (!at.done() && *at == skipped) ++at;
                if (!at.done() && *at == 0) ++at;
            }
            tree::post_order_walk::iterator at;  // the end, or neither the root nor skipped
            node_ref skipped;
        };
        chosen_nodes(const tree& t, node_ref skipped) : t(t), skipped(skipped) {}
        iterator begin() const { return iterator(t.post_order().begin(), skipped); }
        iterator end() const { return iterator(t.post_order().end(), skipped); }
        std::size_t size() const { return t.nodes.size() - 1 - (skipped != none); }
        node_ref front() const { return *begin(); }

    private:
        const tree& t;
        node_ref skipped;  // none, or a node but the root
    };
    chosen_nodes chosen() const { return chosen_nodes(t, second); }

    // Every rooting is to be written: for a small tree, the way beyond each
    // node is kept, so that a line is a few copies.
    void prepare_all();
    // The most bytes a rooting takes, and 16 more that writing it may use.
    std::size_t longest() const;
    // Writes the tree rooted in the middle of the branch above n, with its
    // ";", to p, which has room for longest() bytes; returns its end.
    char* write(node_ref n, char* p);
    // The same through a cursor, for a line too long to gather whole.
    line_cursor write(node_ref n, line_cursor p);
    // The same, appended to out.
    void write(node_ref n, std::string& out);
    // The tree rooted at another point of the branch above n: the root's
    // two children, n's side first, take the lengths first and second, each
    // a number without its ":", or empty for none; neither longer than
    // 2 * max_exponent + 64.
    char* write(node_ref n, std::string_view first, std::string_view second, char* p);
    line_cursor write(node_ref n, std::string_view first, std::string_view second, line_cursor p);
    void write(node_ref n, std::string_view first, std::string_view second, std::string& out);
    // The length of the branch above n, without its ":", or empty: as
    // read, or a two-child root's merged branch.
    std::string_view branch_length(node_ref n) const;

private:
    void start();
    std::size_t longest_beyond() const;
    std::string_view kept_beyond(node_ref x) const;
    bool plain_colon(node_ref n) const;
    bool is_label(node_ref n, std::string_view label) const;
    // The writing, to a char* with room enough or to a line_cursor.
    template <class Out>
    Out write_middle(node_ref n, Out p);
    template <class Out>
    [[gnu::flatten]] Out write_at(node_ref n, std::string_view first, std::string_view second, Out p);
    char* write_plain(node_ref n, std::string_view first, std::string_view second, char* p) const;
    template <class Out>
    Out annotate(node_ref n, std::string_view label, std::string_view length, Out p) const;
    template <class Out>
    Out annotate_length(node_ref n, std::string_view length, Out p) const;
    template <class Out>
    Out write_node(node_ref n, std::string_view label, std::string_view length, Out p) const;
    template <class Out>
    Out open_children_but(node_ref n, node_ref but, bool comma, Out p) const;
    template <class Out>
    Out up(node_ref x, std::string_view length, Out p) const;
    template <class Out>
    Out down(node_ref x, std::string_view length, std::string_view support, Out p) const;
    template <class Out>
    Out down_beyond(node_ref x, Out p) const;
    template <class Out>
    Out beyond(node_ref x, Out p);
    std::string_view support_of(node_ref n) const;

    const tree& t;
    const bool supports;
    // A root with two children is no node of the unrooted tree: its two
    // branches, to first and second, are one, of length merged.
    bool dissolved = false;
    node_ref first = none, second = none;
    std::string merged, merged_half;  // the length without its ":", or empty
    std::string_view merged_support;
    std::string half_length;  // the chosen branch's half, without its ":", or empty
    std::unique_ptr<rooting_space> own;  // null when lent one
    rooting_space& space;
};

}  // namespace quorlen::standard
