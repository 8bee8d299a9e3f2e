// The default mode: the first line of the input, a rooted binary tree,
// re-rooted in turn above each internal node labelled unlike the root.
#pragma once

namespace quorlen {

// Runs the default mode on the input at path ("-": standard input); returns
// the exit status.
int run_default(const char* path);

}  // namespace quorlen
