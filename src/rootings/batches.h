// Every rooting of every tree of the input, on every processor the program
// may use. Files of many small trees (gene trees, bootstrap replicates,
// posterior samples) are read a batch of trees at a time, by one thread at a
// time; the thread that read a batch makes its lines (a tree's bytes stay in
// one processor's cache), then writes them once the batches before it are
// out. A tree too big for a batch is written as it is made, in its turn.
#pragma once

#include <cstddef>

#include "common/io.h"
#include "reading/input.h"
#include "rootings/rootings.h"

namespace quorlen::standard {

struct batching {
    unsigned threads = 1;
    // A batch ends once its trees' lines would take this many bytes.
    std::size_t bytes = std::size_t{1} << 17;
    // A tree whose lines would take more is written as they are made.
    std::size_t most = std::size_t{1} << 20;
    // Whether the lines of the trees read are written before each read of
    // the input, which may wait for its writer (a pipe's).
    bool before_reading = true;
};

// As many threads as the processors the program may run on (taskset and
// the like choose them), at most 4.
batching machine_batching();

// Writes every rooting of every tree of input to out, as NEXUS where input
// is; returns how the reading ended. What stood before a bad tree is out.
reader::result write_every_rooting(tree_input& input, line_writer& out, internal_labels labels, batching how);

}  // namespace quorlen::standard
