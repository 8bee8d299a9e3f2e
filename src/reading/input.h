// The trees of the input, Newick or NEXUS: NEXUS is known by its first word,
// "#NEXUS" in any case, after a byte-order mark and blanks.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "reading/newick.h"
#include "reading/nexus.h"

namespace quorlen::standard {

class tree_input {
public:
    // From a file descriptor, as reader takes it. With `newick`, the trees
    // of NEXUS input are to be written as Newick: their leaves bear their
    // names rather than their TRANSLATE keys.
    tree_input(int fd, std::function<void()> before_reading, bool newick);
    // From bytes in memory.
    tree_input(std::string_view bytes, bool newick) : in(bytes), newick(newick) {}
    // From a function that reads as read(2) does (see reader).
    tree_input(reader::source from, bool newick) : in(std::move(from)), newick(newick) {}
    reader::result next(tree& t);
    void call_before_reading(std::function<void()> f) { in.call_before_reading(std::move(f)); }
    const read_error& error() const { return in.error(); }
    bool input_failed() const { return in.input_failed(); }
    // Whether the trees are to be written as NEXUS: NEXUS in, and no
    // `newick`.
    bool nexus() const { return from_nexus && !newick; }
    // With nexus(): the text of the input that stands before the tree read
    // last, or after the last tree, whole lines; to be written, then cleared.
    std::string& copied() { return from_nexus ? from_nexus->copied() : nothing; }
    // With nexus(): the last tree's command.
    const tree_command& command() const { return from_nexus->command(); }
    // The TRANSLATE table of the last tree where its leaves bear the keys
    // still, for names given on the command line; else null.
    const translation* names() const;

private:
    reader in;
    std::unique_ptr<nexus_reader> from_nexus;
    bool newick;
    bool started = false;
    std::string nothing;
};

}  // namespace quorlen::standard
