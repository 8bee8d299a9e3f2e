// Outgroup: the branch one of whose sides holds exactly the outgroup's
// leaves that the tree has, the first of ranked lists that the tree has any
// leaf of; the root in its middle.
#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "choosing/methods.h"

namespace quorlen::standard::roots {

std::string by_outgroup(const unrooted& u, const std::vector<std::vector<std::string>>& ranked,
                        const translation* keys, found& out) {
    // Each name of every list, and the leaves that bear it.
    struct wanted {
        std::size_t list;
        std::uint32_t count = 0, leaf = none;
    };
    std::unordered_multimap<std::string_view, wanted> names;
    // The lengths the names have: a leaf of another length is passed by.
    std::vector<char> sized;
    for (std::size_t i = 0; i < ranked.size(); ++i)
        for (const std::string& name : ranked[i]) {
            names.emplace(name, wanted{i});
            if (sized.size() <= name.size()) sized.resize(name.size() + 1, 0);
            sized[name.size()] = 1;
        }
    std::string room;
    for (std::uint32_t v = 0; v < u.size(); ++v) {
        if (!u.is_leaf(v)) continue;
        const std::string_view name = leaf_name_of(u, v, keys, room);
        if (name.size() >= sized.size() || !sized[name.size()]) continue;
        const auto range = names.equal_range(name);
        for (auto it = range.first; it != range.second; ++it) {
            ++it->second.count;
            it->second.leaf = v;
        }
    }
    std::size_t list = ranked.size();
    for (const auto& [key, w] : names)
        if (w.count > 0 && w.list < list) list = w.list;
    if (list == ranked.size()) return "no outgroup name is a leaf of the tree";
    // The outgroup's leaves in pre-order.
    std::vector<std::uint32_t> chosen;
    for (const auto& [key, w] : names) {
        if (w.list != list || w.count == 0) continue;
        if (w.count > 1) return "the outgroup name '" + std::string(key) + "' is the name of more than one leaf";
        chosen.push_back(w.leaf);
    }
    std::sort(chosen.begin(), chosen.end());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
    const std::uint32_t size = static_cast<std::uint32_t>(chosen.size()), all = u.leaves();
    // Leaves before each view node in pre-order: the leaves below v are
    // before[v + extent[v]] - before[v], and the outgroup's among them are
    // found in `chosen`. The top, a leaf or not, is on the other side of
    // every branch.
    const std::uint32_t m = u.size();
    big_vector<std::uint32_t> before(m + 1, 0);
    for (std::uint32_t v = 0; v < m; ++v) before[v + 1] = before[v] + u.is_leaf(v);
    out = found{};
    for (std::uint32_t v = 1; v < m; ++v) {
        const std::uint32_t end = v + u.extent[v], leaves = before[end] - before[v];
        if (leaves != size && all - leaves != size) continue;
        const auto from = std::lower_bound(chosen.begin(), chosen.end(), v);
        const std::uint32_t outgroup = static_cast<std::uint32_t>(std::lower_bound(from, chosen.end(), end) - from);
        const bool split = (leaves == size && outgroup == size) || (all - leaves == size && outgroup == 0);
        if (split && (out.branch == none || u.before(v, out.branch))) out.branch = v;
    }
    if (out.branch == none) return "the outgroup is not one side of any branch";
    return "";
}

}  // namespace quorlen::standard::roots
