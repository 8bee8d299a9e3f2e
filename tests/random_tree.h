// Random trees in the standard mode's syntax, shared by its property tests:
// lengths in every form the reader takes, supports, comments and quoted
// labels.
#pragma once

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace quorlen::standard::testing {

// A random tree of `leaves` leaves, made by joining two or three random
// subtrees until two or three are left, which the root joins. Leaves are
// L0, L1, ... or, quoted, 'L 0', 'L 1', ... With `negative` false, the
// negative lengths are made positive, and the random numbers drawn are the
// same.
inline std::string random_tree(std::size_t leaves, std::mt19937& rng, bool negative = true) {
    auto chance = [&](int percent) { return std::uniform_int_distribution<int>(0, 99)(rng) < percent; };
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    auto length = [&]() -> std::string {
        if (chance(10)) return "";
        static const char* forms[] = {"0.%d", "%d", "%de-05", "1.%d5E+1", "-0.00%d", ".%d"};
        char text[32];
        auto sign = [&](const char* form) { return negative || form[0] != '-' ? form : form + 1; };
        std::snprintf(text, sizeof text, sign(forms[pick(6)]), std::uniform_int_distribution<int>(0, 999)(rng));
        return std::string(chance(5) ? ":[&rate=0.9]" : ":") + text + (chance(5) ? "[&&NHX:S=y]" : "");
    };
    std::vector<std::string> parts;
    for (std::size_t i = 0; i < leaves; ++i)
        parts.push_back((chance(10) ? "'L " + std::to_string(i) + "'" : "L" + std::to_string(i)) + length());
    const std::size_t root_children = chance(50) ? 2 : 3;
    while (parts.size() > root_children) {
        const std::size_t joined = parts.size() > root_children + 1 && chance(15) ? 3 : 2;
        std::string group = "(";
        for (std::size_t k = 0; k < joined; ++k) {
            std::swap(parts[pick(parts.size())], parts.back());
            group += (k ? "," : "") + parts.back();
            parts.pop_back();
        }
        group += ")";
        if (!chance(10)) group += std::to_string(pick(101));
        if (chance(5)) group += "[&x=1]";
        parts.push_back(group + length());
    }
    std::string tree = chance(20) ? "[&U] (" : "(";
    for (std::size_t k = 0; k < parts.size(); ++k) tree += (k ? "," : "") + parts[k];
    return tree + ")R;";
}

}  // namespace quorlen::standard::testing
