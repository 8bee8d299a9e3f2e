// The command line's options, read into one set of settings, and the rules
// of which of them go together, written once, here, and applied to what
// was read.
#pragma once

#include <string>
#include <vector>

#include "choosing/choose.h"
#include "choosing/clock_reports.h"

namespace quorlen::cli {

// Which job a command line asks for.
enum class job { default_mode, rootings, choosing };

struct settings {
    bool support = false;  // internal labels read as support values
    bool newick = false;   // NEXUS input written as Newick
    bool scores = false;   // a table of every branch instead of trees
    // The root-choosing options in the order given, as written ("--mad");
    // a ranked outgroup list's options count once.
    std::vector<std::string> methods;
    standard::roots::options how;  // how.how is the last method given
    std::vector<std::string> files;
    // The clock's: its dates table, or the dates in the leaves' names; the
    // files of its reports.
    std::string dates;
    bool dates_from_names = false;
    standard::roots::clock_files reports;
    // Each option that goes with --clock alone, as given ("--tips").
    std::vector<std::string> clock_only;
    // Whether any option but "--" was given: a command line without one is
    // the default mode's, and a wrong one gets the default mode's usage.
    bool any_option = false;
    bool standard = false;  // --standard, --support or --newick given

    job chosen() const;
};

// What is wrong with a set of settings, without the program's name
// ("--scores goes with --minvar or --mad"); empty when nothing is.
std::string problem(const settings& s);

// What a command line comes to.
struct parsed {
    enum { run, help, version, usage, wrong } what = run;
    settings got;
    std::string error;  // for wrong: what is wrong
};

// Reads argv[1, argc): options in any order among the files, "--" ending
// them, long options only and by their whole names ("--outgroup A" or
// "--outgroup=A"). The first of --help and --version wins where it stands,
// whatever is wrong before or after it.
parsed parse(int argc, char** argv);

}  // namespace quorlen::cli
