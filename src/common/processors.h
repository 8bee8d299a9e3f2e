// How many processors this process may run on.
#pragma once

namespace quorlen {

// The processors this process may run on (its affinity, as taskset sets
// it), at least 1.
unsigned processors();

}  // namespace quorlen
