// quorlen: prints a tree re-rooted above each of its internal nodes.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "tree.h"

namespace {

constexpr int failure = 255;

constexpr const char usage[] =
    "quorlen [tree file], sample tree "
    "<(S1,((S2,((S3,S4)15,((S5,S6)17,S7)16)14)13,((S8,S9)19,S10)18)12)11;>";

// Reads the first line of the file at path into line, without its line feed
// and cut at its first NUL byte; a line longer than the longest tree text is
// read only until it is known to be. False iff the file cannot be opened or
// read (a directory, an I/O error).
bool read_first_line(const char* path, std::string& line) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    static char chunk[1 << 16];
    std::setvbuf(file, nullptr, _IOFBF, sizeof chunk);
    bool read = true;
    for (;;) {
        if (!std::fgets(chunk, sizeof chunk, file)) {
            read = !std::ferror(file);
            break;
        }
        const std::size_t n = std::strlen(chunk);
        if (n > 0 && chunk[n - 1] == '\n') {
            line.append(chunk, n - 1);
            break;
        }
        line.append(chunk, n);
        if (line.size() > quorlen::tree::max_text) break;
        // A short chunk without a line feed ends at the end of the file or
        // at a NUL byte; either way the text is complete.
        if (n + 1 < sizeof chunk) {
            read = !std::ferror(file);
            break;
        }
    }
    std::fclose(file);
    return read;
}

int fail(const char* message) {
    std::fprintf(stderr, "%s\n", message);
    return failure;
}

int run(int argc, char** argv) {
    if (argc != 2) {
        std::fputs(usage, stdout);
        std::fflush(stdout);
        return failure;
    }
    std::string line;
    if (!read_first_line(argv[1], line)) return fail("file not opened");
    if (line.size() > quorlen::tree::max_text) return fail("tree text too long");
    if (line.find(';') == std::string::npos) return fail("tree text ends before ';'");

    // Each line goes out in one write; nothing is held back in a stream buffer.
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    quorlen::tree t(std::move(line));
    const std::string_view root_label = t.get_data(t.get_root());
    const std::vector<quorlen::node_ref> internal = t.get_all_internalNodes();
    for (quorlen::node_ref n : internal) {
        if (t.get_data(n) == root_label) continue;
        if (!t.produce(n, stdout)) {
            const std::string message = std::string("output not written: ") + std::strerror(errno);
            return fail(message.c_str());
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    }
}
