// Opening the input, writing whole lines in large pieces, and reporting an
// error on one line.
#include "common/io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlen {

std::FILE* open_input(const char* path) {
    if (std::strcmp(path, "-") == 0) return stdin;
    return std::fopen(path, "rb");
}

void close_input(std::FILE* in) {
    if (in != stdin) std::fclose(in);
}

bool read_first_line(std::FILE* in, std::string& line, std::size_t longest) {
    static char chunk[1 << 16];
    std::setvbuf(in, nullptr, _IOFBF, sizeof chunk);
    for (;;) {
        if (!std::fgets(chunk, sizeof chunk, in)) return !std::ferror(in);
        const std::size_t n = std::strlen(chunk);
        if (n > 0 && chunk[n - 1] == '\n') {
            line.append(chunk, n - 1);
            return true;
        }
        line.append(chunk, n);
        if (line.size() > longest) return true;
        // A short chunk without a line feed ends at the end of the input or
        // at a NUL byte; either way the text is complete.
        if (n + 1 < sizeof chunk) return !std::ferror(in);
    }
}

bool put(std::string_view s, std::FILE* out) {
    return std::fwrite(s.data(), 1, s.size(), out) == s.size() && std::fflush(out) == 0;
}

line_cursor line_writer::cursor() {
    char* p = lines.room(block);
    return {p, p + block, this};
}

namespace {

// Gives a pipe room for `bytes` (Linux's `F_SETPIPE_SZ`; where the system
// refuses, it stays as it is); anything else is left alone.
void widen_pipe(std::FILE* out, std::size_t bytes) {
#ifdef F_SETPIPE_SZ
    const int fd = fileno(out);
    struct stat s;
    if (fd < 0 || fstat(fd, &s) != 0 || !S_ISFIFO(s.st_mode)) return;
    const int now = fcntl(fd, F_GETPIPE_SZ);
    if (now >= 0 && static_cast<std::size_t>(now) < bytes) fcntl(fd, F_SETPIPE_SZ, static_cast<int>(bytes));
#else
    (void)out;
    (void)bytes;
#endif
}

}  // namespace

void line_writer::widen() {
    if (widened) return;
    widened = true;
    widen_pipe(out, std::min(4 * block, std::size_t{1} << 20));
}

line_cursor line_writer::spill(line_cursor at, std::string_view s) {
    widen();
    for (;;) {
        // What fits, then out with the block: part of a line.
        const std::size_t n = std::min(static_cast<std::size_t>(at.end - at.p), s.size());
        if (n > 0) std::memcpy(at.p, s.data(), n);
        s.remove_prefix(n);
        lines.wrote(at.p + n);
        complete = lines.size();
        flush();
        at = cursor();
        if (s.size() <= block) {
            at.p = put(at.p, s);
            return at;
        }
    }
}

void line_writer::end_line() { end_line(lines.room(1)); }

void line_writer::add_lines(std::string_view text) {
    if (text.empty()) return;
    char* p = lines.room(text.size());
    std::memcpy(p, text.data(), text.size());
    lines.wrote(p + text.size());
    complete = lines.size();
    if (complete >= block) flush();
}

bool line_writer::flush() {
    if (complete == 0) return written;
    widen();
    if (written) written = put(std::string_view(lines.data(), complete), out);
    const std::size_t rest = lines.size() - complete;
    std::memmove(lines.data(), lines.data() + complete, rest);
    lines.keep(rest);
    complete = 0;
    return written;
}

int fail(std::string_view message) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
    return failure;
}

bool line_writer::write_pieces(iovec* pieces, std::size_t n) {
    if (!flush()) return false;
    widen();
    const int fd = fileno(out);
    if (fd < 0) {
        for (std::size_t i = 0; i < n && written; ++i)
            written = put(std::string_view(static_cast<const char*>(pieces[i].iov_base), pieces[i].iov_len), out);
        return written;
    }
    constexpr std::size_t most = 1024;  // IOV_MAX on Linux
    while (n > 0) {
        const ssize_t w = ::writev(fd, pieces, static_cast<int>(std::min(n, most)));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (w == 0) errno = EIO;
            return written = false;
        }
        // Past what went out: whole pieces, then part of one.
        auto done = static_cast<std::size_t>(w);
        for (; n > 0 && done >= pieces->iov_len; --n) done -= pieces++->iov_len;
        if (done > 0) {
            pieces->iov_base = static_cast<char*>(pieces->iov_base) + done;
            pieces->iov_len -= done;
        }
    }
    return true;
}

int fail_output() { return fail(std::string("output not written: ") + std::strerror(errno)); }

}  // namespace quorlen
