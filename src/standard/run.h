// The standard mode: every tree of the input, rooted on each of its branches.
#pragma once

#include "standard/rootings.h"

namespace quorlen {

// Runs the standard mode on the input at path ("-": standard input); returns
// the exit status.
int run_standard(const char* path, standard::internal_labels labels);

}  // namespace quorlen
