// Sampling dates of leaves: read from a table (comma- or tab-separated, a
// header line naming its columns) or from the leaves' names, each a decimal
// year. A date is a number (2019.37), a calendar day, month or year
// (2020-03-15, 2020-03, 2020-03-XX, 2020-XX-XX) or a range ([2019.1:2019.3]).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/memory.h"

namespace quorlen::standard {

// What a field of the date column holds.
enum class date_field { date, none, wrong };

// Reads a date: a day as Y + (d - 0.5) / D, d its day of the year from 1, D
// the days of Y; a month, a year or a range as the middle of its first and
// last day (of its two ends). Empty, "?" and "NA" are no date.
date_field read_date(std::string_view field, double& year);

// The date a leaf's name carries: the field after its last '|'; where it
// has none, after its last '_'; where none, after its last '/'. False where
// that is no date.
bool date_in_name(std::string_view name, double& year);

class dates_table {
public:
    // Reads the table at path; "" or what is wrong, with the file and line.
    std::string load(const std::string& path);
    // The table of the given names, each with its date (NaN: none), as a
    // caller holds them; "" or what is wrong (a name given twice).
    std::string assign(const std::vector<std::pair<std::string_view, double>>& rows);
    // The date of a name; false where the table has none for it.
    bool find(std::string_view name, double& year) const;
    // The dates of count names at once, NaN where none: their look-ups
    // overlap in memory, which one at a time wait for in turn.
    void find(const std::string_view* names, std::size_t count, double* years) const;
    std::size_t size() const { return rows; }

private:
    // Row after row, each its date (a double, NaN where the row has none),
    // its name's length (4 bytes) and its name: a look-up reads one place.
    pod_array<char> records;
    std::size_t rows = 0;
    // Open addressing, a power of two long: 0 empty, else the upper half of
    // the name's hash and where its record starts, plus 1.
    big_vector<std::uint64_t> slots;
    static constexpr std::size_t head = sizeof(double) + sizeof(std::uint32_t);  // before a record's name
    // Writes the record of name and year at p; returns its end.
    static char* put_record(char* p, std::string_view name, double year) {
        const std::uint32_t length = static_cast<std::uint32_t>(name.size());
        std::memcpy(p, &year, sizeof year);
        std::memcpy(p + sizeof year, &length, sizeof length);
        std::memcpy(p + head, name.data(), name.size());
        return p + head + name.size();
    }
    std::string_view name_at(std::size_t at) const {
        std::uint32_t n;
        std::memcpy(&n, records.data() + at + sizeof(double), sizeof n);
        return std::string_view(records.data() + at + head, n);
    }
    double year_at(std::size_t at) const {
        double y;
        std::memcpy(&y, records.data() + at, sizeof y);
        return y;
    }
    // The slot of name, with the hash h of it: where it stands, or the empty
    // slot it would take.
    std::size_t slot_of(std::string_view name, std::size_t h) const;
};

}  // namespace quorlen::standard
