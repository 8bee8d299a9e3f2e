// treegen SHAPE LEAVES [SEED]: writes one line, a tree of LEAVES leaves
// (at least 2) in Newick text. SHAPE is random (random pairs joined until
// one is left), balanced, or caterpillar (each group joins the one before
// and a new leaf). Leaves are L0, L1, ...; internal nodes I0, I1, ...; the
// root is R.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fputs("usage: treegen random|balanced|caterpillar LEAVES [SEED]\n", stderr);
        return 2;
    }
    const std::string shape = argv[1];
    const long leaves = std::strtol(argv[2], nullptr, 10);
    std::mt19937_64 rng(argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 1);
    if (leaves < 2 || (shape != "random" && shape != "balanced" && shape != "caterpillar")) {
        std::fputs("treegen: a shape and at least 2 leaves\n", stderr);
        return 2;
    }
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
        if (x == root) out += 'R';
        else if (x < n) (out += 'L') += std::to_string(x);
        else (out += 'I') += std::to_string(x - n);
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
    return std::fflush(stdout) == 0 ? 0 : 1;
}
