// quorlen: prints a tree re-rooted above each of its nodes. The command line:
// the options, the input, and which mode reads it.
#include <cstdio>
#include <new>

#include "choosing/run.h"
#include "cli/options.h"
#include "common/io.h"
#include "default_mode/run.h"
#include "rootings/run.h"

#ifndef QUORLEN_VERSION
#define QUORLEN_VERSION "unknown"
#endif

namespace quorlen {

namespace {

constexpr const char usage[] =
    "quorlen [tree file], sample tree "
    "<(S1,((S2,((S3,S4)15,((S5,S6)17,S7)16)14)13,((S8,S9)19,S10)18)12)11;>";

constexpr const char help[] =
    "Usage: quorlen [--standard | --support] [--newick] FILE\n"
    "       quorlen [--support] [--newick] --outgroup TAXA [--outgroup TAXA ...] FILE\n"
    "       quorlen [--support] [--newick] --midpoint | --minvar [--scores] | --mad [--scores] FILE\n"
    "       quorlen [--support] [--newick] --clock[=r2] --dates DATES | --dates-from-names\n"
    "               [--scores] [--tips FILE] [--summary FILE] [--plot FILE] FILE\n"
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
    "  --clock     one line a tree, rooted where root-to-tip distance grows\n"
    "              most nearly in step with the leaves' sampling dates (least\n"
    "              residual of the regression; --clock=r2: largest R^2)\n"
    "  --dates DATES\n"
    "              the dates: a CSV or TSV table with a header, its name\n"
    "              column name, strain, taxon, accession or sample, its date\n"
    "              column the first whose header holds \"date\"\n"
    "  --dates-from-names\n"
    "              the dates: what follows the last |, else _, else / of a\n"
    "              leaf's name (2019.37, 2020-03-15, 2020-03, [2019:2020])\n"
    "  --tips FILE, --summary FILE, --plot FILE\n"
    "              with --clock: a table of every leaf (date, distance,\n"
    "              residual, outlier), a table of every tree's regression,\n"
    "              an SVG picture of it (tree k's in FILE-k)\n"
    "  --scores    with --minvar, --mad or --clock: a table of every branch,\n"
    "              its best point and score, instead of trees\n"
    "  --          ends the options\n"
    "  --help      print this help\n"
    "  --version   print the version\n"
    "\n"
    "Exit status: 0 when every tree was read and written, 255 otherwise.\n"
    "See quorlen(1).\n";

int run(int argc, char** argv) {
    const cli::parsed p = cli::parse(argc, argv);
    switch (p.what) {
    case cli::parsed::help: return put(help, stdout) ? 0 : fail_output();
    case cli::parsed::version: return put("quorlen " QUORLEN_VERSION "\n", stdout) ? 0 : fail_output();
    case cli::parsed::usage:
        std::fputs(usage, stdout);
        std::fflush(stdout);
        return failure;
    case cli::parsed::wrong:
        std::fprintf(stderr, "quorlen: %s\nTry 'quorlen --help' for more information.\n", p.error.c_str());
        return failure;
    case cli::parsed::run: break;
    }
    const cli::settings& s = p.got;
    const char* path = s.files[0].c_str();
    switch (s.chosen()) {
    case cli::job::choosing: return run_roots(path, s.how, s.newick, s.dates, s.reports);
    case cli::job::rootings: return run_standard(path, s.how.labels, s.newick);
    case cli::job::default_mode: break;
    }
    return run_default(path);
}

}  // namespace

}  // namespace quorlen

int main(int argc, char** argv) {
    try {
        return quorlen::run(argc, argv);
    } catch (const std::bad_alloc&) {
        return quorlen::fail("out of memory");
    }
}
