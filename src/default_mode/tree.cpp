// Reading the default mode's one-line tree, and re-rooting it in place.
#include "default_mode/tree.h"

#include <algorithm>
#include <utility>

#include "common/io.h"

namespace quorlen {

namespace {

bool ends_label(char c) { return c == ',' || c == ')' || c == ';'; }

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

// Where a label that starts at `from` ends: at the next ",", ")" or ";", or
// at the end of the text.
std::size_t tree::label_end(std::size_t from) const {
    while (from < text.size() && !ends_label(text[from])) ++from;
    return from;
}

std::uint32_t tree::label_size(node_ref n) const {
    return static_cast<std::uint32_t>(label_end(all_nodes[n].label_at) - all_nodes[n].label_at);
}

// The length of a group's text: its children's, its label's, and "(", ","
// and ")".
std::uint32_t tree::group_size(node_ref g, std::uint32_t label) const {
    const node& v = all_nodes[g];
    return 3 + all_nodes[v.left].size + all_nodes[v.right].size + label;
}

std::string_view tree::get_data(node_ref n) const {
    return std::string_view(text).substr(all_nodes[n].label_at, label_size(n));
}

// Reads a label up to the next ",", ")" or ";" and consumes that "," or ")".
node_ref tree::make_node() {
    node fresh;
    fresh.label_at = static_cast<std::uint32_t>(position);
    position = label_end(position);
    fresh.size = static_cast<std::uint32_t>(position - fresh.label_at);
    if (at_cursor() != ';') ++position;
    all_nodes.push_back(fresh);
    return static_cast<node_ref>(all_nodes.size() - 1);
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
        node& g = all_nodes[group];
        g.left = first;
        g.right = member;
        g.size = group_size(group, g.size);  // make_node left the label's length there
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
    const node& v = all_nodes[n];
    if (v.is_leaf()) {
        out += get_data(n);
        return;
    }
    out += '(';
    write_member(v.left, out);
    out += ',';
    write_member(v.right, out);
    out += ')';
    out += get_data(n);
    if (n == root) out += ';';
}

// Writes the subtree of a node that is not a root, without a stack: no such
// node is ever detached, so every internal node below it has its parent
// link, and the walk climbs back by those.
void tree::write_member(node_ref m, std::string& out) const {
    if (all_nodes[m].is_leaf()) {
        out += get_data(m);
        return;
    }
    out += '(';
    node_ref x = m;
    node_ref done = none;  // the member of x just written; none when x was just opened
    for (;;) {
        const node& v = all_nodes[x];
        node_ref next;
        if (done == none) {
            next = v.left;
        } else if (done == v.left) {
            out += ',';
            next = v.right;
        } else {
            out += ')';
            out += get_data(x);
            if (x == m) return;
            done = x;
            x = v.parent;
            continue;
        }
        if (all_nodes[next].is_leaf()) {
            out += get_data(next);
            done = next;
        } else {
            out += '(';
            x = next;
            done = none;
        }
    }
}

// Only the nodes on the path from n up to the root change in a re-rooting;
// every other subtree keeps the text it has in the printed line. Lists that
// path, and where those texts stand: for n its own, for each node above it
// the other child's, and last the old root's other child's. Before the first
// re-rooting nothing is printed, so nothing is listed. Returns the top of the
// path, the root's child on n's side.
node_ref tree::find_pieces(node_ref n, std::vector<node_ref>& path, std::vector<piece>& pieces) const {
    if (printed.empty()) {
        node_ref top = n;
        while (all_nodes[top].parent != root) top = all_nodes[top].parent;
        return top;
    }
    for (node_ref x = n; x != root; x = all_nodes[x].parent) path.push_back(x);
    pieces.resize(path.size() + 1);
    // Down from the root, where each node on the path starts, and beside it
    // where its other child does.
    const node& r = all_nodes[root];
    const std::uint32_t left_at = 1, right_at = 2 + all_nodes[r.left].size;
    std::uint32_t at = r.left == path.back() ? left_at : right_at;
    pieces.back() = r.left == path.back() ? piece{r.right, right_at} : piece{r.left, left_at};
    for (std::size_t i = path.size() - 1; i > 0; --i) {
        const node& x = all_nodes[path[i]];
        const std::uint32_t x_left_at = at + 1, x_right_at = at + 2 + all_nodes[x.left].size;
        if (x.left == path[i - 1]) {
            pieces[i] = piece{x.right, x_right_at};
            at = x_left_at;
        } else {
            pieces[i] = piece{x.left, x_left_at};
            at = x_right_at;
        }
    }
    pieces[0] = piece{n, at};
    return path.back();
}

bool tree::produce(node_ref n, std::FILE* out) {
    if (n == none) {
        label_line = "NULL Pointer\n";
        return put(label_line, out);
    }
    if (n >= all_nodes.size() || all_nodes[n].is_leaf() || all_nodes[n].parent == none) return true;

    label_line.assign(get_data(n));
    label_line += '\n';
    if (!put(label_line, out)) return false;

    std::vector<node_ref> path;
    std::vector<piece> pieces;
    const node_ref top = find_pieces(n, path, pieces);

    // Dissolve the current root: its children become each other's neighbours.
    const node old_root = all_nodes[root];
    all_nodes[old_root.left].parent = old_root.right;
    all_nodes[old_root.right].parent = old_root.left;

    node fresh_node;
    fresh_node.label_at = old_root.label_at;
    all_nodes.push_back(fresh_node);
    const node_ref fresh = static_cast<node_ref>(all_nodes.size() - 1);
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

    // The sizes of the nodes that moved, from the top of the old path, now
    // the deepest, up to the new root.
    for (node_ref x = top;; x = all_nodes[x].parent) {
        all_nodes[x].size = group_size(x, label_size(x));
        if (x == fresh) break;
    }

    // The new text is as long as the old one: reserve it, plus the line end.
    writing.clear();
    if (printed.empty()) {
        writing.reserve(std::size_t{all_nodes[fresh].size} + 2);
        to_newick(fresh, writing);
    } else {
        writing.reserve(printed.size() + 1);
        write_moved(fresh, path, pieces);
    }
    writing += '\n';
    const bool written = put(writing, out);
    writing.pop_back();
    printed.swap(writing);
    return written;
}

// Writes the new rooting from the printed one: the nodes on the path are
// written afresh, every other subtree is copied whole.
void tree::write_moved(node_ref fresh, const std::vector<node_ref>& path, const std::vector<piece>& pieces) {
    const std::size_t last = path.size() - 1;
    auto moved = [&](std::size_t j) { return j ? path[j] : fresh; };
    auto copy = [&](std::size_t j) { writing.append(printed, pieces[j].at, all_nodes[pieces[j].n].size); };
    auto close = [&](node_ref x) {
        writing += ')';
        writing += get_data(x);
    };
    // Down the path: each node's text up to where its moved child's starts.
    // The last node's children both keep their text: it is written whole.
    std::size_t j = 0;
    for (;; ++j) {
        const node& x = all_nodes[moved(j)];
        writing += '(';
        const bool kept_left = x.left == pieces[j].n;
        if (kept_left) {
            copy(j);
            writing += ',';
        }
        if (j == last) {
            copy(last + 1);
            if (!kept_left) {
                writing += ',';
                copy(j);
            }
            close(moved(j));
            break;
        }
    }
    // Back up: the rest of each node's text.
    while (j-- > 0) {
        if (all_nodes[moved(j)].left != pieces[j].n) {
            writing += ',';
            copy(j);
        }
        close(moved(j));
    }
    writing += ';';
}

// Walks up the old rooting from x. A node entered from its former child turns
// that way: the former child's slot is refilled from the other side and its
// former parent becomes a child, entered next. A node entered from its parent,
// or a leaf, keeps its links and ends the walk: nothing below it changes.
void tree::restoreConnectivity(node_ref x, node_ref from) {
    while (x != none && !all_nodes[x].is_leaf()) {
        node& v = all_nodes[x];
        const node& f = all_nodes[from];
        const node_ref l = v.left, r = v.right, p = v.parent;
        node_ref next = none;
        if (l == from || l == f.left) {
            v.right = p;
            v.left = r;
            next = p;
        } else if (r == from || r == f.right) {
            v.right = l;
            v.left = p;
            next = p;
        }
        v.parent = from;
        from = x;
        x = next;
    }
}

}  // namespace quorlen
