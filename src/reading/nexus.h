// NEXUS tree files, as Bayesian and likelihood programs write them: blocks,
// a TREES block's TRANSLATE table and its TREE commands. Each tree's Newick
// is read by the standard reader; this layer reads the commands around it,
// and keeps the text of the file that is not trees, to be written around
// the trees' lines.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

#include "reading/newick.h"

namespace quorlen::standard {

// A leaf's name in a TRANSLATE table.
struct taxon_name {
    std::string name;   // its value: no quotes
    std::string label;  // as a Newick label: quoted where it must be
};
// A TRANSLATE table: each key's value (a word without its quotes) and the
// name it stands for.
using translation = std::unordered_map<std::string, taxon_name>;

// What a TREE command says besides its tree.
struct tree_command {
    std::string name;      // as read, with its quotes
    std::string comments;  // those between TREE and "=", each with a blank after it
    bool star = false;     // "TREE * name": the default tree
};

class nexus_reader {
public:
    // Reads from in, whose next word is "#NEXUS".
    explicit nexus_reader(reader& in);
    // The next tree, its TREE command and its block's TRANSLATE table as
    // command() and names() give them. `end` at the end of the input, once
    // the last block has ended; `failed` with in.error() set.
    reader::result next(tree& t);
    const tree_command& command() const { return current; }
    const translation& names() const { return table; }
    // The text that stands before the tree read last, or after the last
    // tree: "#NEXUS", blocks other than TREES as read, a TREES block's
    // BEGIN, END and commands other than TREE as read, and comments
    // between commands; as whole lines. Cleared by the caller once written.
    std::string& copied() { return text; }

private:
    struct word {
        std::string raw;    // as read, with its quotes
        std::string value;  // without them
        std::size_t line = 0, column = 0;
    };
    int peek() { return in.peek(); }
    void take();
    bool space(std::string* keep, char after);
    bool comment(std::string* keep);
    bool read_word(word& w);
    bool skip_command(bool& ended);
    bool read_begin(const word& command);
    bool read_translate(bool& ended);
    reader::result read_tree(tree& t);
    reader::result fail(std::size_t line, std::size_t column, std::string what) {
        return in.fail_between(line, column, std::move(what));
    }

    reader& in;
    bool in_trees = false;  // inside a TREES block
    word begin;             // the BEGIN of the block read now
    std::string block_name;
    tree_command current;
    translation table;
    std::string text;
    // While recording, every byte taken is kept too, in `recorded`: a
    // command or block is copied as read.
    bool recording = false;
    std::string recorded;
};

// Replaces each leaf label of t that is a key of names by its name, as a
// label. The root is never a leaf here, even with one child.
void translate_leaves(tree& t, const translation& names);

}  // namespace quorlen::standard
