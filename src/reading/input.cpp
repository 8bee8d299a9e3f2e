// The input's trees, by the reader its first word calls for.
#include "reading/input.h"

namespace quorlen::standard {

tree_input::tree_input(int fd, std::function<void()> before_reading, bool newick)
    : in(fd, std::move(before_reading)), newick(newick) {}

reader::result tree_input::next(tree& t) {
    if (!started) {
        started = true;
        const std::string_view first = in.ahead(7);
        bool nexus = first.size() >= 6 && first[0] == '#';
        for (std::size_t i = 1; nexus && i < 6; ++i)
            nexus = (first[i] == "#NEXUS"[i] || first[i] == "#nexus"[i]);
        // "#NEXUS" is a word: a label "#NEXUSX" starts a Newick tree.
        if (nexus && first.size() == 7) {
            const char c = first[6];
            nexus = c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '[' || c == ';';
        }
        if (nexus) from_nexus.reset(new nexus_reader(in));
    }
    if (!from_nexus) return in.next(t);
    const reader::result got = from_nexus->next(t);
    if (newick) {
        from_nexus->copied().clear();
        if (got == reader::read) translate_leaves(t, from_nexus->names());
    }
    return got;
}

const translation* tree_input::names() const {
    if (!from_nexus || newick || from_nexus->names().empty()) return nullptr;
    return &from_nexus->names();
}

}  // namespace quorlen::standard
