// The root-choosing job over a whole input: each tree read, rooted and
// written in turn, NEXUS around the lines where the input was NEXUS.
#include "choosing/run.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "common/io.h"
#include "reading/input.h"
#include "reading/newick.h"
#include "rootings/nexus_write.h"

namespace quorlen {

namespace {

char* put_number(char* p, std::size_t n) { return std::to_chars(p, p + 24, n).ptr; }
char* put_number(char* p, double d) { return std::to_chars(p, p + 32, d).ptr; }

// One row of the table for each branch of tree number `number`; with the
// clock's columns where `clock`.
void write_scores(const standard::tree& t, std::size_t number, const standard::roots::chooser& c, bool clock,
                  line_writer& out) {
    std::size_t branch = 0;
    for (const standard::roots::scored_branch& row : c.scores()) {
        const std::string_view label = t.label(row.chosen), length = c.length_of(row.chosen);
        char* p = out.room(label.size() + length.size() + 3 * 24 + 5 * 32 + 12);
        p = put_number(p, number);
        *p++ = '\t';
        p = put_number(p, ++branch);
        *p++ = '\t';
        p = put(p, label);
        *p++ = '\t';
        p = put_number(p, row.leaves);
        *p++ = '\t';
        p = put(p, length);
        const double values[] = {row.position, row.score, row.rate, row.root_date, row.r2};
        for (std::size_t i = 0; i < (clock ? 5 : 2); ++i) {
            *p++ = '\t';
            if (!row.empty) p = put_number(p, values[i]);
        }
        *p++ = '\t';
        *p++ = row.chosen == c.chosen() ? '1' : '0';
        out.wrote(p);
        out.end_line();
    }
}

}  // namespace

int run_roots(const char* path, const standard::roots::options& given, bool newick, const std::string& dates,
              const standard::roots::clock_files& files) {
    standard::roots::options how = given;
    const bool clock = how.how == standard::roots::method::clock;
    standard::dates_table table;
    standard::roots::clock_reports reports;
    // The dates table is read while the first tree is read and seen, on a
    // thread of its own; nothing is written before it is in.
    std::string table_error;
    std::thread loader;
    std::promise<void> loaded;
    auto table_read = [&] {
        if (loader.joinable()) loader.join();
        return table_error.empty();
    };
    if (clock) {
        if (!dates.empty()) {
            loader = std::thread([&] {
                table_error = table.load(dates);
                loaded.set_value();
            });
            how.dates = &table;
            how.dates_ready = [in = loaded.get_future().share(), &table_error] {
                const std::shared_future<void> mine = in;  // a copy for each waiting thread
                mine.wait();
                return table_error.empty();
            };
        }
        const std::string error = reports.open(files);
        if (!error.empty()) return table_read() ? fail(error) : fail(table_error);
    }
    std::FILE* in = open_input(path);
    if (!in) return table_read() ? fail("file not opened") : fail(table_error);
    line_writer out(stdout);
    // A tree's lines are out before the input is read again.
    standard::tree_input input(fileno(in), [&out] { out.flush(); }, newick || how.scores);
    standard::tree t;
    standard::roots::chooser chooser(how);
    // The table's header, first of all, once any dates table is in.
    bool headed = !how.scores;
    auto head = [&] {
        if (headed || !table_read()) return;
        out.wrote(put(out.room(80), clock ? "tree\tbranch\tnode\tleaves\tlength\tposition\tscore\trate\troot_date\tr2\tbest"
                                          : "tree\tbranch\tnode\tleaves\tlength\tposition\tscore\tbest"));
        out.end_line();
        headed = true;
    };
    if (!loader.joinable()) head();
    standard::reader::result got;
    std::size_t trees = 0;
    std::string error, report_error;  // the tree's; a report's file's
    while ((got = input.next(t)) == standard::reader::read) {
        error = chooser.choose(t, input.names());
        if (++trees == 1 && !table_read()) break;
        head();
        out.add_lines(input.copied());
        input.copied().clear();
        if (!error.empty()) break;
        // The clock's reports first: their memory is given back before the
        // line is made.
        if (clock) {
            if (!(report_error = reports.add(trees, chooser, input.names())).empty()) break;
            chooser.forget_clock();
        }
        if (how.scores) {
            write_scores(t, trees, chooser, clock, out);
        } else {
            // A big tree's line goes out a block at a time as it is made.
            const bool nexus = input.nexus();
            out.line(
                nexus ? standard::tree_head_room(input.command()) : 0,
                [&](char* p) { return nexus ? standard::write_tree_head(input.command(), 0, p) : p; },
                chooser.longest() + t.text.size() + 2, [&](auto p) { return chooser.write(t, p); });
        }
        if (!out.ok()) break;
    }
    if (!table_read()) {
        close_input(in);
        return fail(table_error);
    }
    head();
    if (clock && report_error.empty()) report_error = reports.close();
    // The rest of a NEXUS file, or what stood before a bad tree.
    out.add_lines(input.copied());
    out.flush();
    close_input(in);
    if (!out.ok()) return fail_output();
    if (!report_error.empty()) return fail(report_error);
    if (!error.empty()) return fail("tree " + std::to_string(trees) + ": " + error);
    if (got == standard::reader::failed)
        return fail(input.input_failed() ? "file not opened" : input.error().message());
    return 0;
}

}  // namespace quorlen
