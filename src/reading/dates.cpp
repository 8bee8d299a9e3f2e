// Reading dates: the date forms, the dates table and its columns, and the
// dates in leaves' names.
#include "reading/dates.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <functional>

#include <sys/stat.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace quorlen::standard {

namespace {

bool leap(long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(long y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : days[m - 1];
}

// The day of the year, from 1.
int day_of_year(long y, int m, int d) {
    int n = d;
    for (int i = 1; i < m; ++i) n += days_in_month(y, i);
    return n;
}

// Y plus the middle of days first and last of it, each counted from 1.
double middle_of(long y, int first, int last) {
    const double days = leap(y) ? 366 : 365;
    return static_cast<double>(y) + ((first - 0.5) + (last - 0.5)) / 2 / days;
}

bool whole_number(std::string_view s, double& out) {
    if (s.empty()) return false;
    const char* end = s.data() + s.size();
    const auto r = std::from_chars(s.data(), end, out);
    return r.ec == std::errc() && r.ptr == end && std::isfinite(out);
}

// Two characters of digits, a number from 1 to most; 0 for "XX"; -1 else.
int two_digits(std::string_view s, int most) {
    if (s == "XX" || s == "xx") return 0;
    if (s.size() != 2 || s[0] < '0' || s[0] > '9' || s[1] < '0' || s[1] > '9') return -1;
    const int n = (s[0] - '0') * 10 + (s[1] - '0');
    return n >= 1 && n <= most ? n : -1;
}

bool calendar(std::string_view s, double& year) {
    const std::size_t dash = s.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash > 6) return false;
    long y = 0;
    for (std::size_t i = 0; i < dash; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        y = y * 10 + (s[i] - '0');
    }
    const std::string_view rest = s.substr(dash + 1);
    if (rest.size() != 2 && (rest.size() != 5 || rest[2] != '-')) return false;
    const int m = two_digits(rest.substr(0, 2), 12);
    if (m < 0) return false;
    int d = 0;
    if (rest.size() == 5) {
        d = two_digits(rest.substr(3), m > 0 ? days_in_month(y, m) : 31);
        if (d < 0) return false;
    }
    if (m == 0) {
        year = middle_of(y, 1, leap(y) ? 366 : 365);
    } else if (d == 0) {
        year = middle_of(y, day_of_year(y, m, 1), day_of_year(y, m, days_in_month(y, m)));
    } else {
        const int n = day_of_year(y, m, d);
        year = middle_of(y, n, n);
    }
    return true;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

bool same_letters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

bool holds_date(std::string_view header) {
    for (std::size_t i = 0; i + 4 <= header.size(); ++i)
        if (same_letters(header.substr(i, 4), "date")) return true;
    return false;
}

// The fields of one row of text, from `at` to its line's end, quoted fields
// unquoted in place: each a view into text. Returns where the next row
// starts; false in `closed` for a quote that runs to the end of the text.
std::size_t row(byte_buffer& text, std::size_t at, char separator, std::vector<std::string_view>& fields,
                std::size_t& lines, bool& closed) {
    fields.clear();
    closed = true;
    const std::size_t n = text.size();
    for (;;) {
        std::size_t from = at;
        while (at < n && (text[at] == ' ' || (text[at] == '\t' && separator != '\t'))) ++at;
        if (at < n && text[at] == '"') {
            // "..." with "" for a quote: the text closes up over the quotes.
            std::size_t to = ++at;
            from = to;
            for (;;) {
                if (at == n) {
                    closed = false;
                    return n;
                }
                if (text[at] == '"') {
                    if (at + 1 < n && text[at + 1] == '"') {
                        text[to++] = '"';
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                if (text[at] == '\n') ++lines;
                text[to++] = text[at++];
            }
            fields.emplace_back(text.data() + from, to - from);
            while (at < n && text[at] != separator && text[at] != '\n') ++at;  // blanks after the quote
        } else {
            while (at < n && text[at] != separator && text[at] != '\n') ++at;
            fields.push_back(trimmed(std::string_view(text.data() + from, at - from)));
        }
        if (at < n && text[at] == separator) {
            ++at;
            continue;
        }
        if (at < n) ++at;  // the line's end
        ++lines;
        return at;
    }
}

}  // namespace

date_field read_date(std::string_view field, double& year) {
    const std::string_view s = trimmed(field);
    if (s.empty() || s == "?" || s == "NA") return date_field::none;
    if (s.front() == '[' && s.back() == ']') {
        const std::string_view inside = s.substr(1, s.size() - 2);
        const std::size_t colon = inside.find(':');
        double a, b;
        if (colon == std::string_view::npos || !whole_number(trimmed(inside.substr(0, colon)), a) ||
            !whole_number(trimmed(inside.substr(colon + 1)), b))
            return date_field::wrong;
        year = a + (b - a) / 2;
        return date_field::date;
    }
    if (whole_number(s, year)) return date_field::date;
    return calendar(s, year) ? date_field::date : date_field::wrong;
}

bool date_in_name(std::string_view name, double& year) {
    std::size_t cut = name.rfind('|');
    if (cut == std::string_view::npos) cut = name.rfind('_');
    if (cut == std::string_view::npos) cut = name.rfind('/');
    if (cut == std::string_view::npos) return false;
    return read_date(name.substr(cut + 1), year) == date_field::date;
}

namespace {

// A name's hash: eight bytes at a time, each word mixed in by a multiply,
// and the whole mixed again, so that names that differ in one digit fall
// far apart.
std::uint64_t hash_of(std::string_view s) {
    constexpr std::uint64_t k = 0x9E3779B97F4A7C15ull;
    std::uint64_t h = s.size() * k;
    const char* p = s.data();
    std::size_t n = s.size();
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        h = (h ^ w) * k;
        h ^= h >> 29;
    }
    if (n > 0) {
        std::uint64_t w = 0;
        std::memcpy(&w, p, n);
        h = (h ^ w) * k;
    }
    h ^= h >> 32;
    h *= 0xD6E8FEB86659FD93ull;
    h ^= h >> 32;
    return h;
}

std::uint64_t tag_of(std::uint64_t h) { return h >> 32 << 32; }

}  // namespace

std::size_t dates_table::slot_of(std::string_view key, std::size_t h) const {
    const std::size_t mask = slots.size() - 1;
    const std::uint64_t tag = tag_of(h);
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
        const std::uint64_t s = slots[i];
        if (s == 0 || ((s >> 32 << 32) == tag && name_at((s & UINT32_MAX) - 1) == key)) return i;
    }
}

std::string dates_table::assign(const std::vector<std::pair<std::string_view, double>>& given) {
    std::size_t bytes = 0;
    for (const auto& [name, year] : given) bytes += head + name.size();
    if (bytes >= UINT32_MAX) return "too many dates";
    records.clear();
    records.reserve(bytes);
    char* put_at = records.data();
    std::size_t size = 16;
    while (size < 2 * given.size()) size *= 2;
    slots.assign(size, 0);
    rows = 0;
    for (const auto& [name, year] : given) {
        const std::size_t start = static_cast<std::size_t>(put_at - records.data());
        put_at = put_record(put_at, name, year);
        records.wrote(put_at);
        const std::uint64_t h = hash_of(name);
        const std::size_t s = slot_of(name, h);
        if (slots[s] != 0) {
            const std::string repeated(name);
            rows = 0;
            slots.clear();
            return "'" + repeated + "' is given twice";
        }
        slots[s] = tag_of(h) | (start + 1);
        ++rows;
    }
    return "";
}

bool dates_table::find(std::string_view key, double& year) const {
    double y;
    find(&key, 1, &y);
    if (std::isnan(y)) return false;
    year = y;
    return true;
}

void dates_table::find(const std::string_view* keys, std::size_t count, double* out) const {
    if (slots.empty()) {
        for (std::size_t i = 0; i < count; ++i) out[i] = std::nan("");
        return;
    }
    // A pipeline: key i's slot is fetched `ahead` keys before its record,
    // and its record `ahead` keys before it is compared, so that a few
    // fetches are always on their way.
    constexpr std::size_t ahead = 8, ring = 4 * ahead;
    std::uint64_t h[ring];
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = 0; i < count + 2 * ahead; ++i) {
        if (i < count) {
            h[i % ring] = hash_of(keys[i]);
            __builtin_prefetch(&slots[h[i % ring] & mask]);
        }
        if (i >= ahead && i - ahead < count) {
            const std::uint64_t s = slots[h[(i - ahead) % ring] & mask];
            if (s != 0) __builtin_prefetch(records.data() + (s & UINT32_MAX) - 1);
        }
        if (i >= 2 * ahead) {
            const std::size_t j = i - 2 * ahead;
            const std::uint64_t s = slots[slot_of(keys[j], h[j % ring])];
            out[j] = s == 0 ? std::nan("") : year_at((s & UINT32_MAX) - 1);
        }
    }
}

std::string dates_table::load(const std::string& path) {
    byte_buffer text;
    {
        std::FILE* in = std::fopen(path.c_str(), "rb");
        if (!in) return "dates file '" + path + "' not opened: " + std::strerror(errno);
        // Straight into the text: a file of known size in one read, with
        // room for one byte more, so that its end is seen at once.
        struct stat about;
        std::size_t want = 1 << 16;
        if (fstat(fileno(in), &about) == 0 && S_ISREG(about.st_mode)) want = static_cast<std::size_t>(about.st_size) + 1;
        for (;;) {
            char* to = text.room(want);
            const std::size_t got = std::fread(to, 1, want, in);
            text.wrote(to + got);
            if (got < want) break;
            want = std::max<std::size_t>(1 << 16, text.size() / 2);
        }
        const bool failed = std::ferror(in);
        std::fclose(in);
        if (failed) return "dates file '" + path + "' not read";
    }
    std::size_t at = text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    const std::size_t n = text.size();
    const std::string where = path + ", line ";
    std::size_t lines = 0;
    std::vector<std::string_view> fields;
    bool closed;
    // The header: the first line that is not blank.
    while (at < n && (text[at] == '\n' || text[at] == '\r')) at += text[at] == '\n' ? (++lines, 1) : 1;
    if (at == n) return path + ": no header line";
    const char* line_end = static_cast<const char*>(std::memchr(text.data() + at, '\n', n - at));
    const std::size_t header_end = line_end ? static_cast<std::size_t>(line_end - text.data()) : n;
    const char separator = std::memchr(text.data() + at, '\t', header_end - at) ? '\t' : ',';
    at = row(text, at, separator, fields, lines, closed);
    if (!closed) return where + std::to_string(lines + 1) + ": '\"' not closed";
    std::size_t name_column = 0, date_column = fields.size();
    bool named = false;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string_view h = fields[i];
        if (!named && (same_letters(h, "name") || same_letters(h, "strain") || same_letters(h, "taxon") ||
                       same_letters(h, "accession") || same_letters(h, "sample"))) {
            name_column = i;
            named = true;
        }
        if (date_column == fields.size() && holds_date(h)) date_column = i;
    }
    if (date_column == fields.size()) return where + std::to_string(lines) + ": no column's name holds 'date'";
    // A record is no longer than its row and a head: room for them all.
    const std::size_t most = static_cast<std::size_t>(std::count(text.data() + at, text.data() + n, '\n')) + 1;
    records.clear();
    records.reserve(n - at + most * head);
    char* put_at = records.data();
    rows = 0;
    std::size_t size = 16;
    while (size < 2 * most) size *= 2;
    slots.assign(size, 0);
    // Each row is put in its slot a few rows after it is read, its slot
    // fetched meanwhile. The first name given twice is the error, once
    // every row has been read.
    constexpr std::size_t ahead = 16;
    struct waiting {
        std::uint64_t h;
        std::size_t start, line;
    } queue[ahead];
    std::size_t queued = 0, twice = 0, twice_line = 0;  // twice: the record's start + 1
    auto insert = [&](const waiting& w) {
        const std::size_t s = slot_of(name_at(w.start), w.h);
        if (slots[s] != 0) {
            if (twice == 0) twice = w.start + 1, twice_line = w.line;
            return;
        }
        slots[s] = tag_of(w.h) | (w.start + 1);
    };
    while (at < n) {
        const std::size_t line = lines + 1;
        at = row(text, at, separator, fields, lines, closed);
        if (!closed) return where + std::to_string(line) + ": '\"' not closed";
        if (fields.size() == 1 && fields[0].empty()) continue;  // a blank line
        const std::string_view key = name_column < fields.size() ? fields[name_column] : std::string_view();
        const std::string_view field = date_column < fields.size() ? fields[date_column] : std::string_view();
        if (key.empty()) continue;
        double year = std::nan("");
        if (read_date(field, year) == date_field::wrong)
            return where + std::to_string(line) + ": '" + std::string(trimmed(field)) + "' is not a date";
        if (static_cast<std::size_t>(put_at - records.data()) + head + key.size() >= UINT32_MAX)
            return where + std::to_string(line) + ": too many dates";
        const waiting w{hash_of(key), static_cast<std::size_t>(put_at - records.data()), line};
        __builtin_prefetch(&slots[w.h & (size - 1)]);
        put_at = put_record(put_at, key, year);
        ++rows;
        if (queued == ahead) insert(queue[rows % ahead]);
        else ++queued;
        queue[rows % ahead] = w;
    }
    records.wrote(put_at);
    for (std::size_t k = queued; k-- > 0;) insert(queue[(rows - k) % ahead]);  // the oldest first
    if (twice != 0) {
        const std::string repeated(name_at(twice - 1));
        rows = 0;
        slots.clear();
        return where + std::to_string(twice_line) + ": '" + repeated + "' is given twice";
    }
#ifdef __GLIBC__
    // What reading the table took and gave back, back to the system: a big
    // tree's arrays come next.
    malloc_trim(0);
#endif
    return "";
}

}  // namespace quorlen::standard
