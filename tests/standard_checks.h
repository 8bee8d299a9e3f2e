// Checks of the standard mode shared by its tests and its fuzz target: the
// unrooted tree a rooting stands for, and what every rooting must keep.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "rootings/batches.h"
#include "reading/decimal.h"
#include "reading/input.h"
#include "reading/newick.h"
#include "rootings/nexus_write.h"
#include "rootings/rootings.h"

namespace quorlen::standard::testing {

// How many children n has, counted from the parents: 0 for a leaf.
inline std::size_t children(const tree& t, node_ref n) {
    std::size_t count = 0;
    for (node_ref c = n + 1; c < t.nodes.size(); ++c) count += t.nodes[c].parent == n;
    return count;
}

// Reads the first tree of text; "" if it reads, else the error's message.
inline std::string read_one(std::string_view text, tree& t) {
    reader r(text);
    switch (r.next(t)) {
    case reader::read: return "";
    case reader::end: return "no tree";
    case reader::failed: break;
    }
    return r.error().message();
}

// Empty when t is what reading its own text gives, node for node; else what
// differs. A tree whose text was rewritten (leaves renamed) must be.
// Empty when the trees are the same, node for node; else what differs.
inline std::string check_same(const tree& t, const tree& u) {
    if (u.nodes.size() != t.nodes.size() || u.leading != t.leading) return "other nodes";
    for (node_ref n = 0; n < t.nodes.size(); ++n) {
        const node &a = t.nodes[n], &b = u.nodes[n];
        if (a.parent != b.parent || a.start != b.start || a.close != b.close || a.label_end != b.label_end ||
            a.colon != b.colon || a.length_end != b.length_end || a.end != b.end)
            return "node " + std::to_string(n) + " stands elsewhere";
    }
    return "";
}

inline std::string check_reads_back(const tree& t) {
    tree back;
    const std::string text = std::string(t.text.view()) + ";";
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) return "";  // read first, a byte-order mark is skipped
    const std::string error = read_one(text, back);
    if (!error.empty()) return text + " does not read back: " + error;
    const std::string differs = check_same(t, back);
    return differs.empty() ? "" : text + ": " + differs;
}

// Empty when reading text in pieces of `piece` bytes gives what reading it
// whole does, tree for tree and error for error; else what differs.
inline std::string check_pieces(std::string_view text, std::size_t piece) {
    reader whole(text), cut(text, piece);
    tree a, b;
    for (std::size_t k = 1;; ++k) {
        const reader::result x = whole.next(a), y = cut.next(b);
        const std::string where = "in pieces of " + std::to_string(piece) + ", tree " + std::to_string(k) + ": ";
        if (x != y) return where + "read otherwise";
        if (x == reader::failed && whole.error().message() != cut.error().message()) return where + "another error";
        if (x != reader::read) return "";
        if (a.text.view() != b.text.view()) return where + "another text";
        const std::string differs = check_same(a, b);
        if (!differs.empty()) return where + differs;
    }
}

// A number for a value: splitmix64.
inline std::uint64_t scramble(std::uint64_t z) {
    z += 0x9E3779B97F4A7C15u;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}
inline std::uint64_t scramble(std::string_view s) { return scramble(std::hash<std::string_view>{}(s)); }

// A multiset of leaf labels, as the sum of a number for each: equal sets
// have equal sums, and unequal ones all but never do.
using leaf_set = std::uint64_t;

// One branch of the unrooted tree: the leaves on each side (the smaller set
// first), and a number for the rest of it: its length, its support, and what
// stands at each end (a leaf's label, an internal node's name with names,
// and the node's comments).
using branch = std::tuple<leaf_set, leaf_set, std::uint64_t>;

// Numbers for the labels of the leaves of t, and for "", the name of a root
// of one child.
inline std::map<std::string, int> leaf_numbers(const tree& t) {
    std::map<std::string, int> ids{{"", 0}};
    for (node_ref n = 0; n < t.nodes.size(); ++n)
        if (t.nodes[n].is_leaf()) ids.emplace(t.label(n), 0);
    int next = 0;
    for (auto& [label, id] : ids) id = next++;
    return ids;
}

// The leaves below each node. A root with one child is a leaf of the
// unrooted tree, with no label of its own. A label unknown to ids counts -1.
inline std::vector<leaf_set> leaves_below(const tree& t, const std::map<std::string, int>& ids) {
    std::vector<leaf_set> below(t.nodes.size(), 0);
    for (node_ref n : t.post_order()) {
        if (t.nodes[n].is_leaf()) {
            const auto id = ids.find(std::string(t.label(n)));
            below[n] = scramble(static_cast<std::uint64_t>(id == ids.end() ? -1 : id->second));
        }
        if (t.nodes[n].parent != none) below[t.nodes[n].parent] += below[n];
    }
    if (children(t, 0) == 1) below[0] += scramble(static_cast<std::uint64_t>(ids.at("")));
    return below;
}

// The unrooted tree a tree stands for, as the sorted list of its branches.
// A root with two children is no node: its two branches are one, as long as
// both, with the first's support, or else the second's, unless it is a
// leaf's. The root's label and comments belong to no node.
inline std::vector<branch> unrooted(const tree& t, internal_labels kind, const std::map<std::string, int>& ids) {
    const std::size_t count = t.nodes.size();
    const std::vector<leaf_set> below = leaves_below(t, ids);
    const bool names = kind == internal_labels::names;
    auto tag = [&](node_ref n) {
        const node& v = t.nodes[n];
        if (n == 0) return std::string("|");
        std::string s(v.is_leaf() || names ? t.label(n) : "");
        // A node's comments stay with it, in their order; those after a
        // ":" follow the ":" of the length it has, and where it has none,
        // stand among the others.
        return s + "|" + std::string(t.span(v.label_end, v.colon)) + std::string(t.colon_comments(n)) +
               std::string(t.span(v.length_end, v.end));
    };
    // Leaves' branches, the branch to a root of one child among them, have none.
    auto support = [&](node_ref n) {
        const bool pendant = t.nodes[n].is_leaf() || (t.nodes[n].parent == 0 && children(t, 0) == 1);
        return names || pendant ? std::string() : std::string(t.label(n));
    };
    const bool dissolved = !t.nodes[0].is_leaf() && children(t, 0) == 2;
    node_ref second = none;
    for (node_ref n = 2; dissolved && second == none; ++n)
        if (t.nodes[n].parent == 0) second = n;

    std::vector<branch> out;
    for (node_ref n = 1; n < count; ++n) {
        if (n == second) continue;
        leaf_set rest = below[0] - below[n];
        decimal length;
        bool present = t.nodes[n].has_length();
        parse_decimal(t.length(n), length);
        std::string strength = support(n), lower = tag(n), upper = tag(t.nodes[n].parent);
        if (dissolved && t.nodes[n].parent == 0) {
            decimal other;
            parse_decimal(t.length(second), other);
            length = add(length, other);
            present = present || t.nodes[second].has_length();
            if (strength.empty()) strength = support(second);
            if (t.nodes[n].is_leaf() || t.nodes[second].is_leaf()) strength.clear();
            upper = tag(second);
        }
        std::string written = "-";
        if (present) {
            written.clear();
            write_decimal(length, written);
        }
        leaf_set side = below[n];
        std::uint64_t low = scramble(lower), high = scramble(upper);
        if (rest < side || (rest == side && high < low)) {
            std::swap(rest, side);
            std::swap(low, high);
        }
        out.emplace_back(side, rest, scramble(written) ^ scramble(scramble(strength) + 1) ^ scramble(low + 2) ^ scramble(high + 3));
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Every leaf-to-leaf distance, the sum of the lengths between them (a missing
// length counts 0), in floating point, with the sum of their magnitudes for
// a tolerance; by pairs of leaf numbers, sorted.
using distance = std::tuple<int, int, double, double>;
inline std::vector<distance> distances(const tree& t, const std::map<std::string, int>& ids) {
    const std::size_t count = t.nodes.size();
    std::vector<double> length(count, 0);
    std::vector<std::size_t> level(count, 0);
    for (node_ref n = 1; n < count; ++n) {  // pre-order: a parent comes first
        if (t.nodes[n].has_length()) length[n] = std::strtod(std::string(t.length(n)).c_str(), nullptr);
        level[n] = level[t.nodes[n].parent] + 1;
    }
    std::vector<std::pair<node_ref, int>> leaves;  // and their numbers
    for (node_ref n = 0; n < count; ++n) {
        if (n == 0 && children(t, n) == 1) leaves.emplace_back(n, ids.at(""));
        if (!t.nodes[n].is_leaf()) continue;
        const auto id = ids.find(std::string(t.label(n)));
        leaves.emplace_back(n, id == ids.end() ? -1 : id->second);
    }
    std::vector<distance> out;
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        for (std::size_t j = i + 1; j < leaves.size(); ++j) {
            node_ref a = leaves[i].first, b = leaves[j].first;
            double sum = 0, scale = 0;
            auto climb = [&](node_ref& x) {
                sum += length[x];
                scale += std::fabs(length[x]);
                x = t.nodes[x].parent;
            };
            while (level[a] > level[b]) climb(a);
            while (level[b] > level[a]) climb(b);
            while (a != b) climb(a), climb(b);
            out.emplace_back(std::min(leaves[i].second, leaves[j].second),
                             std::max(leaves[i].second, leaves[j].second), sum, scale);
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

inline bool same_distances(const std::vector<distance>& a, const std::vector<distance>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::get<0>(a[i]) != std::get<0>(b[i]) || std::get<1>(a[i]) != std::get<1>(b[i])) return false;
        const double x = std::get<2>(a[i]), y = std::get<2>(b[i]);
        const double scale = std::max({1.0, std::get<3>(a[i]), std::get<3>(b[i])});
        if (!std::isfinite(scale)) continue;
        if (std::fabs(x - y) > 1e-9 * scale) return false;
    }
    return true;
}

// The rooting above n and its line feed as a line_writer writes them when
// the line is longer than its block of `block` bytes: through a cursor, a
// block at a time. Empty where a write is longer than a block and its line
// feed.
inline std::string through_cursor(rootings& r, node_ref n, std::size_t block) {
    struct writes {
        std::string bytes;
        std::size_t longest = 0;
    } got;
    cookie_io_functions_t io{};
    io.write = [](void* cookie, const char* bytes, std::size_t size) -> ssize_t {
        writes& w = *static_cast<writes*>(cookie);
        w.bytes.append(bytes, size);
        w.longest = std::max(w.longest, size);
        return static_cast<ssize_t>(size);
    };
    std::FILE* f = fopencookie(&got, "w", io);
    std::setvbuf(f, nullptr, _IONBF, 0);  // each write as the writer makes it
    {
        line_writer out(f, block);
        out.wrote(r.write(n, out.cursor()).p);
        out.end_line();
        out.flush();
    }
    std::fclose(f);
    return got.longest <= block + 1 ? got.bytes : "";
}

// Empty when every rooting of t is sound, else the first fault found: each
// line reads back as one tree with no blanks outside quotes and comments,
// rooted on two children of equal length whose first is the chosen node's
// side; and stands for the same unrooted tree, branch for branch (leaves,
// splits, lengths, supports, names and comments), with the same leaf-to-leaf
// distances. There are as many rootings as branches, and each is written
// alike with and without the text beyond each node kept.
inline std::string check_rootings(const tree& t, internal_labels kind, bool with_distances) {
    // Each subtree is followed in pre-order by the node after it; children
    // are counted from the text as their parents say; the post-order walked
    // is the order in which the nodes' text ends.
    std::vector<std::size_t> sizes(t.nodes.size(), 1), counts(t.nodes.size(), 0);
    for (std::size_t v = t.nodes.size(); v-- > 1;) {
        sizes[t.nodes[v].parent] += sizes[v];
        ++counts[t.nodes[v].parent];
    }
    std::vector<node_ref> by_end(t.nodes.size());
    for (node_ref v = 0; v < t.nodes.size(); ++v) {
        if (t.after(v) != v + sizes[v]) return "after node " + std::to_string(v) + ": " + std::to_string(t.after(v));
        if (t.two_children(v) != (counts[v] == 2) || (!t.nodes[v].is_leaf() && t.one_child(v) != (counts[v] == 1)))
            return "node " + std::to_string(v) + " has " + std::to_string(counts[v]) + " children";
        by_end[v] = v;
    }
    std::sort(by_end.begin(), by_end.end(), [&](node_ref a, node_ref b) { return t.nodes[a].end < t.nodes[b].end; });
    const auto walk = t.post_order();
    if (!std::equal(by_end.begin(), by_end.end(), walk.begin(), walk.end())) return "another post-order";
    const std::map<std::string, int> ids = leaf_numbers(t);
    const std::vector<branch> as_read = unrooted(t, kind, ids);
    const std::vector<leaf_set> below = leaves_below(t, ids);
    const std::vector<distance> read_distances = with_distances ? distances(t, ids) : std::vector<distance>{};
    rootings r(t, kind), all(t, kind);
    all.prepare_all();  // the text beyond each node kept, on a small tree
    if (r.chosen().size() != as_read.size())
        return std::to_string(r.chosen().size()) + " rootings for " + std::to_string(as_read.size()) + " branches";
    std::string line;
    tree back;
    for (node_ref n : r.chosen()) {
        line.clear();
        r.write(n, line);
        const std::string where = "rooting above node " + std::to_string(n) + " " + line + ": ";
        std::string kept;
        all.write(n, kept);
        if (kept != line) return where + "written otherwise after prepare_all: " + kept;
        const std::string streamed = through_cursor(r, n, 1 + n * 7 % 61);
        if (streamed != line + "\n") return where + "written otherwise through a cursor: " + streamed;
        const std::string error = read_one(line, back);
        if (!error.empty()) return where + "does not read back: " + error;
        if (std::string(back.text.view()) + ";" != line) return where + "blanks, or more than one tree";
        if (children(back, 0) != 2) return where + "the root has not two children";
        node_ref second = 2;
        while (back.nodes[second].parent != 0) ++second;
        if (back.length(1) != back.length(second)) return where + "the root is not in the middle of its branch";
        if (leaves_below(back, ids)[1] != below[n]) return where + "not rooted above the chosen node";
        if (unrooted(back, kind, ids) != as_read) return where + "another unrooted tree";
        if (with_distances && !same_distances(distances(back, ids), read_distances)) return where + "other distances";
    }
    return "";
}

// What every rooting of every tree of input comes to, written one tree at a
// time, the plain way: for NEXUS, the text before each tree, then each
// rooting as a TREE command; the rest of the input; and how reading ended,
// with the error's message.
struct all_written {
    std::string out;
    reader::result got;
    std::string error;
    bool operator==(const all_written& o) const { return out == o.out && got == o.got && error == o.error; }
};
inline all_written one_by_one(std::string_view input, internal_labels kind, bool newick) {
    all_written w;
    tree_input in(input, newick);
    tree t;
    while ((w.got = in.next(t)) == reader::read) {
        w.out += in.copied();
        in.copied().clear();
        rootings r(t, kind);
        std::size_t k = 0;
        for (node_ref n : r.chosen()) {
            if (in.nexus()) {
                std::string head(tree_head_room(in.command()), '\0');
                head.resize(static_cast<std::size_t>(write_tree_head(in.command(), ++k, head.data()) - head.data()));
                w.out += head;
            }
            r.write(n, w.out);
            w.out += '\n';
        }
    }
    w.out += in.copied();
    if (w.got == reader::failed) w.error = in.error().message();
    return w;
}

// The same by write_every_rooting as `how` says, through a line writer of
// `block` bytes; from a file (whose reads may wait: the lines of the trees
// read go out before each) or from memory; into a file, or into a stream
// with no file (a write at a time).
inline all_written every_rooting(std::string_view input, internal_labels kind, bool newick, batching how,
                                 std::size_t block, bool from_file, bool to_file) {
    all_written w;
    std::FILE* in = nullptr;
    std::unique_ptr<tree_input> from;
    if (from_file) {
        in = std::tmpfile();
        std::fwrite(input.data(), 1, input.size(), in);
        std::rewind(in);
        from.reset(new tree_input(fileno(in), nullptr, newick));
    } else {
        from.reset(new tree_input(input, newick));
    }
    std::FILE* f;
    if (to_file) {
        f = std::tmpfile();
    } else {
        cookie_io_functions_t io{};
        io.write = [](void* cookie, const char* bytes, std::size_t size) -> ssize_t {
            static_cast<std::string*>(cookie)->append(bytes, size);
            return static_cast<ssize_t>(size);
        };
        f = fopencookie(&w.out, "w", io);
    }
    {
        line_writer out(f, block);
        w.got = write_every_rooting(*from, out, kind, how);
        if (w.got == reader::failed) w.error = from->error().message();
    }
    if (to_file) {
        std::rewind(f);
        char chunk[1 << 12];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) w.out.append(chunk, n);
    }
    std::fclose(f);
    if (in) std::fclose(in);
    return w;
}

// Empty when write_every_rooting writes input as one_by_one does, on 1 to 4
// threads, with batches of every size and trees written as made; else how
// it differs first. `seed` chooses among the ways.
inline std::string check_every_rooting(std::string_view input, internal_labels kind, bool newick, std::size_t seed,
                                       bool from_file) {
    const all_written plain = one_by_one(input, kind, newick);
    batching how;
    how.threads = static_cast<unsigned>(1 + seed % 4);
    how.bytes = seed % 3 == 0 ? 1 : 1 + seed * 97 % 20000;  // 1: a tree a batch
    how.most = seed % 5 == 0 ? 0 : seed % 5 == 1 ? how.most : seed * 131 % 30000;  // 0: every tree written as made
    // Blocks of a few bytes now and then, for a small input: a write each.
    const bool tiny = seed % 6 == 2 && input.size() < 20000;
    const std::size_t block = seed % 2 ? 1 << 18 : (tiny ? 1 : 4096) + seed % 300;
    const all_written got = every_rooting(input, kind, newick, how, block, from_file, seed % 7 != 0);
    if (got == plain) return "";
    const std::string ways = std::to_string(how.threads) + " threads, batches of " + std::to_string(how.bytes) +
                             " bytes, trees of " + std::to_string(how.most) + ", a block of " + std::to_string(block);
    if (got.got != plain.got || got.error != plain.error) return ways + ": read otherwise: " + got.error;
    std::size_t at = 0;
    while (at < got.out.size() && at < plain.out.size() && got.out[at] == plain.out[at]) ++at;
    return ways + ": written otherwise from byte " + std::to_string(at) + " of " + std::to_string(plain.out.size());
}

}  // namespace quorlen::standard::testing
