// Fuzz target of the standard mode: arbitrary bytes read as a tree file,
// Newick or NEXUS. Every tree it holds is rooted on each branch, names and
// supports alike, and every rooting checked; then rooted by each method of
// choosing a root (the outgroup its first leaf; the clock's dates those in
// the leaves' names, by least residual and by R^2), and each choice checked,
// by brute force on small trees. A NEXUS file is read again with its leaves
// named: each tree must stand where its rewritten text says, and root as
// well. Malformed input must give an error, with its place, and nothing
// else, the same either way. The file is written whole, on threads, as one
// tree at a time writes it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "root_oracle.h"
#include "reading/input.h"
#include "standard_checks.h"

namespace {

using namespace quorlen::standard;

void require(bool ok, const std::string& what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz_standard: %s\n", what.c_str());
    std::abort();
}

}  // namespace

void check_error(const read_error& e, std::size_t size) {
    require(!e.what.empty() && e.tree >= 1 && e.line >= 1 && e.column >= 1, "an error without its place");
    require(e.line <= size + 1 && e.column <= size + 1, "an error placed outside the input");
}

// The NEXUS file read with its leaves named.
void check_named(std::string_view input, reader::result keyed, const read_error& keyed_error) {
    tree_input in(input, true);
    tree t;
    reader::result got;
    while ((got = in.next(t)) == reader::read) {
        std::string fault = testing::check_reads_back(t);
        require(fault.empty(), "named: " + fault);
        fault = testing::check_rootings(t, internal_labels::names, false);
        require(fault.empty(), "named: " + fault);
        node_ref first_leaf = 0;
        while (!t.nodes[first_leaf].is_leaf()) ++first_leaf;
        roots::options o;
        o.how = roots::method::outgroup;
        o.outgroups = {{testing::leaf_name(t.label(first_leaf))}};
        fault = testing::check_choice(t, o, t.nodes.size() <= 24);
        require(fault.empty(), "named: " + fault);
        o.how = roots::method::clock;
        fault = testing::check_choice(t, o, t.nodes.size() <= 24);
        require(fault.empty(), "named: " + fault);
    }
    require(got == keyed, "named: read otherwise");
    if (got == reader::failed) require(in.error().message() == keyed_error.message(), "named: another error");
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // The plain parts of trees are read a piece at a time: cut anywhere.
    const std::string cut = testing::check_pieces(input, 1 + size % 13);
    require(cut.empty(), cut);
    tree_input r(input, false);
    tree t;
    reader::result got;
    bool nexus = false;
    while ((got = r.next(t)) == reader::read) {
        nexus = r.nexus();
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
        for (bool r2 : {false, true}) {
            roots::options o;
            o.how = roots::method::clock;
            o.r2 = r2;
            o.scores = true;
            const std::string fault = testing::check_choice(t, o, t.nodes.size() <= 24);
            require(fault.empty(), fault);
        }
    }
    if (got == reader::failed) check_error(r.error(), size);
    if (nexus || (size >= 6 && input[0] == '#')) check_named(input, got, r.error());
    // The whole file written on threads, batched as the size says: the same
    // bytes and the same error as one tree at a time.
    const std::string batched = testing::check_every_rooting(input, internal_labels::supports, size % 3 == 0, size, false);
    require(batched.empty(), batched);
    return 0;
}
