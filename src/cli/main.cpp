// quorlen: prints a tree re-rooted above each of its nodes. The command line:
// the options, the input, and which mode reads it.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "common/io.h"
#include "default_mode/run.h"
#include "choosing/run.h"
#include "rootings/run.h"

#ifndef QUORLEN_VERSION
#define QUORLEN_VERSION "unknown"
#endif

namespace {

constexpr const char usage[] =
    "quorlen [tree file], sample tree "
    "<(S1,((S2,((S3,S4)15,((S5,S6)17,S7)16)14)13,((S8,S9)19,S10)18)12)11;>";

constexpr const char help[] =
    "Usage: quorlen [--standard | --support] [--newick] FILE\n"
    "       quorlen [--support] [--newick] --outgroup TAXA [--outgroup TAXA ...] FILE\n"
    "       quorlen [--support] [--newick] --midpoint | --minvar [--scores] | --mad [--scores] FILE\n"
    "Print a phylogenetic tree re-rooted on each of its branches, or rooted\n"
    "where a method places its root.\n"
    "\n"
    "  FILE        the tree file; - reads standard input\n"
    "  (no option) the first line of FILE, a rooted binary tree with a label on\n"
    "              every node; for each internal node labelled unlike the root,\n"
    "              its label and the tree re-rooted above it, the re-rootings\n"
    "              building on each other\n"
    "  --standard  every tree of FILE, as phylogenetics programs write them\n"
    "              (lengths, comments, quoted labels, any number of children),\n"
    "              rooted in the middle of each of its branches in turn, one\n"
    "              tree a line; lengths move with their branches\n"
    "  --support   --standard, with internal labels read as support values,\n"
    "              which move with their branches too\n"
    "              A NEXUS file (its first word #NEXUS) is written as NEXUS:\n"
    "              its blocks as read, each tree's lines TREE commands.\n"
    "  --newick    --standard, with the trees of a NEXUS file written as\n"
    "              Newick, their leaves named as TRANSLATE names them\n"
    "  --outgroup TAXA\n"
    "              one line a tree, rooted in the middle of the branch that\n"
    "              parts the leaves named in TAXA (comma-separated) from the\n"
    "              rest; given again, a ranked list: the first that names a\n"
    "              leaf of the tree is used\n"
    "  --midpoint  one line a tree, rooted halfway along its longest path\n"
    "  --minvar    one line a tree, rooted where the root-to-leaf distances\n"
    "              vary least\n"
    "  --mad       one line a tree, rooted where the ancestor deviation of\n"
    "              leaf pairs is least\n"
    "  --scores    with --minvar or --mad: a table of every branch, its best\n"
    "              point and score, instead of trees\n"
    "  --          ends the options\n"
    "  --help      print this help\n"
    "  --version   print the version\n"
    "\n"
    "Exit status: 0 when every tree was read and written, 255 otherwise.\n"
    "See quorlen(1).\n";

enum class mode { default_mode, standard, support };

// A comma-separated list of names; false if it or any name is empty.
bool names(const char* list, std::vector<std::string>& out) {
    out.clear();
    const std::string text(list);
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = text.find(',', from);
        out.push_back(text.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
        if (out.back().empty()) return false;
        if (comma == std::string::npos) return true;
        from = comma + 1;
    }
}

int run(int argc, char** argv) {
    namespace roots = quorlen::standard::roots;
    mode chosen = mode::default_mode;
    const char* path = nullptr;
    bool options = true, wrong = false, scores = false, newick = false;
    int methods = 0;  // how many root-choosing options, an outgroup list counted once
    roots::options how;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options && arg[0] == '-' && arg[1] != '\0') {
            if (std::strcmp(arg, "--") == 0) {
                options = false;
            } else if (std::strcmp(arg, "--help") == 0) {
                return quorlen::put(help, stdout) ? 0 : quorlen::fail_output();
            } else if (std::strcmp(arg, "--version") == 0) {
                return quorlen::put("quorlen " QUORLEN_VERSION "\n", stdout) ? 0 : quorlen::fail_output();
            } else if (std::strcmp(arg, "--standard") == 0) {
                if (chosen == mode::default_mode) chosen = mode::standard;
            } else if (std::strcmp(arg, "--support") == 0) {
                chosen = mode::support;
            } else if (std::strcmp(arg, "--newick") == 0) {
                newick = true;
                if (chosen == mode::default_mode) chosen = mode::standard;
            } else if (std::strcmp(arg, "--outgroup") == 0) {
                std::vector<std::string> list;
                if (i + 1 == argc || !names(argv[++i], list)) wrong = true;
                if (how.outgroups.empty()) methods += 1;
                how.how = roots::method::outgroup;
                how.outgroups.push_back(std::move(list));
            } else if (std::strcmp(arg, "--midpoint") == 0) {
                how.how = roots::method::midpoint;
                ++methods;
            } else if (std::strcmp(arg, "--minvar") == 0) {
                how.how = roots::method::minvar;
                ++methods;
            } else if (std::strcmp(arg, "--mad") == 0) {
                how.how = roots::method::mad;
                ++methods;
            } else if (std::strcmp(arg, "--scores") == 0) {
                scores = true;
            } else {
                wrong = true;
            }
        } else if (path) {
            wrong = true;
        } else {
            path = arg;
        }
    }
    if (methods > 1 || (scores && (methods == 0 || (how.how != roots::method::minvar && how.how != roots::method::mad))))
        wrong = true;
    if (wrong || !path) {
        std::fputs(usage, stdout);
        std::fflush(stdout);
        return quorlen::failure;
    }
    if (methods == 1) {
        how.scores = scores;
        how.labels = chosen == mode::support ? quorlen::standard::internal_labels::supports
                                             : quorlen::standard::internal_labels::names;
        return quorlen::run_roots(path, how, newick);
    }
    switch (chosen) {
    case mode::standard: return quorlen::run_standard(path, quorlen::standard::internal_labels::names, newick);
    case mode::support: return quorlen::run_standard(path, quorlen::standard::internal_labels::supports, newick);
    case mode::default_mode: break;
    }
    return quorlen::run_default(path);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        return quorlen::fail("out of memory");
    }
}
