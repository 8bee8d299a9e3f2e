// The NEXUS reader: blocks, TRANSLATE tables and TREE commands around each
// tree's Newick.
#include "reading/nexus.h"

#include <algorithm>
#include <vector>

namespace quorlen::standard {

namespace {

// Keywords are read in any case.
bool is(std::string_view word, std::string_view keyword) {
    if (word.size() != keyword.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        char c = word[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != keyword[i]) return false;
    }
    return true;
}

bool is_blank(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// What ends an unquoted word of a command.
bool ends_word(int c) {
    return c < 0 || is_blank(c) || c == ';' || c == ',' || c == '=' || c == '[' || c == '\'' || c == '"';
}

std::string shown(const std::string& value) { return "'" + value + "'"; }

}  // namespace

nexus_reader::nexus_reader(reader& from) : in(from) {
    for (int i = 0; i < 6; ++i) in.advance();  // "#NEXUS", in whatever case
    text = "#NEXUS\n";
}

void nexus_reader::take() {
    if (recording) recorded += static_cast<char>(in.peek());
    in.advance();
}

// Skips blanks and comments; a comment is appended to *keep, if given, with
// `after` after it.
bool nexus_reader::space(std::string* keep, char after) {
    for (;;) {
        const int c = peek();
        if (is_blank(c)) {
            take();
        } else if (c == '[') {
            if (!comment(keep)) return false;
            if (keep) *keep += after;
        } else {
            return true;
        }
    }
}

// A comment, "[" to its "]"; comments nest.
bool nexus_reader::comment(std::string* keep) {
    const std::size_t line = in.line_number(), column = in.column();
    std::size_t depth = 0;
    do {
        const int c = peek();
        if (c < 0) return fail(line, column, "unterminated comment"), false;
        if (c == '[') ++depth;
        if (c == ']') --depth;
        if (keep) *keep += static_cast<char>(c);
        take();
    } while (depth > 0);
    return true;
}

// A word: quoted, '...' or "...", a doubled quote standing for one; or
// unquoted, up to a blank or punctuation. Empty where punctuation or the end
// stands.
bool nexus_reader::read_word(word& w) {
    w.raw.clear();
    w.value.clear();
    w.line = in.line_number();
    w.column = in.column();
    const int quote = peek();
    if (quote != '\'' && quote != '"') {
        for (int c = peek(); !ends_word(c); c = peek()) {
            w.raw += static_cast<char>(c);
            take();
        }
        w.value = w.raw;
        return true;
    }
    w.raw += static_cast<char>(quote);
    take();
    for (;;) {
        const int c = peek();
        if (c < 0) return fail(w.line, w.column, "unterminated quote"), false;
        w.raw += static_cast<char>(c);
        take();
        if (c == quote) {
            if (peek() != quote) return true;
            w.raw += static_cast<char>(quote);
            take();
        }
        w.value += static_cast<char>(c);
    }
}

// Takes what is left of a command, to its ";", quoted words and comments
// whole. False at the end of the input, with no error set.
bool nexus_reader::skip_command(bool& ended) {
    ended = false;
    word w;
    for (;;) {
        if (!space(nullptr, ' ')) return false;
        const int c = peek();
        if (c < 0) return true;
        if (c == ';') {
            take();
            ended = true;
            return true;
        }
        if (c == '\'' || c == '"') {
            if (!read_word(w)) return false;
        } else {
            take();
        }
    }
}

reader::result nexus_reader::next(tree& t) {
    for (;;) {
        if (!space(&text, '\n')) return reader::failed;
        const std::size_t line = in.line_number(), column = in.column();
        if (peek() < 0) {
            if (in_trees) return fail(begin.line, begin.column, "block " + shown(block_name) + " ends without END;");
            if (in.trees_begun() == 0) return fail(line, column, "no tree in the input");
            return reader::end;
        }
        recording = true;
        recorded.clear();
        word command;
        if (!read_word(command)) return reader::failed;
        bool ended = false;
        if (!in_trees) {
            // A block; or, though none should stand here, a command.
            if (is(command.value, "begin")) {
                if (!read_begin(command)) return reader::failed;
                ended = true;
            } else {
                if (command.raw.empty() && peek() != ';') take();
                if (!skip_command(ended)) return reader::failed;
                if (!ended) return fail(line, column, "command ends without ';'");
            }
            recording = false;
            text += recorded;
            text += '\n';
            continue;
        }
        if (is(command.value, "tree") || is(command.value, "utree")) {
            recording = false;
            return read_tree(t);
        }
        if (is(command.value, "end") || is(command.value, "endblock")) {
            if (!space(nullptr, ' ')) return reader::failed;
            if (peek() != ';') return fail(in.line_number(), in.column(), "END without ';'");
            take();
            recording = false;
            in_trees = false;
            text += "END;\n";
            continue;
        }
        if (is(command.value, "translate")) {
            if (!read_translate(ended)) return reader::failed;
        } else {
            if (command.raw.empty() && peek() != ';') take();
            if (!skip_command(ended)) return reader::failed;
        }
        recording = false;
        if (!ended) return fail(begin.line, begin.column, "block " + shown(block_name) + " ends without END;");
        text += '\t';
        text += recorded;
        text += '\n';
    }
}

// "BEGIN name;" and, but for TREES, the whole block to its END: copied as
// read.
bool nexus_reader::read_begin(const word& command) {
    begin = command;
    word name;
    if (!space(nullptr, ' ') || !read_word(name)) return false;
    if (name.raw.empty()) return fail(in.line_number(), in.column(), "BEGIN without the block's name"), false;
    if (!space(nullptr, ' ')) return false;
    if (peek() != ';') return fail(in.line_number(), in.column(), "BEGIN " + name.raw + " without ';'"), false;
    take();
    block_name = name.value;
    if (is(name.value, "trees")) {
        in_trees = true;
        table.clear();
        return true;
    }
    // Any other block, command by command to its END.
    word w;
    for (;;) {
        if (!space(nullptr, ' ')) return false;
        if (peek() < 0) return fail(begin.line, begin.column, "block " + shown(block_name) + " ends without END;"), false;
        if (!read_word(w)) return false;
        if (is(w.value, "end") || is(w.value, "endblock")) {
            if (!space(nullptr, ' ')) return false;
            if (peek() == ';') {
                take();
                return true;
            }
        }
        if (w.raw.empty() && peek() != ';') take();
        bool ended;
        if (!skip_command(ended)) return false;
        if (!ended) return fail(begin.line, begin.column, "block " + shown(block_name) + " ends without END;"), false;
    }
}

// TRANSLATE key name, key name, ... ;
bool nexus_reader::read_translate(bool& ended) {
    ended = false;
    table.clear();
    word key, name;
    for (;;) {
        if (!space(nullptr, ' ')) return false;
        if (peek() < 0) return true;
        if (peek() == ';') break;
        if (!read_word(key)) return false;
        if (key.raw.empty()) return fail(key.line, key.column, "unexpected " + std::string(1, static_cast<char>(peek())) + " in TRANSLATE"), false;
        if (!space(nullptr, ' ') || !read_word(name)) return false;
        if (name.raw.empty()) return fail(key.line, key.column, "TRANSLATE key " + shown(key.value) + " without its name"), false;
        if (!table.emplace(key.value, taxon_name{name.value, as_label(name.value)}).second)
            return fail(key.line, key.column, "TRANSLATE key " + shown(key.value) + " given twice"), false;
        if (!space(nullptr, ' ')) return false;
        const int c = peek();
        if (c < 0) return true;
        if (c == ';') break;
        if (c != ',') return fail(in.line_number(), in.column(), "TRANSLATE entries not separated by ','"), false;
        take();
    }
    take();
    ended = true;
    return true;
}

// TREE [*] name [comments] = [comments] newick;
reader::result nexus_reader::read_tree(tree& t) {
    current.name.clear();
    current.comments.clear();
    current.star = false;
    if (!space(&current.comments, ' ')) return reader::failed;
    if (peek() == '*') {
        take();
        current.star = true;
        if (!space(&current.comments, ' ')) return reader::failed;
    }
    word name;
    if (!read_word(name)) return reader::failed;
    if (name.raw.empty()) return fail(name.line, name.column, "TREE without a name");
    current.name = name.raw;
    if (!space(&current.comments, ' ')) return reader::failed;
    if (peek() != '=') return fail(in.line_number(), in.column(), "TREE without '='");
    take();
    // The tree, the comments before it and its ";", as the standard mode
    // reads them.
    if (in.ahead(1).empty()) return fail(in.line_number(), in.column(), "TREE without its tree");
    const reader::result got = in.next(t);
    // "(A,B) END;" reads as a root labelled END: the ";" was left out.
    if (got == reader::read && !t.nodes[0].is_leaf() && (is(t.label(0), "end") || is(t.label(0), "endblock")))
        return in.fail_in_tree("TREE without ';' before END");
    return got;
}

void translate_leaves(tree& t, const translation& names) {
    const std::size_t count = t.nodes.size();
    if (names.empty() || count == 0) return;
    // shift[n]: how much longer the text before node n's start grew, nodes in
    // pre-order, which is the order of the text; shift[count] for all.
    std::vector<std::int64_t> shift(count + 1, 0);
    byte_buffer text;
    std::uint32_t copied = 0;
    bool any = false;
    for (node_ref n = 0; n < count; ++n) {
        shift[n + 1] = shift[n];
        const node& v = t.nodes[n];
        if (!v.is_leaf() || n == 0) continue;
        const auto found = names.find(label_value(t.label(n)));
        if (found == names.end()) continue;
        const std::string& label = found->second.label;
        const std::string_view before = t.span(copied, v.start);
        char* p = text.room(before.size() + label.size());
        std::copy(before.begin(), before.end(), p);
        std::copy(label.begin(), label.end(), p + before.size());
        text.wrote(p + before.size() + label.size());
        copied = v.label_end;
        any = true;
        shift[n + 1] += static_cast<std::int64_t>(label.size()) - (v.label_end - v.start);
    }
    if (!any) return;
    const std::string_view rest = t.span(copied, static_cast<std::uint32_t>(t.text.size()));
    char* p = text.room(rest.size());
    std::copy(rest.begin(), rest.end(), p);
    text.wrote(p + rest.size());
    for (node_ref n = 0; n < count; ++n) {
        node& v = t.nodes[n];
        const auto moved = [&](std::uint32_t at, std::int64_t by) { return static_cast<std::uint32_t>(at + by); };
        // Fields after a node's children move with all of them.
        const std::int64_t after = shift[t.after(n)];
        v.start = moved(v.start, shift[n]);
        if (!v.is_leaf()) v.close = moved(v.close, after);
        v.label_end = moved(v.label_end, after);
        v.colon = moved(v.colon, after);
        v.length_end = moved(v.length_end, after);
        v.end = moved(v.end, after);
    }
    t.text.clear();
    p = t.text.room(text.size());
    std::copy(text.begin(), text.end(), p);
    t.text.wrote(p + text.size());
}

}  // namespace quorlen::standard
