// The standard mode: every tree of the input, rooted on each of its branches.
#pragma once

#include "rootings/rootings.h"

namespace quorlen {

// Runs the standard mode on the input at path ("-": standard input); returns
// the exit status. NEXUS input is written as NEXUS, or with `newick` as
// Newick, its leaves named.
int run_standard(const char* path, standard::internal_labels labels, bool newick);

}  // namespace quorlen
