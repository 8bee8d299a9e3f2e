// The default mode's run: the first line read, each labelled node's
// re-rooting written in turn.
#include "default_mode/run.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "common/io.h"
#include "default_mode/tree.h"

namespace quorlen {

int run_default(const char* path) {
    std::FILE* in = open_input(path);
    if (!in) return fail("file not opened");
    std::string line;
    const bool read = read_first_line(in, line, tree::max_text);
    close_input(in);
    if (!read) return fail("file not opened");
    if (line.size() > tree::max_text) return fail("tree text too long");
    if (line.find(';') == std::string::npos) return fail("tree text ends before ';'");

    // Each line goes out in one write; nothing is held back in a stream buffer.
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    tree t(std::move(line));
    const std::string_view root_label = t.get_data(t.get_root());
    const std::vector<node_ref> internal = t.get_all_internalNodes();
    for (node_ref n : internal) {
        if (t.get_data(n) == root_label) continue;
        if (!t.produce(n, stdout)) return fail_output();
    }
    return 0;
}

}  // namespace quorlen
