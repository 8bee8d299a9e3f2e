#include "tree.h"

#include <algorithm>
#include <utility>

namespace quorlen {

namespace {

bool ends_label(char c) { return c == ',' || c == ')' || c == ';'; }

// Writes s as one block and flushes it.
bool put(const std::string& s, std::FILE* out) {
    return std::fwrite(s.data(), 1, s.size(), out) == s.size() && std::fflush(out) == 0;
}

}  // namespace

tree::tree(std::string line_text) : text(std::move(line_text)) {
    text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t'; }),
               text.end());
    if (text.size() > max_text) text.resize(max_text);
    // Every label but those that meet the ";" consumes a "," or ")": a
    // well-formed tree has exactly one node per such character, plus the root.
    // The slack keeps the first re-rootings from reallocating the arena.
    std::size_t delimiters = 0;
    for (char c : text) delimiters += (c == ',' || c == ')');
    all_nodes.reserve(delimiters + delimiters / 16 + 64);
    parse_tree();
}

// The character under the cursor; the end of the text reads as ";", so no
// scan ever runs past it.
char tree::at_cursor() const { return position < text.size() ? text[position] : ';'; }

node_ref tree::add_node(std::string_view label) {
    node_ref n = static_cast<node_ref>(all_nodes.size());
    node fresh;
    fresh.data_begin = label.data();
    fresh.data_size = static_cast<std::uint32_t>(label.size());
    all_nodes.push_back(fresh);
    return n;
}

// Reads a label up to the next ",", ")" or ";" and consumes that "," or ")".
node_ref tree::make_node() {
    const std::size_t begin = position;
    while (position < text.size() && !ends_label(text[position])) ++position;
    node_ref n = add_node(std::string_view(text).substr(begin, position - begin));
    if (at_cursor() != ';') ++position;
    return n;
}

// Reads one group: first member, second member, the group's own label. A
// member that opens with "(" is a nested group, read by the same loop: each
// open group keeps its first member on `open`, none while that member is still
// being read. A nested first member followed by ";" ends its group at once,
// which hands on the current root instead of a node of its own.
node_ref tree::parse_tree() {
    std::vector<node_ref> open{none};
    node_ref finished = none;  // a nested group just read, for the group below it
    for (;;) {
        node_ref member = finished;
        finished = none;
        if (member == none) {
            if (at_cursor() == '(') {
                ++position;
                open.push_back(none);
                continue;
            }
            member = make_node();  // a leaf
            if (open.back() == none) {
                open.back() = member;
                continue;
            }
        } else if (open.back() == none) {
            if (at_cursor() == ';') {
                open.pop_back();
                if (open.empty()) return root;
                finished = root;
                continue;
            }
            open.back() = member;
            continue;
        }
        const node_ref first = open.back();
        const node_ref group = make_node();
        root = group;
        all_nodes[group].left = first;
        all_nodes[group].right = member;
        all_nodes[first].parent = group;
        all_nodes[member].parent = group;
        open.pop_back();
        if (open.empty()) return group;
        finished = group;
    }
}

std::vector<node_ref> tree::get_all_internalNodes() const {
    std::vector<node_ref> internal;
    for (node_ref n = 0; n < all_nodes.size(); ++n)
        if (!all_nodes[n].is_leaf()) internal.push_back(n);
    return internal;
}

void tree::to_newick(node_ref n, std::string& out) const {
    if (all_nodes[n].is_leaf()) {
        out += all_nodes[n].get_data();
        return;
    }
    // The groups opened and not yet closed; `done` is the member of the top
    // one just written, none when that group was just opened.
    std::vector<node_ref> open{n};
    out += '(';
    node_ref done = none;
    while (!open.empty()) {
        const node_ref g = open.back();
        const node& group = all_nodes[g];
        node_ref next;
        if (done == none) {
            next = group.left;
        } else if (done == group.left) {
            out += ',';
            next = group.right;
        } else {
            out += ')';
            out += group.get_data();
            if (g == root) out += ';';
            open.pop_back();
            done = g;
            continue;
        }
        if (all_nodes[next].is_leaf()) {
            out += all_nodes[next].get_data();
            done = next;
        } else {
            out += '(';
            open.push_back(next);
            done = none;
        }
    }
}

bool tree::produce(node_ref n, std::FILE* out) {
    if (n == none) {
        line = "NULL Pointer\n";
        return put(line, out);
    }
    if (n >= all_nodes.size() || all_nodes[n].is_leaf() || all_nodes[n].parent == none) return true;

    line.assign(all_nodes[n].get_data());
    line += '\n';
    if (!put(line, out)) return false;

    // Dissolve the current root: its children become each other's neighbours.
    const node old_root = all_nodes[root];
    all_nodes[old_root.left].parent = old_root.right;
    all_nodes[old_root.right].parent = old_root.left;

    const node_ref fresh = add_node(old_root.get_data());
    root = fresh;
    const node_ref p = all_nodes[n].parent;
    if (all_nodes[p].right == n) {
        all_nodes[fresh].left = p;
        all_nodes[fresh].right = n;
    } else {
        all_nodes[fresh].left = n;
        all_nodes[fresh].right = p;
    }
    restoreConnectivity(all_nodes[fresh].left, fresh);
    restoreConnectivity(all_nodes[fresh].right, fresh);

    line.clear();
    line.reserve(text.size() + 1);  // a well-formed tree writes back at most its text
    to_newick(fresh, line);
    line += '\n';
    return put(line, out);
}

void tree::restoreConnectivity(node_ref x, node_ref from) {
    // Each entry: a node to visit and the neighbour it is entered from. Leaves
    // are never entered: they keep their links.
    std::vector<std::pair<node_ref, node_ref>> visits;
    if (x != none && !all_nodes[x].is_leaf()) visits.emplace_back(x, from);
    while (!visits.empty()) {
        const auto [xi, fi] = visits.back();
        visits.pop_back();
        node& v = all_nodes[xi];
        const node& f = all_nodes[fi];
        const node_ref l = v.left, r = v.right, p = v.parent;
        if (l == fi || l == f.left) {
            v.right = p;
            v.left = r;
        } else if (r == fi || r == f.right) {
            v.right = l;
            v.left = p;
        }
        v.parent = fi;
        // Right first on the stack, so the left subtree is visited first.
        for (node_ref c : {v.right, v.left})
            if (c != none && !all_nodes[c].is_leaf()) visits.emplace_back(c, xi);
    }
}

}  // namespace quorlen
