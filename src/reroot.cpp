// quorlen: prints a tree re-rooted above each of its nodes. The command line:
// the options, the input, and which mode reads it.
#include <cstdio>
#include <cstring>
#include <new>

#include "common/io.h"
#include "default/run.h"
#include "standard/run.h"

#ifndef QUORLEN_VERSION
#define QUORLEN_VERSION "unknown"
#endif

namespace {

constexpr const char usage[] =
    "quorlen [tree file], sample tree "
    "<(S1,((S2,((S3,S4)15,((S5,S6)17,S7)16)14)13,((S8,S9)19,S10)18)12)11;>";

constexpr const char help[] =
    "Usage: quorlen [--standard | --support] FILE\n"
    "Print a phylogenetic tree re-rooted on each of its branches.\n"
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
    "  --          ends the options\n"
    "  --help      print this help\n"
    "  --version   print the version\n"
    "\n"
    "Exit status: 0 when every tree was read and written, 255 otherwise.\n"
    "See quorlen(1).\n";

enum class mode { default_mode, standard, support };

int run(int argc, char** argv) {
    mode chosen = mode::default_mode;
    const char* path = nullptr;
    bool options = true, wrong = false;
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
            } else {
                wrong = true;
            }
        } else if (path) {
            wrong = true;
        } else {
            path = arg;
        }
    }
    if (wrong || !path) {
        std::fputs(usage, stdout);
        std::fflush(stdout);
        return quorlen::failure;
    }
    switch (chosen) {
    case mode::standard: return quorlen::run_standard(path, quorlen::standard::internal_labels::names);
    case mode::support: return quorlen::run_standard(path, quorlen::standard::internal_labels::supports);
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
