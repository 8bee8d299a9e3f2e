// What both modes share: opening the input, writing whole lines, and
// reporting an error.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include <sys/uio.h>

#include "common/memory.h"

namespace quorlen {

// The status of every failed run.
inline constexpr int failure = 255;

// Opens the input named on the command line for reading; "-" is standard
// input. Null if it cannot be opened.
std::FILE* open_input(const char* path);
// Closes what open_input opened; standard input is left open.
void close_input(std::FILE* in);

// Reads the first line of in into line, without its line feed and cut at its
// first NUL byte; a line longer than `longest` is read only until it is known
// to be. False iff the input cannot be read (a directory, an I/O error).
bool read_first_line(std::FILE* in, std::string& line, std::size_t longest);

// Writes s as one block and flushes it. False iff the write failed.
bool put(std::string_view s, std::FILE* out);

class line_writer;

// Where a line too long to gather whole is written: into the writer's block,
// which goes out whenever it is full, the line's start before its end is
// made. Copied as it moves on, like a pointer.
struct line_cursor {
    char* p;  // the next byte's place in the block
    char* end;  // the block's end: p <= end, and 16 bytes of room past it
    line_writer* to;
};

// Gathers whole lines and writes them in large blocks, never part of a line
// before the rest of it, but for a line longer than a block, which goes out
// a block at a time as it is made (a line of a tree of a million leaves is
// tens of megabytes). Once a write has failed, it writes nothing more.
class line_writer {
public:
    // Takes out before anything is written to it: a block goes out in one
    // write, not buffered again (stdio wrote it in three).
    explicit line_writer(std::FILE* out, std::size_t block = std::size_t{1} << 18) : out(out), block(block) {
        std::setvbuf(out, nullptr, _IONBF, 0);
    }
    // Whether a line of at most n bytes is gathered whole.
    bool gathers(std::size_t n) const { return n <= block; }
    // Room for n more bytes of the line being built: write them there, then
    // say where they end with wrote().
    char* room(std::size_t n) { return lines.room(n); }
    void wrote(const char* end) { lines.wrote(end); }
    // The line being built goes on through a cursor; wrote(cursor.p) when
    // it is done.
    line_cursor cursor();
    // Copies s, which does not fit in what is left of the cursor's block:
    // fills the block, writes it out, and goes on in the next; returns where
    // s ends.
    line_cursor spill(line_cursor at, std::string_view s);
    // Ends the line being built.
    void end_line();
    // The same where the line built so far ends at `end`, in room asked
    // for with a byte to spare: its line feed goes there.
    void end_line(char* end) {
        *end = '\n';
        wrote(end + 1);
        complete = lines.size();
        if (complete >= block) flush();
    }
    // A line of at most `longest` bytes after `head_room` bytes for what
    // head(p) writes at p (returning where it ends): gathered whole where it
    // fits in a block, else made a block at a time through a cursor.
    // make(p), p a char* or a line_cursor, writes the line and returns where
    // it ends.
    template <class Head, class Make>
    void line(std::size_t head_room, Head head, std::size_t longest, Make make) {
        const bool whole = gathers(longest);
        char* p = head(room(head_room + (whole ? longest + 1 : 0)));
        if (whole) {
            end_line(make(p));
        } else {
            wrote(p);
            wrote(make(cursor()).p);
            end_line();
        }
    }
    // Adds text of whole lines, each ended by its line feed.
    void add_lines(std::string_view text);
    // Writes the lines gathered so far, then n pieces of whole lines as
    // they stand, not copied (the pieces' iov_base and iov_len may change).
    // False iff any write has failed.
    bool write_pieces(iovec* pieces, std::size_t n);
    // Writes every line gathered so far. False iff any write has failed.
    bool flush();
    bool ok() const { return written; }

private:
    std::FILE* out;
    const std::size_t block;
    byte_buffer lines;  // whole lines, then the one being built
    std::size_t complete = 0;  // how much of lines is whole lines
    bool written = true;
    // Where the output is a pipe, it is given room for a few blocks before
    // the first goes out: a pipe of 64 KiB (Linux's) holds a quarter of one,
    // and the writer and the reader would take turns waiting on each other.
    void widen();
    bool widened = false;
};

// Each piece is checked against the block as it is copied: a bound worked
// out for each node on the way, to copy its pieces unchecked, cost more.
inline line_cursor put(line_cursor at, std::string_view s) {
    if (s.size() > static_cast<std::size_t>(at.end - at.p)) return at.to->spill(at, s);
    at.p = put(at.p, s);
    return at;
}

// The same for s with 16 bytes to read from its start (see put_padded):
// the block has 16 bytes of room past its end.
inline line_cursor put_padded(line_cursor at, std::string_view s) {
    if (s.size() > static_cast<std::size_t>(at.end - at.p)) return at.to->spill(at, s);
    at.p = put_padded(at.p, s);
    return at;
}

inline line_cursor put(line_cursor at, char c) {
    if (at.p == at.end) return at.to->spill(at, std::string_view(&c, 1));
    *at.p++ = c;
    return at;
}

// Writes the message and a line end on standard error; returns `failure`.
int fail(std::string_view message);
// The error of a failed write: "output not written: " and errno's reason.
int fail_output();

}  // namespace quorlen
