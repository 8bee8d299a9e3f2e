// Rooting by sampling dates: the date forms, the dates table, and the
// clock's choice on small trees worked by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "choosing/choose.h"
#include "reading/dates.h"
#include "standard_checks.h"

namespace quorlen::standard {
namespace {

double day(int year, int day_of_year, int days) { return year + (day_of_year - 0.5) / days; }

TEST(Dates, EveryForm) {
    struct row {
        std::string field;
        date_field kind;
        double year;
    };
    const std::vector<row> rows = {
        {"2019.37", date_field::date, 2019.37},
        {"2019", date_field::date, 2019},
        {"-250", date_field::date, -250},
        {" 1e3 ", date_field::date, 1000},
        // A day: its middle; 2020 is a leap year, 2021 is not, 1900 is not.
        {"2020-03-15", date_field::date, day(2020, 31 + 29 + 15, 366)},
        {"2021-03-15", date_field::date, day(2021, 31 + 28 + 15, 365)},
        {"1900-12-31", date_field::date, day(1900, 365, 365)},
        {"2000-02-29", date_field::date, day(2000, 60, 366)},
        // A month, a year, a range: the middle of their first and last days.
        {"2020-03", date_field::date, 2020 + (60.5 + 90.5) / 2 / 366},
        {"2020-03-XX", date_field::date, 2020 + (60.5 + 90.5) / 2 / 366},
        {"2020-02", date_field::date, 2020 + (31.5 + 59.5) / 2 / 366},
        {"2020-XX-XX", date_field::date, 2020.5},
        {"[2019.1:2019.3]", date_field::date, 2019.1 + (2019.3 - 2019.1) / 2},
        {"", date_field::none, 0},
        {"  ", date_field::none, 0},
        {"?", date_field::none, 0},
        {"NA", date_field::none, 0},
        {"2020-13-01", date_field::wrong, 0},
        {"2021-02-29", date_field::wrong, 0},
        {"2020-00", date_field::wrong, 0},
        {"2020-3-15", date_field::wrong, 0},
        {"2020/03/15", date_field::wrong, 0},
        {"[2019:]", date_field::wrong, 0},
        {"soon", date_field::wrong, 0},
        {"inf", date_field::wrong, 0},
    };
    for (const row& r : rows) {
        double year = 0;
        EXPECT_EQ(read_date(r.field, year), r.kind) << r.field;
        if (r.kind == date_field::date) {
            EXPECT_DOUBLE_EQ(year, r.year) << r.field;
        }
    }
}

TEST(Dates, InNames) {
    struct row {
        std::string name;
        bool dated;
        double year;
    };
    const std::vector<row> rows = {
        {"hCoV-19/England/X-1/2020|EPI_ISL_601443|2020-09-20", true, day(2020, 244 + 20, 366)},
        {"KX369547_2016-01-20", true, day(2016, 20, 366)},
        {"A/Texas/50/2012", true, 2012},
        {"T12_2019.37", true, 2019.37},
        // The last '|' counts, even where what follows is no date.
        {"X_2019|unknown", false, 0},
        {"A_B_2001", true, 2001},
        {"plain", false, 0},
        {"T_", false, 0},
    };
    for (const row& r : rows) {
        double year = 0;
        EXPECT_EQ(date_in_name(r.name, year), r.dated) << r.name;
        if (r.dated) {
            EXPECT_DOUBLE_EQ(year, r.year) << r.name;
        }
    }
}

// A file of the given text, removed at the end of the test.
struct temp_file {
    explicit temp_file(const std::string& text) {
        char name[] = "/tmp/quorlen-dates-XXXXXX";
        const int fd = mkstemp(name);
        path = name;
        std::FILE* f = fdopen(fd, "w");
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    ~temp_file() { std::remove(path.c_str()); }
    std::string path;
};

TEST(Dates, Tables) {
    struct row {
        std::string text;
        std::vector<std::pair<std::string, double>> found;  // NaN: no date
    };
    const double none = std::nan("");
    const std::vector<row> rows = {
        {"name,date\nA,2001\nB,2002.5\n", {{"A", 2001}, {"B", 2002.5}, {"C", none}}},
        // Tabs, other columns before and after, the name column by its header.
        {"id\tstrain\tcountry\tcollection_date\nx\tA\tUK\t2020-XX-XX\ny\tB\tFR\t?\n", {{"A", 2020.5}, {"B", none}}},
        // No column of names: the first; headers in any case; CRLF; a
        // byte-order mark; blank lines.
        {"\xEF\xBB\xBFtip,Sampling Date\r\nA,2001\r\n\r\nB,2003\r\n", {{"A", 2001}, {"B", 2003}}},
        // Quoted fields: commas and quotes inside, blanks around.
        {"name,date\n\"A, the first\",2001\n \"B \"\"2\"\"\" , \"2002\"\n",
         {{"A, the first", 2001}, {"B \"2\"", 2002}, {"A", none}}},
        // Short rows, and rows without a name, are no dates.
        {"name,date\nA\n,2001\nB,2002\n", {{"A", none}, {"B", 2002}}},
        {"taxon,date,name\nA,2001,Z\n", {{"A", 2001}, {"Z", none}}},
    };
    for (const row& r : rows) {
        const temp_file f(r.text);
        dates_table table;
        ASSERT_EQ(table.load(f.path), "") << r.text;
        for (const auto& [name, year] : r.found) {
            double got = 0;
            EXPECT_EQ(table.find(name, got), !std::isnan(year)) << r.text << name;
            if (!std::isnan(year)) {
                EXPECT_DOUBLE_EQ(got, year) << r.text << name;
            }
        }
    }
}

TEST(Dates, TableErrors) {
    struct row {
        std::string text, error;  // the error after the file's path
    };
    const std::vector<row> rows = {
        {"", ": no header line"},
        {"name,when\nA,2001\n", ", line 1: no column's name holds 'date'"},
        {"name,date\nA,2001\nB,soon\n", ", line 3: 'soon' is not a date"},
        {"name,date\nA,2001\nB,2002\nA,2003\n", ", line 4: 'A' is given twice"},
        // Of two names given twice, the first; a date that is none, before
        // either.
        {"name,date\nA,2001\nB,2002\nB,2003\nA,2004\n", ", line 4: 'B' is given twice"},
        {"name,date\nA,2001\nA,2002\nB,x\n", ", line 4: 'x' is not a date"},
        {"name,date\n\"A,2001\n", ", line 2: '\"' not closed"},
    };
    for (const row& r : rows) {
        const temp_file f(r.text);
        dates_table table;
        EXPECT_EQ(table.load(f.path), f.path + r.error) << r.text;
    }
    dates_table table;
    EXPECT_EQ(table.load("/nonexistent/dates.csv"), "dates file '/nonexistent/dates.csv' not opened: No such file or directory");
}

TEST(Clock, WorkedByHand) {
    struct row {
        std::string tree;
        bool r2;
        std::string line;  // or "error: " and the error
    };
    // Each tree's dates fit a rate of 1 exactly at one point, with the
    // root at 2000 (the first: 1998.25).
    const std::vector<row> rows = {
        // Inside a two-child root's merged branch, 0.75 from each end.
        {"((A_2000:1,B_2001:2):1,(C_2002:3,D_2004:5):0.5);", false,
         "((A_2000:1,B_2001:2):0.75,(C_2002:3,D_2004:5):0.75);"},
        // Inside a branch, 0.5 from its lower end.
        {"(A_2002.5:1,B_2002.5:1,(C_2001.5:1,D_2003.5:3):2);", false,
         "((C_2001.5:1,D_2003.5:3):0.5,(A_2002.5:1,B_2002.5:1):1.5);"},
        {"(A_2002.5:1,B_2002.5:1,(C_2001.5:1,D_2003.5:3):2);", true,
         "((C_2001.5:1,D_2003.5:3):0.5,(A_2002.5:1,B_2002.5:1):1.5);"},
        // Six leaves, a quarter along the branch above (A,B).
        {"(((A_2001.25:1,B_2002.25:2):0.5,C_2001.25:1):1,D_2002.25:1,(E_2002.75:0.5,F_2003.75:1.5):1);", false,
         "((A_2001.25:1,B_2002.25:2):0.25,(C_2001.25:1,(D_2002.25:1,(E_2002.75:0.5,F_2003.75:1.5):1):1):0.25);"},
        // At a node, the end of three branches that fit alike: the first.
        {"(A_2001:1,B_2002:2,(C_2002:1,D_2003:2):1);", false, "(A_2001:1,(B_2002:2,(C_2002:1,D_2003:2):1):0);"},
        // A node and a stretch of C's branch fit alike: the first branch.
        {"(A_2001:1,B_2001:1,C_2003:3);", false, "(A_2001:1,(B_2001:1,C_2003:3):0);"},
        // Leaves without dates stay in the tree and count for nothing.
        {"((A_2000:1,B_2001:2):1,(C_2002:3,(D_2004:5,E:7):0):0.5);", false,
         "((A_2000:1,B_2001:2):0.75,(C_2002:3,(D_2004:5,E:7):0):0.75);"},
        {"(A_2000:1,B:1,C:1);", false, "error: fewer than two leaves have dates"},
        {"(A_2000:1,B_2000:1,C:1);", false, "error: every dated leaf has the same date"},
        {"(A_2001:0,B_2000:0,C_2002:0);", false, "error: no root gives the dates a positive rate"},
    };
    for (const row& r : rows) {
        tree t;
        ASSERT_EQ(testing::read_one(r.tree, t), "") << r.tree;
        roots::options how;
        how.how = roots::method::clock;
        how.r2 = r.r2;
        roots::chooser c(how);
        const std::string error = c.choose(t);
        std::string line;
        if (error.empty()) c.write(t, line);
        EXPECT_EQ(error.empty() ? line : "error: " + error, r.line) << r.tree;
        if (!error.empty()) continue;
        EXPECT_NEAR(c.clock().rate, 1, 1e-12) << r.tree;
        EXPECT_NEAR(c.clock().r2, 1, 1e-12) << r.tree;
        EXPECT_FALSE(c.clock().weak) << r.tree;
    }
}


// Past a hundred thousand dated leaves the quartiles are found from a
// sample: the outliers must be those of the residuals fully sorted, with
// residuals spread, and with many the same.
TEST(Clock, OutliersOfManyLeaves) {
    struct row {
        const char* what;
        int lengths, dates;  // how many different values of each
    };
    const std::vector<row> rows = {{"spread", 1 << 20, 1 << 20}, {"mostly the same", 2, 3}};
    for (const row& r : rows) {
        std::string text = "(";
        std::uint64_t state = 7;
        auto next = [&](int values) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            return static_cast<int>((state >> 33) % static_cast<std::uint64_t>(values));
        };
        const int leaves = 200000;
        for (int i = 0; i < leaves; ++i) {
            const int d = next(r.dates), l = next(r.lengths);
            // Dates over ten years; the distance grows with them, and every
            // thousandth leaf lies far off the line.
            const double year = 2000 + 10.0 * d / r.dates, length = year - 1999 + (i % 1000 == 0 ? 50 : 0.5 * l / r.lengths);
            text += (i ? "," : "") + ("L" + std::to_string(i)) + "_" + std::to_string(year) + ":" + std::to_string(length);
        }
        text += ");";
        tree t;
        ASSERT_EQ(testing::read_one(text, t), "") << r.what;
        roots::options how;
        how.how = roots::method::clock;
        roots::chooser c(how);
        ASSERT_EQ(c.choose(t), "") << r.what;
        const roots::clock_fit& fit = c.clock();
        std::vector<double> sorted;
        for (double x : fit.residual)
            if (!std::isnan(x)) sorted.push_back(x);
        std::sort(sorted.begin(), sorted.end());
        auto quartile = [&](double q) {
            const double h = static_cast<double>(sorted.size() - 1) * q;
            const std::size_t i = static_cast<std::size_t>(h);
            return sorted[i] + (h - static_cast<double>(i)) * (sorted[i + 1] - sorted[i]);
        };
        const double fence = 3 * (quartile(0.75) - quartile(0.25));
        std::size_t outliers = 0, wrong = 0;
        for (std::size_t i = 0; i < fit.residual.size(); ++i) {
            const bool outlier = std::fabs(fit.residual[i]) > fence;
            outliers += outlier;
            wrong += outlier != (fit.outlier[i] != 0);
        }
        EXPECT_EQ(wrong, 0u) << r.what;
        EXPECT_EQ(fit.outliers, outliers) << r.what;
        EXPECT_GT(outliers, 0u) << r.what;
    }
}

}  // namespace
}  // namespace quorlen::standard
