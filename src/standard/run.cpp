#include "standard/run.h"

#include <cstdio>

#include "common/io.h"
#include "standard/newick.h"

namespace quorlen {

int run_standard(const char* path, standard::internal_labels labels) {
    std::FILE* in = open_input(path);
    if (!in) return fail("file not opened");
    line_writer out(stdout);
    // A tree's lines are out before the input is read again.
    standard::reader reader(fileno(in), [&out] { out.flush(); });
    standard::tree t;
    standard::reader::result got;
    while ((got = reader.next(t)) == standard::reader::read) {
        standard::rootings r(t, labels);
        r.prepare_all();
        for (standard::node_ref n : r.chosen()) {
            out.wrote(r.write(n, out.room(r.longest())));
            out.end_line();
        }
        if (!out.ok()) break;
    }
    out.flush();
    close_input(in);
    if (!out.ok()) return fail_output();
    if (got == standard::reader::failed)
        return fail(reader.input_failed() ? "file not opened" : reader.error().message());
    return 0;
}

}  // namespace quorlen
