// The Newick reader: a tree's text scanned once, without recursion, into
// its nodes' spans.
#include "reading/newick.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "reading/decimal.h"

namespace quorlen::standard {

namespace {

// Text offsets are 32 bits; a tree's text stops well short of that.
constexpr std::size_t longest_text = 0xF0000000u;

// The characters of unquoted labels and of lengths, blanks, and what may
// end a node, by byte.
enum : unsigned char { plain_byte = 1, blank_byte = 2, node_end = 3 };
struct byte_kinds {
    unsigned char of[256];
    constexpr byte_kinds() : of() {
        for (int c = 0; c < 256; ++c) of[c] = plain_byte;
        for (unsigned char c : std::string_view("()[]':;,")) of[c] = 0;
        for (unsigned char c : std::string_view(",);")) of[c] = node_end;
        for (unsigned char c : std::string_view(" \t\r\n")) of[c] = blank_byte;
    }
};
constexpr byte_kinds kind;

// The first byte of [p, end) that is no digit, or end; eight bytes at a time.
inline const char* after_digits(const char* p, const char* end) {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    for (; end - p >= 8; p += 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        w = __builtin_bswap64(w);  // the first byte lowest
#endif
        w ^= '0' * ones;  // digits become 0 to 9
        // A byte above 9 has its top bit set in w or in w + 0x76. (A carry
        // into the next byte comes from a byte above 0x89, itself marked.)
        const std::uint64_t other = ((w + 0x76 * ones) | w) & (0x80 * ones);
        if (other) return p + __builtin_ctzll(other) / 8;
    }
    while (p < end && static_cast<unsigned char>(*p - '0') <= 9) ++p;
    return p;
}

// -1, the end, is not.
bool is_plain(int c) { return c >= 0 && kind.of[c] == plain_byte; }

std::string shown(int c) {
    if (c >= 0x21 && c < 0x7f) return std::string("'") + static_cast<char>(c) + "'";
    char hex[16];
    std::snprintf(hex, sizeof hex, "byte 0x%02x", static_cast<unsigned>(c));
    return hex;
}

}  // namespace

void tree::clear() {
    text.clear();
    leading = 0;
    comments = false;
    nodes.clear();
}

node_ref tree::after(node_ref n) const {
    // Starts rise in pre-order; n's subtree's nodes start no later than its
    // end (where an empty leaf n stands), and every later node starts past
    // it, after a "," or a ")".
    const std::uint32_t end = nodes[n].end;
    const node* const next = std::lower_bound(nodes.begin() + n + 1, nodes.end(), end,
                                              [](const node& v, std::uint32_t at) { return v.start <= at; });
    return static_cast<node_ref>(next - nodes.begin());
}

std::string read_error::message() const {
    return "tree " + std::to_string(tree) + ", line " + std::to_string(line) + ", column " +
           std::to_string(column) + ": " + what;
}

std::string label_value(std::string_view label) {
    if (label.size() < 2 || label.front() != '\'') return std::string(label);
    std::string value;
    for (std::size_t i = 1; i + 1 < label.size(); ++i) {
        value += label[i];
        if (label[i] == '\'') ++i;
    }
    return value;
}

std::string as_label(std::string_view value) {
    const bool plain = !value.empty() && std::all_of(value.begin(), value.end(), [](char c) {
        return kind.of[static_cast<unsigned char>(c)] == plain_byte;
    });
    if (plain) return std::string(value);
    std::string label = "'";
    for (char c : value) {
        label += c;
        if (c == '\'') label += c;
    }
    return label + "'";
}

long reader::read_some(char* p, std::size_t n) {
    if (from) return from(p, n);
    ssize_t got;
    do got = ::read(fd, p, n);
    while (got < 0 && errno == EINTR);
    return got;
}

bool reader::fill() {
    if (at_end) return false;
    if (before_reading) before_reading();
    const long n = read_some(buffer.get(), block);
    if (n <= 0) {
        at_end = true;
        unreadable = n < 0;
        return false;
    }
    taken += filled;
    at = 0;
    filled = static_cast<std::size_t>(n);
    return true;
}

std::string_view reader::ahead(std::size_t n) {
    start();
    skip_blanks();
    while (filled - at < n && !at_end && (fd >= 0 || from)) {
        // Keep what is not taken at the start of the buffer, and read after it.
        if (at > 0) {
            std::memmove(buffer.get(), data + at, filled - at);
            taken += at;
            filled -= at;
            at = 0;
        }
        if (before_reading) before_reading();
        const long got = read_some(buffer.get() + filled, block - filled);
        if (got <= 0) {
            at_end = true;
            unreadable = got < 0;
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    return std::string_view(data + at, std::min(n, filled - at));
}

reader::result reader::fail_between(std::size_t at_line, std::size_t at_column, std::string what) {
    fault = read_error{trees + 1, at_line, at_column, std::move(what)};
    return failed;
}

int reader::peek_filled() {
    if (!fill()) return -1;
    return static_cast<unsigned char>(data[at]);
}

// Copies a run of the characters of unquoted labels and lengths into the
// text, a buffer's worth at a time; none of them ends a line.
void reader::copy_plain(tree& t) {
    while (at < filled || fill()) {
        const char *p = data + at, *end = data + filled;
        char* to = t.text.room(filled - at);
        while (p < end && kind.of[static_cast<unsigned char>(*p)] == plain_byte) *to++ = *p++;
        t.text.wrote(to);
        at = static_cast<std::size_t>(p - data);
        if (p < end) return;  // else the run may go on in the next block
    }
}

void reader::skip_some_blanks() {
    do {
        while (at < filled && kind.of[static_cast<unsigned char>(data[at])] == blank_byte) advance();
    } while (at == filled && fill());
}

reader::result reader::fail(std::size_t at_line, std::size_t at_column, std::string what) {
    fault = read_error{trees, at_line, at_column, std::move(what)};
    return failed;
}

// Copies comments, and the blanks between them, into the text.
bool reader::read_some_comments(tree& t) {
    for (skip_blanks(); peek() == '['; skip_blanks()) {
        if (!t.nodes.empty()) t.comments = true;  // not one before the tree's first node
        const std::size_t from_line = line, from_column = column();
        int c;
        do {
            c = peek();
            if (c < 0) return fail(from_line, from_column, "unterminated comment"), false;
            t.text.push_back(static_cast<char>(c));
            advance();
        } while (c != ']');
    }
    return true;
}

// Copies an unquoted label, or a quoted one with its quotes, into the text.
bool reader::read_label(tree& t) {
    if (peek() != '\'') {
        copy_plain(t);
        return true;
    }
    const std::size_t from_line = line, from_column = column();
    t.text.push_back('\'');
    advance();
    for (;;) {
        const int c = peek();
        if (c < 0) return fail(from_line, from_column, "unterminated quote"), false;
        t.text.push_back(static_cast<char>(c));
        advance();
        if (c == '\'') {
            if (peek() != '\'') return true;
            t.text.push_back('\'');  // '' stands for a quote inside the label
            advance();
        }
    }
}

namespace {

// The annotation most trees have: an unquoted label and perhaps ":" and a
// plain length, with no blank or comment, and then what ends the node, all
// before end. Returns where it ends, at what ends the node, with the
// label's size and the length's, its ":" counted; null for anything else.
inline const char* plain_annotation(const char* p, const char* end, std::size_t& label, std::size_t& length) {
    const char* const from = p;
    while (p < end && kind.of[static_cast<unsigned char>(*p)] == plain_byte) ++p;
    label = static_cast<std::size_t>(p - from);
    length = 0;
    if (p < end && *p == ':') {
        // A plain length (as plain_length says, known from the scan):
        // digits with at most one point.
        const char* const digits = ++p;
        p = after_digits(p, end);
        if (p < end && *p == '.') p = after_digits(p + 1, end);
        length = static_cast<std::size_t>(p - digits) + 1;
        if (length == 1 || (length == 2 && *digits == '.') || length > max_exponent - 8) return nullptr;
    }
    // Anything else after it, a sign or an exponent, a blank or a comment, is
    // for the general way.
    if (p == end || kind.of[static_cast<unsigned char>(*p)] != node_end) return nullptr;
    return p;
}

#ifdef __SSE2__
// Of the 16 bytes at p, as bits: every byte that is no label's, and some
// that are (those below '.', a sign for one, and above 0x7f); the digits;
// the points.
struct byte_masks {
    unsigned stops, digits, points;
};
inline byte_masks masks_of(const char* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto is = [&v](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    const auto bits = [](__m128i m) { return static_cast<unsigned>(_mm_movemask_epi8(m)); };
    const __m128i below = _mm_cmplt_epi8(v, _mm_set1_epi8('.'));
    const __m128i shifted = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    return {bits(_mm_or_si128(_mm_or_si128(below, is(':')), _mm_or_si128(is(';'), _mm_or_si128(is('['), is(']'))))),
            bits(_mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(9)), shifted)), bits(is('.'))};
}

// The same as plain_annotation, for an annotation that ends within the
// `width` bytes at p (16 or 32): all of them looked at in one go. Null where
// plain_annotation is to look (it may still find one).
template <unsigned width>
inline const char* short_annotation(const char* p, std::size_t& label, std::size_t& length) {
    byte_masks m = masks_of(p);
    if (width == 32) {
        const byte_masks high = masks_of(p + 16);
        m.stops |= high.stops << 16, m.digits |= high.digits << 16, m.points |= high.points << 16;
    }
    const std::uint64_t all = (std::uint64_t(1) << width) - 1;
    if (m.stops == 0) return nullptr;
    const unsigned at = static_cast<unsigned>(__builtin_ctz(m.stops));
    label = at;
    length = 0;
    if (p[at] != ':') return kind.of[static_cast<unsigned char>(p[at])] == node_end ? p + at : nullptr;
    // Digits and points, the first other byte ending the number.
    const std::uint64_t past = (~std::uint64_t(0) << (at + 1)) & all;  // the bytes after the ":"
    const std::uint64_t others = past & ~std::uint64_t(m.digits | m.points);
    if (others == 0) return nullptr;
    const unsigned number_end = static_cast<unsigned>(__builtin_ctzll(others));
    const std::uint64_t point = m.points & past & ((std::uint64_t(1) << number_end) - 1);
    length = number_end - at;  // its ":" counted
    if ((point & (point - 1)) != 0 || length == 1 || (length == 2 && point != 0)) return nullptr;
    return kind.of[static_cast<unsigned char>(p[number_end])] == node_end ? p + number_end : nullptr;
}
#endif

}  // namespace

// Nodes as most programs write them, taken from the block in one loop:
// "(", ",", ")" and common annotations, no blank, comment or quote. Stops
// before anything else, and within a piece of the block, where a node
// starts, where n's annotation is due, or after n's annotation.
reader::quick_stop reader::quick_nodes(tree& t) {
    // Each byte taken adds at most a byte of text, a node and a group: room
    // for them all first. The text stays within its longest, where the
    // general way says it is too long. The bytes taken are the text's next,
    // as they stand: copied at the end in one piece. A tree takes no more
    // bytes at once than its text has so far, 256 at least: a small tree
    // asks for little room (a batch holds many).
    const std::size_t size = t.text.size();
    const std::size_t most = std::min(
        {filled - at, piece, std::max<std::size_t>(size, 256), size < longest_text ? longest_text - size : 0});
    char* const to = t.text.room(most);
    t.nodes.room(most + 1);
    const char* const from = data + at;
    const char* p = from;
    const char* const end = p + most;
    // Where the byte at q stands in the text.
    const auto text_at = [&](const char* q) { return static_cast<std::uint32_t>(size + static_cast<std::size_t>(q - from)); };
    node* const nodes = t.nodes.data();
    auto count = static_cast<node_ref>(t.nodes.size());
    std::size_t open = depth;
    node_ref inner = innermost;
    const auto add_node = [&]() {
        node v;
        v.start = text_at(p);
        v.parent = inner;
        nodes[count] = v;
        return count++;
    };
    quick_stop stop{quick_stop::node_starts, none};
    for (;;) {
        if (stop.where == quick_stop::node_starts) {
            if (p == end || kind.of[static_cast<unsigned char>(*p)] == blank_byte) break;
            if (*p == '(') {
                inner = add_node();
                ++open;
                opened(nodes[inner], line, taken + static_cast<std::size_t>(p - data) - line_start + 1);
                ++p;
                continue;
            }
            stop = {quick_stop::annotation_due, add_node()};
        }
        if (stop.where == quick_stop::annotation_due) {
            std::size_t label, length;
            const char* q = nullptr;
#ifdef __SSE2__
            if (end - p >= 16) q = short_annotation<16>(p, label, length);
            // A long label, with a date or a species in it.
            if (!q && end - p >= 32) q = short_annotation<32>(p, label, length);
#endif
            if (!q) q = plain_annotation(p, end, label, length);
            if (!q) break;
            node& v = nodes[stop.n];
            v.label_end = v.colon = text_at(p) + static_cast<std::uint32_t>(label);
            v.length_end = v.end = v.colon + static_cast<std::uint32_t>(length);
            p = q;
            stop.where = quick_stop::annotated;
        }
        // What ends the node stands at p.
        if (*p == ',' && open > 0) {
            ++p;
            stop = {quick_stop::node_starts, none};
        } else if (*p == ')' && open > 0) {
            const node_ref n = inner;
            inner = nodes[n].parent;
            --open;
            nodes[n].close = text_at(p);
            ++p;
            stop = {quick_stop::annotation_due, n};
        } else {
            break;
        }
    }
    const auto taken_here = static_cast<std::size_t>(p - from);
    if (taken_here > 0) std::memcpy(to, from, taken_here);
    t.text.wrote(to + taken_here);
    at += taken_here;
    t.nodes.wrote(nodes + count);
    depth = open;
    innermost = inner;
    return stop;
}

// Reads what follows a node's children, or makes a leaf: label, comments,
// ":" and length, comments. The node stands `depth` groups deep.
bool reader::read_annotation(tree& t, node_ref n, std::size_t depth) {
    node& v = t.nodes[n];
    skip_blanks();
    if (!read_label(t)) return false;
    v.label_end = static_cast<std::uint32_t>(t.text.size());
    const bool unquoted = v.label_end > v.label_at() && t.text[v.label_at()] != '\'';
    const std::size_t label_ends = taken + at;
    if (!read_comments(t)) return false;
    v.colon = v.length_end = static_cast<std::uint32_t>(t.text.size());
    if (peek() == ':') {
        t.text.push_back(':');
        advance();
        if (!read_comments(t)) return false;  // they stay with the node, after its ":"
        skip_blanks();
        const std::size_t from_line = line, from_column = column(), number = t.text.size();
        copy_plain(t);
        const std::string_view length = t.text.view().substr(number);
        if (!plain_length(length)) {
            decimal parsed;
            switch (parse_decimal(length, parsed)) {
            case length_fault::none: break;
            case length_fault::not_a_number: return fail(from_line, from_column, "length is not a number"), false;
            case length_fault::out_of_range: return fail(from_line, from_column, "length out of range"), false;
            }
            // Its half, which its rooting writes, must be in range too. The
            // root's own length is never halved.
            if (depth == 1) {
                root_lengths.push_back({n, from_line, from_column});
            } else if (depth > 1 && !half_in_range(length)) {
                return fail(from_line, from_column, "length out of range"), false;
            }
        }
        v.length_end = static_cast<std::uint32_t>(t.text.size());
        if (!read_comments(t)) return false;
    }
    if (!v.has_length()) v.colon = v.length_end = static_cast<std::uint32_t>(t.text.size());
    v.end = static_cast<std::uint32_t>(t.text.size());
    if (t.text.size() > longest_text) return fail_here("tree too long"), false;
    const int c = peek();
    if (is_plain(c) || c == '\'') {
        // Only blanks stood between the label and this.
        if (unquoted && v.end == v.label_end && taken + at != label_ends)
            return fail_here("unexpected " + shown(c) + ": a label with blanks must be quoted"), false;
        return fail_here("unexpected " + shown(c)), false;
    }
    return true;
}

// The lengths the rootings make of the root's children's: the halves of
// each, or, for a root of two, their sum and its half.
bool reader::root_lengths_in_range(const tree& t) {
    if (root_lengths.empty()) return true;
    const placed& last = root_lengths.back();
    if (t.two_children(0)) {
        const node_ref second = t.after(1);
        if (!sum_in_range(t.length(1), t.length(second)))
            return fail(last.line, last.column, "length out of range"), false;
        return true;
    }
    for (const placed& p : root_lengths)
        if (!half_in_range(t.length(p.n))) return fail(p.line, p.column, "length out of range"), false;
    return true;
}

// Skips a byte-order mark at the start of the input, once.
void reader::start() {
    if (started) return;
    started = true;
    static const char bom[] = "\xEF\xBB\xBF";
    if (peek() == 0xEF && filled - at >= 3 && std::memcmp(data + at, bom, 3) == 0) {
        at += 3;
        line_start = taken + at;  // columns count from after it
    }
}

reader::result reader::next(tree& t) {
    t.clear();
    root_lengths.clear();
    start();
    skip_blanks();
    if (peek() < 0) {
        if (trees == 0) {
            trees = 1;
            return fail_here(unreadable ? "input not read" : "no tree in the input");
        }
        return unreadable ? fail_here("input not read") : end;
    }
    ++trees;
    if (!read_comments(t)) return failed;
    t.leading = static_cast<std::uint32_t>(t.text.size());

    depth = 0;
    innermost = none;
    auto add_node = [&]() {
        node v;
        v.start = static_cast<std::uint32_t>(t.text.size());
        v.parent = innermost;
        t.nodes.push_back(v);
        return static_cast<node_ref>(t.nodes.size() - 1);
    };
    for (;;) {
        // As much as can be taken at once; then the general way.
        const quick_stop stop = quick_nodes(t);
        node_ref n = stop.n;
        if (stop.where == quick_stop::node_starts) {
            // A node starts here.
            skip_blanks();
            if (peek() == '(') {
                innermost = add_node();
                ++depth;
                opened(t.nodes[innermost], line, column());
                t.text.push_back('(');
                advance();
                continue;
            }
            n = add_node();
        }
        // Then its annotation, and after it what ends the node.
        for (bool due = stop.where != quick_stop::annotated;; due = true) {
            if (due && !read_annotation(t, n, depth)) return failed;
            skip_blanks();
            const int c = peek();
            if (c == ',' && depth > 0) {
                t.text.push_back(',');
                advance();
                break;
            }
            if (c == ')' && depth > 0) {
                n = innermost;
                innermost = t.nodes[n].parent;
                --depth;
                t.nodes[n].close = static_cast<std::uint32_t>(t.text.size());
                t.text.push_back(')');
                advance();
                continue;
            }
            if (c == ';' && depth == 0) {
                if (!root_lengths_in_range(t)) return failed;
                advance();
                return read;
            }
            if (c == ';' || c < 0) {
                if (depth == 0) return fail_here("tree ends without ';'");
                const node& v = t.nodes[innermost];
                return fail(opened_line(v), opened_column(v), "unbalanced parentheses: '(' not closed");
            }
            if (c == ')') return fail_here("unbalanced parentheses: ')' without '('");
            if (c == '(' && depth == 0) return fail_here("tree ends without ';' before '('");
            return fail_here("unexpected " + shown(c));
        }
    }
}

}  // namespace quorlen::standard
