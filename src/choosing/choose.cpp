// Choosing a root for one tree: the view, the method, and the line or the
// table of scores that comes of it.
#include "choosing/choose.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <charconv>
#include <cstring>
#include <exception>
#include <thread>

#include "choosing/methods.h"

namespace quorlen::standard::roots {

namespace {

// The shortest decimal that reads back as the same double.
decimal shortest(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    decimal d;
    parse_decimal(std::string_view(text, static_cast<std::size_t>(end - text)), d);
    return d;
}

std::string number_text(const decimal& d) {
    std::string out;
    write_decimal(d, out);
    return out;
}

}  // namespace

chooser::chooser(options o) : how(std::move(o)) {}

std::string chooser::choose(const tree& t, const translation* names) {
    table.clear();
    branch = none;
    x = decimal{};
    middle = false;
    lines.reset(new rootings(t, how.labels, space));
    view.emplace(t);
    const unrooted& u = *view;
    found f;
    std::vector<branch_score> every;
    std::vector<branch_score>* wanted = how.scores ? &every : nullptr;
    std::string error;
    switch (how.how) {
    case method::outgroup: error = by_outgroup(u, how.outgroups, names, f); break;
    case method::midpoint: error = by_midpoint(u, f); break;
    case method::minvar: error = by_minvar(u, f, wanted); break;
    case method::mad: error = by_mad(u, f, wanted, how.threads); break;
    case method::clock: {
        big_vector<double> length;
        double longest;
        dates_of(u, names, [&] { clock_lengths(u, length, longest); });
        error = by_clock(u, leaf_dates, std::move(length), longest, how.r2, f, wanted, fitted);
        break;
    }
    }
    if (!error.empty()) return error;
    if (f.branch == none) return "";  // a tree of one node has no branch
    branch = u.chosen(f.branch);
    const bool flipped = u.flipped(f.branch);
    const std::string_view written = length_of(branch);
    parse_decimal(written, e);  // empty: 0
    switch (f.kind) {
    case found::middle:
        middle = true;
        x = half(e);
        break;
    case found::exact:
        x = flipped ? subtract(e, f.exact_x) : f.exact_x;
        break;
    case found::real: {
        // A point at an end is that end, exactly; the end as the method saw
        // it, in doubles.
        const double length = u.length(f.branch);
        const bool low = f.real_x == 0, high = f.real_x == length;
        if (low || high) {
            x = low != flipped ? decimal{} : e;
        } else {
            x = shortest(flipped ? length - f.real_x : f.real_x);
        }
        // A point that rounding put past an end of the branch as read is
        // that end.
        const bool negative = e.negative;
        const decimal& least = negative ? e : decimal{};
        const decimal& most = negative ? decimal{} : e;
        if (subtract(x, least).negative) x = least;
        if (subtract(most, x).negative) x = most;
        break;
    }
    }
    if (!every.empty()) {
        // Leaves below each view node.
        std::vector<std::uint32_t> below(u.size(), 0);
        for (std::uint32_t v = u.size(); v-- > 1;) {
            below[v] += u.extent[v] == 1;
            below[u.parent(v)] += below[v];
        }
        for (node_ref n : lines->chosen()) {
            const std::uint32_t v = u.branch_of(n);
            scored_branch row;
            row.chosen = n;
            row.leaves = u.flipped(v) ? u.leaves() - below[v] : below[v];
            row.length = length_value(length_of(n));
            // From the chosen node's end, within the branch as read.
            const double at = every[v].position, from_lower = u.length(v);
            row.position = !u.flipped(v) ? at : at == 0 ? row.length : at == from_lower ? 0 : from_lower - at;
            row.position = std::clamp(row.position, std::min(0.0, row.length), std::max(0.0, row.length));
            row.score = every[v].score;
            row.rate = every[v].rate;
            row.root_date = every[v].root_date;
            row.r2 = every[v].r2;
            row.empty = every[v].empty;
            table.push_back(row);
        }
    }
    return "";
}

void chooser::dates_of(const unrooted& u, const translation* names, const std::function<void()>& beside) {
    leaf_dates.assign(u.leaves(), std::nan(""));
    // The leaves of view nodes [from, to), the first of them leaf i. A
    // table is asked for a batch of names at a time.
    auto part = [&](std::uint32_t from, std::uint32_t to, std::uint32_t i) {
        constexpr std::size_t batch = 256;
        std::string name[batch];
        std::string_view key[batch];
        std::uint32_t at[batch];
        double year[batch];
        std::size_t n = 0;
        auto look_up = [&] {
            how.dates->find(key, n, year);
            for (std::size_t k = 0; k < n; ++k) leaf_dates[at[k]] = year[k];
            n = 0;
        };
        for (std::uint32_t v = from; v < to; ++v) {
            if (!u.is_leaf(v)) continue;
            key[n] = leaf_name_of(u, v, names, name[n]);
            if (!how.dates) {
                if (date_in_name(key[n], year[0])) leaf_dates[i] = year[0];
            } else {
                at[n++] = i;
                if (n == batch) look_up();
            }
            ++i;
        }
        if (how.dates && n > 0) look_up();
    };
    // The table may still be being read: each thread waits for it before
    // its first look-up. Names carry their dates with no wait.
    const bool table = how.dates != nullptr;
    auto ready = [&] { return !table || !how.dates_ready || how.dates_ready(); };
    const std::uint32_t m = u.size();
    if (m < (1u << 16)) {
        beside();
        if (ready()) part(0, m, 0);
        return;
    }
    // A big tree's leaves in pieces that two threads take in turn, the
    // other work beside them on this one: each look-up waits on memory, and
    // finding the dates is the clock's biggest part after its passes.
    constexpr std::uint32_t piece = 1u << 14;
    const std::uint32_t pieces = (m + piece - 1) / piece;
    std::vector<std::uint32_t> first(pieces, 0);  // the leaf each piece starts with
    for (std::uint32_t k = 1, i = 0, v = 0; k < pieces; ++k) {
        for (; v < k * piece; ++v) i += u.is_leaf(v);
        first[k] = i;
    }
    std::atomic<std::uint32_t> next{0};
    auto take = [&] {
        if (!ready()) return;
        for (std::uint32_t k; (k = next.fetch_add(1)) < pieces;)
            part(k * piece, k + 1 == pieces ? m : (k + 1) * piece, first[k]);
    };
    std::exception_ptr failed;
    std::thread other([&] {
        try {
            take();
        } catch (...) {
            failed = std::current_exception();
        }
    });
    try {
        beside();
        take();
    } catch (...) {
        next = pieces;
        other.join();
        throw;
    }
    other.join();
    if (failed) std::rethrow_exception(failed);
}

void chooser::forget_clock() {
    fitted.distance = big_vector<double>();
    fitted.residual = big_vector<double>();
    fitted.outlier = big_vector<char>();
    leaf_dates = big_vector<double>();
}

std::size_t chooser::branch_number() const {
    std::size_t n = 0;
    for (node_ref c : lines->chosen()) {
        ++n;
        if (c == branch) break;
    }
    return n;
}

std::string_view chooser::length_of(node_ref n) const {
    return lines->branch_length(n);
}

std::size_t chooser::longest() const {
    return lines ? lines->longest() : 0;
}

char* chooser::write(const tree& t, char* p) { return write_to(t, p); }

line_cursor chooser::write(const tree& t, line_cursor p) { return write_to(t, p); }

template <class Out>
Out chooser::write_to(const tree& t, Out p) {
    if (branch == none) return put(put(p, t.text), ';');
    if (middle) return lines->write(branch, p);
    // A point at an end: 0, and the length as read.
    const std::string_view length = lines->branch_length(branch);
    if (length.empty()) return lines->write(branch, length, length, p);
    if (x.digits.empty()) return lines->write(branch, "0", length, p);
    if (x == e) return lines->write(branch, length, "0", p);
    return lines->write(branch, number_text(x), number_text(subtract(e, x)), p);
}

void chooser::write(const tree& t, std::string& out) {
    const std::size_t at = out.size();
    out.resize(at + longest() + t.text.size() + 2);
    char* end = write(t, &out[at]);
    out.resize(static_cast<std::size_t>(end - out.data()));
}

}  // namespace quorlen::standard::roots
