// Helpers shared by the tests and the fuzz target: invariant checks and
// captured output.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "default_mode/tree.h"

namespace quorlen::testing {

// Empty when the tree is sound after `rerootings` calls of produce that moved
// the root: the root has no parent; every internal node reachable from it has
// two children, is reached once, and is the parent of each internal child;
// every leaf is reached; what is not reached are the former roots, internal
// and parentless, one per re-rooting. Otherwise the first fault found.
inline std::string check_tree(const tree& t, std::size_t rerootings) {
    const node_ref root = t.get_root();
    if (root == none || root >= t.size()) return "no root";
    if (t[root].parent != none) return "root has a parent";
    std::vector<char> reached(t.size(), 0);
    std::vector<node_ref> todo{root};
    while (!todo.empty()) {
        const node_ref n = todo.back();
        todo.pop_back();
        if (n >= t.size()) return "link out of the arena";
        if (reached[n]) return "node " + std::to_string(n) + " reached twice";
        reached[n] = 1;
        if (t[n].is_leaf()) {
            if (t[n].right != none) return "leaf " + std::to_string(n) + " has a right child";
            continue;
        }
        for (node_ref c : {t[n].left, t[n].right}) {
            if (c == none) return "internal node " + std::to_string(n) + " lacks a child";
            if (c < t.size() && !t[c].is_leaf() && t[c].parent != n)
                return "node " + std::to_string(c) + " does not point back at its parent";
            todo.push_back(c);
        }
    }
    std::size_t detached = 0;
    for (node_ref n = 0; n < t.size(); ++n) {
        if (reached[n]) continue;
        if (t[n].is_leaf()) return "leaf " + std::to_string(n) + " not reached";
        if (t[n].parent != none) return "unreached node " + std::to_string(n) + " has a parent";
        ++detached;
    }
    if (detached != rerootings)
        return std::to_string(detached) + " former roots, expected " + std::to_string(rerootings);
    return "";
}

inline std::string newick(const tree& t) {
    std::string out;
    t.to_newick(t.get_root(), out);
    return out;
}

// What produce writes for n, caught in one memory stream reused from call
// to call; "<write failed>" if produce reports a failed write.
inline std::string produce_output(tree& t, node_ref n) {
    static char* buffer = nullptr;
    static std::size_t size = 0;
    static std::FILE* out = open_memstream(&buffer, &size);
    if (!out) return "<no memory stream>";
    std::fseek(out, 0, SEEK_SET);
    if (!t.produce(n, out)) return "<write failed>";
    std::fflush(out);  // buffer and size are current after a flush
    return std::string(buffer, static_cast<std::size_t>(std::ftell(out)));
}

// A second, plain re-rooting to compare with: a copy of a tree's links as
// read, re-rooted by the literal rules, whole subtrees walked by recursion.
// For small trees only.
struct model {
    std::vector<node_ref> left, right, parent;
    std::vector<std::string> label;
    node_ref root;

    explicit model(const tree& t) : root(t.get_root()) {
        for (node_ref n = 0; n < t.size(); ++n) {
            left.push_back(t[n].left);
            right.push_back(t[n].right);
            parent.push_back(t[n].parent);
            label.emplace_back(t.get_data(n));
        }
    }
    bool leaf(node_ref n) const { return left[n] == none; }

    void restore(node_ref x, node_ref f) {
        if (leaf(x)) return;
        const node_ref l = left[x], r = right[x], p = parent[x];
        if (l == f || l == left[f]) {
            right[x] = p;
            left[x] = r;
        } else if (r == f || r == right[f]) {
            right[x] = l;
            left[x] = p;
        }
        parent[x] = f;
        restore(left[x], x);
        restore(right[x], x);
    }

    void write(node_ref n, std::string& out) const {
        out += '(';
        leaf(left[n]) ? void(out += label[left[n]]) : write(left[n], out);
        out += ',';
        leaf(right[n]) ? void(out += label[right[n]]) : write(right[n], out);
        out += ')' + label[n];
        if (n == root) out += ';';
    }

    std::string produce(node_ref n) {
        std::string out = label[n] + "\n";
        const node_ref old = root;
        parent[left[old]] = right[old];
        parent[right[old]] = left[old];
        root = static_cast<node_ref>(left.size());
        label.push_back(label[old]);
        parent.push_back(none);
        const node_ref p = parent[n];
        left.push_back(right[p] == n ? p : n);
        right.push_back(right[p] == n ? n : p);
        restore(left[root], root);
        restore(right[root], root);
        write(root, out);
        return out + "\n";
    }
};

}  // namespace quorlen::testing
