// The every-rooting job over a whole input.
#include "rootings/run.h"

#include <cstdio>

#include <sys/stat.h>

#include "common/io.h"
#include "rootings/batches.h"
#include "reading/input.h"

namespace quorlen {

int run_standard(const char* path, standard::internal_labels labels, bool newick) {
    std::FILE* in = open_input(path);
    if (!in) return fail("file not opened");
    line_writer out(stdout);
    standard::tree_input input(fileno(in), nullptr, newick);
    standard::batching how = standard::machine_batching();
    // A file's reads never wait for a writer: its trees' lines need not be
    // out before each.
    struct stat about;
    how.before_reading = fstat(fileno(in), &about) != 0 || !S_ISREG(about.st_mode);
    const standard::reader::result got = standard::write_every_rooting(input, out, labels, how);
    close_input(in);
    if (!out.ok()) return fail_output();
    if (got == standard::reader::failed)
        return fail(input.input_failed() ? "file not opened" : input.error().message());
    return 0;
}

}  // namespace quorlen
