// The picture of a root-to-tip regression, as SVG: root-to-tip distance
// against date, a dot a dated tip, outliers marked apart, the fitted line
// from the root date to the latest tip, axes in years and in distance, and
// the rate, the root date and R² written on it.
#pragma once

#include <string>
#include <vector>

namespace quorlen::plot {

struct clock_picture {
    std::vector<double> dates;      // each dated tip's date, a decimal year
    std::vector<double> distances;  // its distance from the root
    std::vector<char> outliers;     // 1 where the tip is an outlier
    double rate = 0;                // the slope: distance a year, > 0
    double root_date = 0;           // where the line reaches distance 0
    double r2 = 0;
    std::string title;              // e.g. "tree 1"
};

// The whole SVG document.
std::string draw_clock(const clock_picture& p);

}  // namespace quorlen::plot
