// Reading the command line with getopt_long, and the rules of which options
// go together.
#include "cli/options.h"

#include <getopt.h>

#include <cstring>

namespace quorlen::cli {

namespace {

namespace roots = standard::roots;

enum option_id { standard_id = 1000, support_id, newick_id, outgroup_id, midpoint_id, minvar_id, mad_id,
                 scores_id, help_id, version_id, clock_id, dates_id, dates_from_names_id, tips_id, summary_id,
                 plot_id };

const struct option long_options[] = {
    {"standard", no_argument, nullptr, standard_id},
    {"support", no_argument, nullptr, support_id},
    {"newick", no_argument, nullptr, newick_id},
    {"outgroup", required_argument, nullptr, outgroup_id},
    {"midpoint", no_argument, nullptr, midpoint_id},
    {"minvar", no_argument, nullptr, minvar_id},
    {"mad", no_argument, nullptr, mad_id},
    {"scores", no_argument, nullptr, scores_id},
    {"clock", optional_argument, nullptr, clock_id},
    {"dates", required_argument, nullptr, dates_id},
    {"dates-from-names", no_argument, nullptr, dates_from_names_id},
    {"tips", required_argument, nullptr, tips_id},
    {"summary", required_argument, nullptr, summary_id},
    {"plot", required_argument, nullptr, plot_id},
    {"help", no_argument, nullptr, help_id},
    {"version", no_argument, nullptr, version_id},
    {nullptr, 0, nullptr, 0},
};

const char outgroup_needs[] = "--outgroup needs a comma-separated list of leaf names";

// A comma-separated list of names; false if it or any name is empty.
bool names(const char* list, std::vector<std::string>& out) {
    out.clear();
    for (const char* from = list;;) {
        const char* comma = std::strchr(from, ',');
        out.emplace_back(from, comma ? comma : from + std::strlen(from));
        if (out.back().empty()) return false;
        if (!comma) return true;
        from = comma + 1;
    }
}

// An option's name as written: "--outgroup" of "--outgroup=A".
std::string written(const char* arg) { return std::string(arg, std::strcspn(arg, "=")); }

// The option of long_options whose whole name arg is, with or without
// "=" and a value; null if none. getopt_long also takes a name's
// prefixes: those are not taken here, so that an option added later cannot
// change what an old command line means.
const struct option* exactly(const char* arg) {
    if (std::strncmp(arg, "--", 2) != 0) return nullptr;
    const std::string name = written(arg + 2);
    for (const struct option* o = long_options; o->name; ++o)
        if (name == o->name) return o;
    return nullptr;
}

void choose(settings& s, roots::method m, const char* name) {
    s.how.how = m;
    s.methods.emplace_back(name);
}

}  // namespace

job settings::chosen() const {
    if (!methods.empty()) return job::choosing;
    return standard ? job::rootings : job::default_mode;
}

std::string problem(const settings& s) {
    for (const std::string& m : s.methods)
        if (m != s.methods[0]) return s.methods[0] + " and " + m + " cannot be combined";
    if (s.methods.size() > 1) return s.methods[0] + " is given twice";
    if (s.scores && (s.methods.empty() || (s.how.how != roots::method::minvar && s.how.how != roots::method::mad &&
                                           s.how.how != roots::method::clock)))
        return "--scores goes with --minvar, --mad or --clock";
    const bool clock = !s.methods.empty() && s.how.how == roots::method::clock;
    if (!clock && !s.clock_only.empty()) return s.clock_only[0] + " goes with --clock";
    if (clock && s.dates.empty() == !s.dates_from_names) {
        if (s.dates_from_names) return "--dates and --dates-from-names cannot be combined";
        return "--clock needs --dates FILE or --dates-from-names";
    }
    if (s.files.empty()) return "no tree file given";
    if (s.files.size() > 1) return "more than one tree file given ('" + s.files[0] + "', '" + s.files[1] + "')";
    return {};
}

parsed parse(int argc, char** argv) {
    parsed p;
    settings& s = p.got;
    // "-" first: every argument is returned in its place, a file as 1, so
    // that argv[at] is the option just read; ":" after it: a missing value
    // is told from an unknown option.
    static const char letters[] = "-:";
    opterr = 0;
    optind = 0;  // from the start, however often called
    for (;;) {
        const int at = optind == 0 ? 1 : optind;
        const int c = getopt_long(argc, argv, letters, long_options, nullptr);
        if (c == -1) break;
        if (c == 1) {
            s.files.emplace_back(optarg);
            continue;
        }
        s.any_option = true;
        const char* arg = argv[at];
        const struct option* o = exactly(arg);
        if (p.error.empty()) {
            if (c == ':') {
                p.error = optopt == outgroup_id ? outgroup_needs : written(arg) + " needs a file name";
            } else if (c == '?' || !o || o->val != c) {
                p.error = o && o->has_arg == no_argument ? written(arg) + " takes no value"
                                                         : "unknown option '" + written(arg) + "'";
            }
        }
        if (!p.error.empty() && c != help_id && c != version_id) continue;
        std::vector<std::string> list;
        switch (c) {
        case help_id: p.what = parsed::help; return p;
        case version_id: p.what = parsed::version; return p;
        case standard_id: s.standard = true; break;
        case support_id: s.standard = s.support = true; break;
        case newick_id: s.standard = s.newick = true; break;
        case outgroup_id:
            if (!names(optarg, list)) {
                p.error = outgroup_needs;
                break;
            }
            if (s.how.outgroups.empty()) s.methods.emplace_back("--outgroup");
            s.how.how = roots::method::outgroup;
            s.how.outgroups.push_back(std::move(list));
            break;
        case midpoint_id: choose(s, roots::method::midpoint, "--midpoint"); break;
        case minvar_id: choose(s, roots::method::minvar, "--minvar"); break;
        case mad_id: choose(s, roots::method::mad, "--mad"); break;
        case scores_id: s.scores = true; break;
        case clock_id:
            if (optarg && std::strcmp(optarg, "r2") != 0) {
                p.error = std::string("--clock takes r2 or no value, not '") + optarg + "'";
                break;
            }
            choose(s, roots::method::clock, "--clock");
            s.how.r2 = optarg != nullptr;
            break;
        case dates_id:
        case tips_id:
        case summary_id:
        case plot_id: {
            const std::string name = written(arg);
            if (*optarg == '\0') {
                p.error = name + " needs a file name";
                break;
            }
            if (c != dates_id && std::strcmp(optarg, "-") == 0) {
                p.error = name + " writes to a file, not to standard output";
                break;
            }
            s.clock_only.push_back(name);
            std::string& file = c == dates_id ? s.dates : c == tips_id ? s.reports.tips
                              : c == summary_id ? s.reports.summary : s.reports.plot;
            file = optarg;
            break;
        }
        case dates_from_names_id:
            s.dates_from_names = true;
            s.clock_only.emplace_back("--dates-from-names");
            break;
        default: break;
        }
    }
    for (; optind < argc; ++optind) s.files.emplace_back(argv[optind]);
    if (!s.any_option) {
        if (s.files.size() != 1) p.what = parsed::usage;
        return p;
    }
    if (p.error.empty()) p.error = problem(s);
    if (!p.error.empty()) p.what = parsed::wrong;
    s.how.scores = s.scores;
    s.how.labels = s.support ? standard::internal_labels::supports : standard::internal_labels::names;
    return p;
}

}  // namespace quorlen::cli
