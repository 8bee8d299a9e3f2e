// Choosing a root for every tree of the input: one line a tree, or with
// scores, a table of every branch.
#pragma once

#include "standard/roots/choose.h"

namespace quorlen {

// Runs the chooser on every tree of the input at path ("-": standard input);
// returns the exit status.
int run_roots(const char* path, const standard::roots::options& how);

}  // namespace quorlen
