#include "standard/run.h"

#include <cstdio>

#include "common/io.h"
#include "standard/input.h"
#include "standard/newick.h"
#include "standard/nexus_write.h"

namespace quorlen {

int run_standard(const char* path, standard::internal_labels labels, bool newick) {
    std::FILE* in = open_input(path);
    if (!in) return fail("file not opened");
    line_writer out(stdout);
    // A tree's lines are out before the input is read again.
    standard::tree_input input(fileno(in), [&out] { out.flush(); }, newick);
    standard::tree t;
    standard::rooting_space space;
    standard::reader::result got;
    while ((got = input.next(t)) == standard::reader::read) {
        out.add_lines(input.copied());
        input.copied().clear();
        standard::rootings r(t, labels, space);
        r.prepare_all();
        std::size_t k = 0;
        const bool nexus = input.nexus(), whole = out.gathers(r.longest());
        const std::size_t room = (nexus ? standard::tree_head_room(input.command()) : 0) + (whole ? r.longest() : 0);
        for (standard::node_ref n : r.chosen()) {
            char* p = out.room(room);
            if (nexus) p = standard::write_tree_head(input.command(), ++k, p);
            if (whole) {
                out.end_line(r.write(n, p));  // the room is a rooting's, with some to spare
            } else {
                out.wrote(p);
                out.wrote(r.write(n, out.cursor()).p);
                out.end_line();
            }
            if (!out.ok()) break;  // the output's reader has gone: no use making more
        }
        if (!out.ok()) break;
    }
    // The rest of a NEXUS file, or what stood before a bad tree.
    out.add_lines(input.copied());
    out.flush();
    close_input(in);
    if (!out.ok()) return fail_output();
    if (got == standard::reader::failed)
        return fail(input.input_failed() ? "file not opened" : input.error().message());
    return 0;
}

}  // namespace quorlen
