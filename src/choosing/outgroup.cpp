// Outgroup: the branch one of whose sides holds exactly the outgroup's
// leaves that the tree has, the first of ranked lists that the tree has any
// leaf of; the root in its middle.
#include <string_view>
#include <unordered_map>

#include "choosing/methods.h"

namespace quorlen::standard::roots {

namespace {

struct tally {
    std::uint32_t leaves = 0, outgroup = 0;
};

}  // namespace

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
    big_vector<char> in(u.size(), 0);
    std::uint32_t size = 0;
    for (const auto& [key, w] : names) {
        if (w.list != list || w.count == 0 || in[w.leaf]) continue;
        if (w.count > 1) return "the outgroup name '" + std::string(key) + "' is the name of more than one leaf";
        in[w.leaf] = 1;
        ++size;
    }
    struct tally_ops {
        const big_vector<char>& in;
        tally leaf(std::uint32_t v, std::uint32_t) const { return {1, static_cast<std::uint32_t>(in[v])}; }
        tally none() const { return {}; }
        tally away(const tally& a, std::uint32_t) const { return a; }
        tally join(const tally& a, const tally& b) const { return {a.leaves + b.leaves, a.outgroup + b.outgroup}; }
    };
    out = found{};
    fold_sides<tally>(u, tally_ops{in}, [&](std::uint32_t v, const tally& low, const tally& high) {
        const bool split = (low.leaves == size && low.outgroup == size) || (high.leaves == size && high.outgroup == size);
        if (split && (out.branch == none || u.before(v, out.branch))) out.branch = v;
    });
    if (out.branch == none) return "the outgroup is not one side of any branch";
    return "";
}

}  // namespace quorlen::standard::roots
