// treegen [--lengths] [--trees N] SHAPE LEAVES [SEED]: writes one line, a
// tree of LEAVES leaves (at least 2) in Newick text, or N such lines, each
// tree made with the next seed. SHAPE is random (random pairs joined until
// one is left), balanced, or caterpillar (each group joins the one before
// and a new leaf). Leaves are L0, L1, ...; internal nodes I0, I1, ...; the
// root is R. With --lengths, every branch has a random length, every
// internal node but the root a support value, 0 to 100, for its label, and
// the root no label, as inference programs write trees.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

void write_tree(const std::string& shape, long leaves, bool lengths, std::mt19937_64& rng);

}  // namespace

int main(int argc, char** argv) {
    bool lengths = false;
    long trees = 1;
    int arg = 1;
    for (; arg < argc && argv[arg][0] == '-'; ++arg) {
        if (std::strcmp(argv[arg], "--lengths") == 0) {
            lengths = true;
        } else if (std::strcmp(argv[arg], "--trees") == 0 && arg + 1 < argc) {
            trees = std::strtol(argv[++arg], nullptr, 10);
        } else {
            break;
        }
    }
    if (argc - arg < 2 || argc - arg > 3) {
        std::fputs("usage: treegen [--lengths] [--trees N] random|balanced|caterpillar LEAVES [SEED]\n", stderr);
        return 2;
    }
    const std::string shape = argv[arg];
    const long leaves = std::strtol(argv[arg + 1], nullptr, 10);
    const unsigned long long seed = argc - arg == 3 ? std::strtoull(argv[arg + 2], nullptr, 10) : 1;
    if (leaves < 2 || trees < 1 || (shape != "random" && shape != "balanced" && shape != "caterpillar")) {
        std::fputs("treegen: a shape, at least 2 leaves and at least 1 tree\n", stderr);
        return 2;
    }
    for (long i = 0; i < trees; ++i) {
        std::mt19937_64 rng(seed + static_cast<unsigned long long>(i));
        write_tree(shape, leaves, lengths, rng);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

namespace {

void write_tree(const std::string& shape, long leaves, bool lengths, std::mt19937_64& rng) {
    // Nodes 0 .. leaves-1 are the leaves; each join adds an internal node.
    const std::size_t n = static_cast<std::size_t>(leaves);
    std::vector<std::pair<std::size_t, std::size_t>> children(n);
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

    // Write without recursion: each stack entry is a node and how many of
    // its members have been written.
    std::string out;
    auto label = [&](std::size_t x) {
        if (x == root) {
            if (!lengths) out += 'R';
            return;
        }
        if (x < n) (out += 'L') += std::to_string(x);
        else if (lengths) out += std::to_string(std::uniform_int_distribution<int>(0, 100)(rng));
        else (out += 'I') += std::to_string(x - n);
        if (lengths) {
            char length[16];
            std::snprintf(length, sizeof length, ":%.5f", std::uniform_real_distribution<double>(0.00001, 0.5)(rng));
            out += length;
        }
    };
    std::vector<std::pair<std::size_t, int>> stack{{root, 0}};
    out += '(';
    while (!stack.empty()) {
        auto& [x, done] = stack.back();
        if (done == 2) {
            out += ')';
            label(x);
            stack.pop_back();
            continue;
        }
        if (done == 1) out += ',';
        const std::size_t member = done++ == 0 ? children[x].first : children[x].second;
        if (member < n) {
            label(member);
        } else {
            out += '(';
            stack.emplace_back(member, 0);
        }
        if (out.size() > (1 << 20)) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    out += ";\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
}

}  // namespace
