// Choosing a root for every tree of the input: one line a tree, or with
// scores, a table of every branch.
#pragma once

#include "choosing/choose.h"
#include "choosing/clock_reports.h"

namespace quorlen {

// Runs the chooser on every tree of the input at path ("-": standard input);
// returns the exit status. NEXUS input is written as NEXUS, or with `newick`
// as Newick, its leaves named. For the clock: the dates table at `dates`
// (empty: the dates in the leaves' names), and the files of its reports.
int run_roots(const char* path, const standard::roots::options& how, bool newick, const std::string& dates = "",
              const standard::roots::clock_files& files = {});

}  // namespace quorlen
