// Fuzz target of the standard mode: arbitrary bytes read as a tree file.
// Every tree it holds is rooted on each branch, names and supports alike,
// and every rooting checked; then rooted by each method of choosing a root
// (the outgroup its first leaf), and each choice checked, by brute force on
// small trees. Malformed input must give an error, with its place, and
// nothing else.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "root_oracle.h"
#include "standard_checks.h"

namespace {

using namespace quorlen::standard;

void require(bool ok, const std::string& what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz_standard: %s\n", what.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    reader r(input);
    tree t;
    reader::result got;
    while ((got = r.next(t)) == reader::read) {
        // Distances are the same with either kind of label: checked once.
        const bool small = t.nodes.size() <= 32;
        for (internal_labels kind : {internal_labels::names, internal_labels::supports}) {
            const std::string fault = testing::check_rootings(t, kind, small && kind == internal_labels::names);
            require(fault.empty(), fault);
        }
        // Brute force is cubic in the leaves: only on small trees.
        node_ref first_leaf = 0;
        while (!t.nodes[first_leaf].is_leaf()) ++first_leaf;
        for (roots::method how : {roots::method::outgroup, roots::method::midpoint, roots::method::minvar,
                                  roots::method::mad}) {
            roots::options o;
            o.how = how;
            o.scores = true;
            o.outgroups = {{testing::leaf_name(t.label(first_leaf))}};
            const std::string fault = testing::check_choice(t, o, t.nodes.size() <= 24);
            require(fault.empty(), fault);
        }
    }
    if (got == reader::failed) {
        const read_error& e = r.error();
        require(!e.what.empty() && e.tree >= 1 && e.line >= 1 && e.column >= 1, "an error without its place");
        require(e.line <= size + 1 && e.column <= size + 1, "an error placed outside the input");
    }
    return 0;
}
