// treegen [--lengths] [--trees N] [--dates FILE] [--dated-names] SHAPE LEAVES
// [SEED]: writes one line, a tree of LEAVES leaves (at least 2) in Newick
// text, or N such lines, each tree made with the next seed. SHAPE is random
// (random pairs joined until one is left), balanced, or caterpillar (each
// group joins the one before and a new leaf). Leaves are L0, L1, ...;
// internal nodes I0, I1, ...; the root is R. With --lengths, every branch has
// a random length, every internal node but the root a support value, 0 to
// 100, for its label, and the root no label, as inference programs write
// trees.
//
// Sampling dates with a clock signal, for one tree with --lengths: each
// leaf's date is 2000 + its root-to-tip distance (the lengths as written)
// over the rate + noise, the rate such that the clock spreads the dates with
// a standard deviation of 4 years, the noise normal with one of 2 years, and
// 2% of the leaves outliers, moved 8 to 16 years either way (at the root
// the tree was drawn from, R² comes near 0.7, as in virus data). A date is
// written as a decimal year with 3 decimals (2011.537), one in ten as the
// day it falls on (2011-07-15). --dates FILE writes them to FILE as a CSV
// with a header, `name,date`, a row a leaf; --dated-names ends each leaf's
// name in _ and its date (L7_2011.537, L8_2011-07-15), as names of virus
// samples carry theirs, and FILE's names are those names. The tree is the
// same with and without these options, and so is every byte of it but the
// names.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

struct dating {
    const char* file = nullptr;  // --dates FILE
    bool names = false;          // --dated-names
    bool wanted() const { return file != nullptr || names; }
};

bool write_tree(const std::string& shape, long leaves, bool lengths, const dating& dates, std::mt19937_64& rng);

}  // namespace

int main(int argc, char** argv) {
    bool lengths = false;
    long trees = 1;
    dating dates;
    int arg = 1;
    for (; arg < argc && argv[arg][0] == '-'; ++arg) {
        if (std::strcmp(argv[arg], "--lengths") == 0) {
            lengths = true;
        } else if (std::strcmp(argv[arg], "--trees") == 0 && arg + 1 < argc) {
            trees = std::strtol(argv[++arg], nullptr, 10);
        } else if (std::strcmp(argv[arg], "--dates") == 0 && arg + 1 < argc) {
            dates.file = argv[++arg];
        } else if (std::strcmp(argv[arg], "--dated-names") == 0) {
            dates.names = true;
        } else {
            break;
        }
    }
    if (argc - arg < 2 || argc - arg > 3) {
        std::fputs("usage: treegen [--lengths] [--trees N] [--dates FILE] [--dated-names] "
                   "random|balanced|caterpillar LEAVES [SEED]\n",
                   stderr);
        return 2;
    }
    const std::string shape = argv[arg];
    const long leaves = std::strtol(argv[arg + 1], nullptr, 10);
    const unsigned long long seed = argc - arg == 3 ? std::strtoull(argv[arg + 2], nullptr, 10) : 1;
    if (leaves < 2 || trees < 1 || (shape != "random" && shape != "balanced" && shape != "caterpillar")) {
        std::fputs("treegen: a shape, at least 2 leaves and at least 1 tree\n", stderr);
        return 2;
    }
    if (dates.wanted() && (!lengths || trees != 1)) {
        std::fputs("treegen: --dates and --dated-names go with --lengths and one tree\n", stderr);
        return 2;
    }
    for (long i = 0; i < trees; ++i) {
        std::mt19937_64 rng(seed + static_cast<unsigned long long>(i));
        if (!write_tree(shape, leaves, lengths, dates, rng)) return 1;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

namespace {

using members = std::vector<std::pair<std::size_t, std::size_t>>;

// Walks the tree in the order it is written, without recursion: visit('(')
// where a group opens, visit(',') between its two members, visit(')', x)
// where the group of x closes, and visit('L', x) for each leaf, x's label
// going right after the last two. Each stack entry is a node and how many
// of its members have been visited.
template <class Visit>
void walk(const members& children, std::size_t root, std::size_t n, Visit&& visit) {
    std::vector<std::pair<std::size_t, int>> stack{{root, 0}};
    visit('(', root);
    while (!stack.empty()) {
        auto& [x, done] = stack.back();
        if (done == 2) {
            visit(')', x);
            stack.pop_back();
            continue;
        }
        if (done == 1) visit(',', x);
        const std::size_t member = done++ == 0 ? children[x].first : children[x].second;
        if (member < n) {
            visit('L', member);
        } else {
            visit('(', member);
            stack.emplace_back(member, 0);
        }
    }
}

bool leap(long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// A date as written: a decimal year, or the day it falls on.
std::string date_text(double year, bool as_day) {
    char text[32];
    if (!as_day) {
        std::snprintf(text, sizeof text, "%.3f", year);
        return text;
    }
    static const int month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const long y = static_cast<long>(std::floor(year));
    const int days = leap(y) ? 366 : 365;
    int day = std::min(days - 1, static_cast<int>((year - static_cast<double>(y)) * days));  // from 0
    int m = 0;
    for (;;) {
        const int in_month = month_days[m] + (m == 1 && leap(y) ? 1 : 0);
        if (day < in_month) break;
        day -= in_month;
        ++m;
    }
    std::snprintf(text, sizeof text, "%04ld-%02d-%02d", y, m + 1, day + 1);
    return text;
}

// Each leaf's date as written, drawn from its root-to-tip distance.
std::vector<std::string> draw_dates(const members& children, std::size_t root, std::size_t n,
                                    const std::vector<double>& length, std::mt19937_64& rng) {
    // A member's number is below its parent's, so from the root down each
    // node's distance is known before its members'. The lengths as written.
    std::vector<double> distance(children.size(), 0.0);
    for (std::size_t x = root; x >= n; --x) {
        for (const std::size_t c : {children[x].first, children[x].second}) {
            char text[16];
            std::snprintf(text, sizeof text, "%.5f", length[c]);
            distance[c] = distance[x] + std::strtod(text, nullptr);
        }
    }
    double sum = 0, least = distance[0];
    for (std::size_t i = 0; i < n; ++i) sum += distance[i], least = std::min(least, distance[i]);
    const double mean = sum / static_cast<double>(n);
    double squares = 0;
    for (std::size_t i = 0; i < n; ++i) squares += (distance[i] - mean) * (distance[i] - mean);
    const double spread = std::sqrt(squares / static_cast<double>(n));
    const double rate = spread > 0 ? spread / 4 : 1;  // per year
    std::normal_distribution<double> noise(0.0, 2.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<std::string> dates(n);
    for (std::size_t i = 0; i < n; ++i) {
        double year = 2000 + (distance[i] - least) / rate + noise(rng);
        if (unit(rng) < 0.02) year += (unit(rng) < 0.5 ? -1 : 1) * (8 + 8 * unit(rng));
        dates[i] = date_text(year, unit(rng) < 0.1);
    }
    return dates;
}

bool write_tree(const std::string& shape, long leaves, bool lengths, const dating& dated, std::mt19937_64& rng) {
    // Nodes 0 .. leaves-1 are the leaves; each join adds an internal node.
    const std::size_t n = static_cast<std::size_t>(leaves);
    members children(n);
    auto join = [&](std::size_t a, std::size_t b) {
        children.emplace_back(a, b);
        return children.size() - 1;
    };
    if (shape == "caterpillar") {
        std::size_t last = join(0, 1);
        for (std::size_t i = 2; i < n; ++i) last = join(last, i);
    } else if (shape == "balanced") {
        std::vector<std::size_t> level(n);
        for (std::size_t i = 0; i < n; ++i) level[i] = i;
        while (level.size() > 1) {
            std::vector<std::size_t> next;
            for (std::size_t i = 0; i + 1 < level.size(); i += 2) next.push_back(join(level[i], level[i + 1]));
            if (level.size() % 2) next.push_back(level.back());
            level = std::move(next);
        }
    } else {
        std::vector<std::size_t> pool(n);
        for (std::size_t i = 0; i < n; ++i) pool[i] = i;
        auto take = [&] {
            std::swap(pool[std::uniform_int_distribution<std::size_t>(0, pool.size() - 1)(rng)], pool.back());
            const std::size_t x = pool.back();
            pool.pop_back();
            return x;
        };
        while (pool.size() > 1) {
            const std::size_t a = take(), b = take();
            pool.push_back(join(a, b));
        }
    }
    const std::size_t root = children.size() - 1;

    // The lengths and supports, drawn in the order they are written, so
    // that the dates can be drawn from the lengths before any name is.
    std::vector<double> length;
    std::vector<int> support;
    if (lengths) {
        length.assign(children.size(), 0.0);
        support.assign(children.size(), 0);
        walk(children, root, n, [&](char at, std::size_t x) {
            if ((at != ')' && at != 'L') || x == root) return;
            if (x >= n) support[x] = std::uniform_int_distribution<int>(0, 100)(rng);
            length[x] = std::uniform_real_distribution<double>(0.00001, 0.5)(rng);
        });
    }
    std::vector<std::string> dates;
    if (dated.wanted()) dates = draw_dates(children, root, n, length, rng);

    std::string out;
    auto name = [&](std::size_t x) {
        (out += 'L') += std::to_string(x);
        if (dated.names) (out += '_') += dates[x];
    };
    auto label = [&](std::size_t x) {
        if (x == root) {
            if (!lengths) out += 'R';
            return;
        }
        if (x < n) name(x);
        else if (lengths) out += std::to_string(support[x]);
        else (out += 'I') += std::to_string(x - n);
        if (lengths) {
            char text[16];
            std::snprintf(text, sizeof text, ":%.5f", length[x]);
            out += text;
        }
    };
    walk(children, root, n, [&](char at, std::size_t x) {
        if (at == '(' || at == ',') out += at;
        else if (at == ')') out += ')', label(x);
        else label(x);
        if (out.size() > (1 << 20)) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    });
    out += ";\n";
    std::fwrite(out.data(), 1, out.size(), stdout);

    if (dated.file) {
        std::FILE* file = std::fopen(dated.file, "w");
        if (!file) {
            std::fprintf(stderr, "treegen: %s: %s\n", dated.file, std::strerror(errno));
            return false;
        }
        out = "name,date\n";
        for (std::size_t i = 0; i < n; ++i) {
            name(i);
            (out += ',') += dates[i];
            out += '\n';
            if (out.size() > (1 << 20)) {
                std::fwrite(out.data(), 1, out.size(), file);
                out.clear();
            }
        }
        std::fwrite(out.data(), 1, out.size(), file);
        if (std::fclose(file) != 0) {
            std::fprintf(stderr, "treegen: %s: not written\n", dated.file);
            return false;
        }
    }
    return true;
}

}  // namespace
