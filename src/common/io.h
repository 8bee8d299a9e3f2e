// What both modes share: opening the input, writing whole lines, and
// reporting an error.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

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

// Gathers whole lines and writes them in large blocks, never part of a line
// before the rest of it. Once a write has failed, it writes nothing more.
class line_writer {
public:
    explicit line_writer(std::FILE* out) : out(out) {}
    // Room for n more bytes of the line being built: write them there, then
    // say where they end with wrote().
    char* room(std::size_t n) { return lines.room(n); }
    void wrote(const char* end) { lines.wrote(end); }
    void end_line();
    // Adds text of whole lines, each ended by its line feed.
    void add_lines(std::string_view text);
    // Writes every line gathered so far. False iff any write has failed.
    bool flush();
    bool ok() const { return written; }

private:
    static constexpr std::size_t block = 1 << 18;
    std::FILE* out;
    byte_buffer lines;  // whole lines, then the one being built
    std::size_t complete = 0;  // how much of lines is whole lines
    bool written = true;
};

// Writes the message and a line end on standard error; returns `failure`.
int fail(std::string_view message);
// The error of a failed write: "output not written: " and errno's reason.
int fail_output();

}  // namespace quorlen
