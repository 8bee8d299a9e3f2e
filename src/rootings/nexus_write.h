// Writing NEXUS around the standard mode's lines: each line a TREE command
// of the TREES block its tree was read in.
#pragma once

#include <cstddef>

#include "reading/nexus.h"

namespace quorlen::standard {

// The most bytes write_tree_head writes.
std::size_t tree_head_room(const tree_command& c);
// "\tTREE name = " and the comments that stood before the "=", to p; with
// k > 0, the name of the k-th rooting of the tree, name_k (inside its
// quotes, where it has them). The default tree's "*" stays on its first.
char* write_tree_head(const tree_command& c, std::size_t k, char* p);

}  // namespace quorlen::standard
