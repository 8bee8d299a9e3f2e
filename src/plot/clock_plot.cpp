// The picture of a root-to-tip regression. The canvas is fixed: a plot of
// 600 by 400 pixels, the title above it, the axes' labels below and to the
// left, and the legend with the rate, the root date and R² to the right.
// Up to dots_at_most tips are dots; beyond, they are counted into a grid of
// 2-pixel cells drawn with an opacity that grows with the count, so that a
// million tips make a picture of well under a megabyte. Outliers are
// crosses on top, up to crosses_at_most of them, picked evenly.
//
// Everything is one pass over the tips to find the ranges and one to draw;
// nothing is sorted. Values are clamped to within ±far so that no sum or
// product overflows, a range of no width is widened, and a number that is
// not finite is never written.
#include "plot/clock_plot.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace quorlen::plot {

namespace {

constexpr int canvas_w = 960, canvas_h = 540;
constexpr int plot_x = 90, plot_y = 60, plot_w = 600, plot_h = 400;
constexpr int plot_right = plot_x + plot_w, plot_bottom = plot_y + plot_h;
constexpr int legend_x = plot_right + 28;

constexpr std::size_t dots_at_most = 20000;
constexpr std::size_t crosses_at_most = 10000;
constexpr int cell = 2, grid_w = plot_w / cell, grid_h = plot_h / cell;
constexpr int shades = 16;

constexpr double far = 1e100;  // no date, distance or rate is this large

constexpr std::string_view dot_colour = "#1f5fa8";
constexpr std::string_view cross_colour = "#d62518";
constexpr std::string_view line_colour = "#222222";

double clamp_far(double v) { return std::max(-far, std::min(far, v)); }

// Drops a minus sign before a number that is all zeros.
void append_number(std::string& out, const char* begin, const char* end) {
    if (begin != end && *begin == '-' && std::none_of(begin + 1, end, [](char c) {
            return c >= '1' && c <= '9';
        }))
        ++begin;
    out.append(begin, end);
}

void put_scientific(std::string& out, double v, int places);

// A number with so many places after the point; in scientific form from
// 10^15 on, where the places would say nothing.
void put_fixed(std::string& out, double v, int places) {
    if (std::isfinite(v) && std::fabs(v) >= 1e15) {
        put_scientific(out, v, 3);
        return;
    }
    char text[64];
    const auto r = std::isfinite(v)
                       ? std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, places)
                       : std::to_chars_result{text, std::errc::value_too_large};
    if (r.ec != std::errc()) {
        out += '0';
        return;
    }
    append_number(out, text, r.ptr);
}

void put_scientific(std::string& out, double v, int places) {
    char text[64];
    const auto r = std::isfinite(v) ? std::to_chars(text, text + sizeof text, v,
                                                    std::chars_format::scientific, places)
                                    : std::to_chars_result{text, std::errc::value_too_large};
    if (r.ec != std::errc()) {
        out += '0';
        return;
    }
    append_number(out, text, r.ptr);
}

void put_count(std::string& out, std::size_t n) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, n).ptr;
    const int digits = static_cast<int>(end - text);
    for (int i = 0; i < digits; ++i) {
        if (i && (digits - i) % 3 == 0) out += ',';
        out += text[i];
    }
}

// A pixel coordinate, to a tenth, without a trailing ".0".
void put_pixel(std::string& out, double v) {
    v = std::isfinite(v) ? std::max(-10000.0, std::min(10000.0, v)) : 0.0;
    char text[32];
    auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 1).ptr;
    if (end - text >= 2 && end[-1] == '0' && end[-2] == '.') end -= 2;
    append_number(out, text, end);
}

void put_int(std::string& out, int v) {
    char text[16];
    out.append(text, std::to_chars(text, text + sizeof text, v).ptr);
}

// Text for XML: &, < and > escaped, control characters and bytes that are
// not UTF-8 replaced by '?'.
// A rectangle of whole pixels, and its other attributes as given.
void put_rect(std::string& out, int x, int y, int w, int h, std::string_view rest) {
    out += "<rect x=\"";
    put_int(out, x);
    out += "\" y=\"";
    put_int(out, y);
    out += "\" width=\"";
    put_int(out, w);
    out += "\" height=\"";
    put_int(out, h);
    out += "\" ";
    out += rest;
    out += "/>\n";
}

void put_text(std::string& out, std::string_view s) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = byte(i);
        if (c < 0x80) {
            if (c == '&') out += "&amp;";
            else if (c == '<') out += "&lt;";
            else if (c == '>') out += "&gt;";
            else if (c < 0x20 && c != '\t') out += '?';
            else if (c == 0x7f) out += '?';
            else out += static_cast<char>(c);
            ++i;
            continue;
        }
        const std::size_t n = c >= 0xc2 && c <= 0xdf   ? 2
                              : c >= 0xe0 && c <= 0xef ? 3
                              : c >= 0xf0 && c <= 0xf4 ? 4
                                                       : 0;
        std::uint32_t code = n == 2 ? c & 0x1fu : n == 3 ? c & 0x0fu : c & 0x07u;
        bool good = n != 0 && i + n <= s.size();
        for (std::size_t k = 1; good && k < n; ++k) {
            good = (byte(i + k) & 0xc0) == 0x80;
            code = code << 6 | (byte(i + k) & 0x3fu);
        }
        // Not too long a form, not a surrogate, nor beyond Unicode, nor
        // one of the two that XML leaves out.
        good = good && !(n == 3 && code < 0x800) && !(n == 4 && (code < 0x10000 || code > 0x10ffff));
        good = good && !(code >= 0xd800 && code <= 0xdfff) && code != 0xfffe && code != 0xffff;
        if (good) {
            out.append(s.substr(i, n));
            i += n;
        } else {
            out += '?';
            ++i;
        }
    }
}

// An axis: the values at the plot's two ends, the ticks between and how
// their labels are written.
struct axis {
    double lo = 0, hi = 1;
    double step = 1;
    double first = 0;  // the first tick is first * step
    int ticks = 0;
    bool scientific = false;
    bool grouped = false;  // thousands set apart with commas
    int places = 0;        // after the point, or after the first digit

    double fraction(double v) const { return (v - lo) / (hi - lo); }
    double tick(int k) const {
        const double v = (first + k) * step;
        return v == 0 ? 0.0 : v;
    }
};

int tick_count(double lo, double hi, double step) {
    const double n = std::floor(hi / step) - std::ceil(lo / step) + 1;
    return n < 0 ? 0 : n > 1000 ? 1000 : static_cast<int>(n);
}

// Ticks a step of 1, 2 or 5 times a power of ten apart, as near six of
// them as such a step gives. The labels are plain numbers with as many
// places as the step needs, grouped by thousands from 10,000 on, and in
// scientific form when that would take too many digits.
axis make_axis(double lo, double hi, int most_places, double largest_plain) {
    axis a;
    a.lo = lo;
    a.hi = hi;
    const int e0 = static_cast<int>(std::floor(std::log10((hi - lo) / 6)));
    int best = 0, exponent = e0;
    bool any = false;
    for (int e = e0 - 1; e <= e0 + 1; ++e) {
        for (const int m : {1, 2, 5}) {
            const double step = m * std::pow(10.0, e);
            const int n = tick_count(lo, hi, step);
            const int score = std::abs(n - 6) * 10 - (n >= 5 && n <= 8 ? 5 : 0);
            if (!any || score < best || (score == best && step > a.step)) {
                any = true;
                best = score;
                a.step = step;
                exponent = e;
            }
        }
    }
    a.first = std::ceil(lo / a.step);
    a.ticks = tick_count(lo, hi, a.step);
    const double largest = std::max(std::fabs(lo), std::fabs(hi));
    a.places = std::max(0, -exponent);
    if (a.places > most_places || largest >= largest_plain) {
        a.scientific = true;
        const int lead = static_cast<int>(std::floor(std::log10(largest)));
        a.places = std::max(0, std::min(15, lead - exponent));
    } else {
        a.grouped = largest >= 10000;
    }
    return a;
}

void put_label(std::string& out, const axis& a, double v) {
    if (v == 0) {
        out += '0';
        return;
    }
    if (a.scientific) {
        put_scientific(out, v, a.places);
        return;
    }
    std::string plain;
    put_fixed(plain, v, a.places);
    if (!a.grouped) {
        out += plain;
        return;
    }
    std::size_t start = plain[0] == '-' ? 1 : 0;
    std::size_t point = plain.find('.');
    if (point == std::string::npos) point = plain.size();
    out.append(plain, 0, start);
    for (std::size_t i = start; i < point; ++i) {
        if (i > start && (point - i) % 3 == 0) out += ',';
        out += plain[i];
    }
    out.append(plain, point, std::string::npos);
}

// Widens a range too narrow to draw about its middle; tiny is the least
// width taken for a range at zero.
void widen(double& lo, double& hi, double tiny) {
    const double size = std::max(std::fabs(lo), std::fabs(hi));
    if (hi - lo > std::max(tiny, size * 1e-9)) return;
    const double middle = lo / 2 + hi / 2;
    const double half = std::max(tiny, std::fabs(middle) * 1e-6);
    lo = middle - half;
    hi = middle + half;
}

// The part of the segment from (x0, y0) to (x1, y1) within the box, by
// Liang and Barsky's clipping; false when none is.
bool clip(double& x0, double& y0, double& x1, double& y1, double left, double right, double low,
          double high) {
    const double dx = x1 - x0, dy = y1 - y0;
    double t0 = 0, t1 = 1;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x0 - left, right - x0, y0 - low, high - y0};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0) t0 = std::max(t0, t);
        else t1 = std::min(t1, t);
    }
    if (t0 > t1) return false;
    const double ax = x0 + t0 * dx, ay = y0 + t0 * dy;
    x1 = x0 + t1 * dx;
    y1 = y0 + t1 * dy;
    x0 = ax;
    y0 = ay;
    return true;
}

void put_tag_text(std::string& out, double x, double y, std::string_view attributes, std::string_view text) {
    out += "<text x=\"";
    put_pixel(out, x);
    out += "\" y=\"";
    put_pixel(out, y);
    out += '"';
    if (!attributes.empty()) {
        out += ' ';
        out += attributes;
    }
    out += '>';
    put_text(out, text);
    out += "</text>\n";
}

}  // namespace

std::string draw_clock(const clock_picture& p) {
    const std::size_t count = std::min(p.dates.size(), p.distances.size());
    const auto usable = [&](std::size_t i) {
        return std::isfinite(p.dates[i]) && std::isfinite(p.distances[i]);
    };
    const auto outlier = [&](std::size_t i) { return i < p.outliers.size() && p.outliers[i] != 0; };

    // The ranges of the tips.
    std::size_t tips = 0, outliers = 0;
    double earliest = 0, latest = 0, shortest = 0, longest = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!usable(i)) continue;
        const double d = clamp_far(p.dates[i]), r = clamp_far(p.distances[i]);
        if (tips++ == 0) {
            earliest = latest = d;
            shortest = longest = r;
        } else {
            earliest = std::min(earliest, d);
            latest = std::max(latest, d);
            shortest = std::min(shortest, r);
            longest = std::max(longest, r);
        }
        if (outlier(i)) ++outliers;
    }
    const bool root_known = std::isfinite(p.root_date);
    const double root = clamp_far(root_known ? p.root_date : 0.0);
    const double rate = clamp_far(std::isfinite(p.rate) ? p.rate : 0.0);
    const bool line = tips > 0 && root_known && std::isfinite(p.rate);

    double x_lo = tips ? earliest : root, x_hi = tips ? latest : root;
    if (root_known) {
        x_lo = std::min(x_lo, root);
        x_hi = std::max(x_hi, root);
    }
    widen(x_lo, x_hi, 0.5);
    const double x_span = x_hi - x_lo;
    x_lo -= 0.03 * x_span;
    x_hi += 0.03 * x_span;

    double y_lo = std::min(0.0, shortest), y_hi = std::max(0.0, longest);
    if (y_hi - y_lo <= 1e-30) {
        // No distance to show: the line's end sets the scale, if it has one.
        const double end = line ? std::fabs(rate * (latest - root)) : 0.0;
        y_hi = std::isfinite(end) && end > 1e-30 ? y_lo + end : y_lo + 1;
    }
    widen(y_lo, y_hi, 1e-30);
    const double y_span = y_hi - y_lo;
    if (y_lo < 0) y_lo -= 0.05 * y_span;
    y_hi += 0.05 * y_span;

    const axis ax = make_axis(x_lo, x_hi, 4, 1e15);
    const axis ay = make_axis(y_lo, y_hi, 5, 1e6);
    const auto px = [&](double x) { return plot_x + ax.fraction(x) * plot_w; };
    const auto py = [&](double y) { return plot_bottom - ay.fraction(y) * plot_h; };

    std::string out;
    const bool dense = tips - outliers > dots_at_most;
    out.reserve(dense ? 1 << 20 : 4096 + 48 * tips);
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n";
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"";
    put_int(out, canvas_w);
    out += "\" height=\"";
    put_int(out, canvas_h);
    out += "\" viewBox=\"0 0 ";
    put_int(out, canvas_w);
    out += ' ';
    put_int(out, canvas_h);
    out += "\" font-family=\"sans-serif\" font-size=\"13\">\n";
    put_rect(out, 0, 0, canvas_w, canvas_h, "fill=\"white\"");
    put_tag_text(out, plot_x + plot_w / 2.0, 34,
                 "text-anchor=\"middle\" font-size=\"18\" font-weight=\"bold\"", p.title);

    // Grid lines at the ticks, then the tips over them.
    out += "<path fill=\"none\" stroke=\"#e6e6e6\" stroke-width=\"1\" d=\"";
    for (int k = 0; k < ax.ticks; ++k) {
        out += 'M';
        put_pixel(out, px(ax.tick(k)));
        out += ' ';
        put_int(out, plot_y);
        out += 'V';
        put_int(out, plot_bottom);
    }
    for (int k = 0; k < ay.ticks; ++k) {
        out += 'M';
        put_int(out, plot_x);
        out += ' ';
        put_pixel(out, py(ay.tick(k)));
        out += 'H';
        put_int(out, plot_right);
    }
    out += "\"/>\n";

    if (dense) {
        std::vector<std::uint32_t> grid(static_cast<std::size_t>(grid_w) * grid_h, 0);
        for (std::size_t i = 0; i < count; ++i) {
            if (!usable(i) || outlier(i)) continue;
            const double fx = ax.fraction(clamp_far(p.dates[i])) * grid_w;
            const double fy = (1 - ay.fraction(clamp_far(p.distances[i]))) * grid_h;
            const int gx = std::max(0, std::min(grid_w - 1, static_cast<int>(fx)));
            const int gy = std::max(0, std::min(grid_h - 1, static_cast<int>(fy)));
            ++grid[static_cast<std::size_t>(gy) * grid_w + gx];
        }
        const std::uint32_t most = *std::max_element(grid.begin(), grid.end());
        // A cell's shade: from the lightest for one tip to the darkest for
        // the fullest cell, by the logarithm of its count.
        const auto shade = [&](std::uint32_t n) {
            if (n == 0) return -1;
            if (most <= 1) return shades - 1;
            const double t = std::log(static_cast<double>(n)) / std::log(static_cast<double>(most));
            return std::max(0, std::min(shades - 1, static_cast<int>(t * shades)));
        };
        std::array<std::string, shades> paths;
        for (int gy = 0; gy < grid_h; ++gy) {
            for (int gx = 0; gx < grid_w;) {
                const std::uint32_t* row = grid.data() + static_cast<std::size_t>(gy) * grid_w;
                const int s = shade(row[gx]);
                int run = 1;
                while (gx + run < grid_w && shade(row[gx + run]) == s) ++run;
                if (s >= 0) {
                    std::string& d = paths[static_cast<std::size_t>(s)];
                    d += 'M';
                    put_int(d, plot_x + gx * cell);
                    d += ' ';
                    put_int(d, plot_y + gy * cell);
                    d += 'h';
                    put_int(d, run * cell);
                    d += 'v';
                    put_int(d, cell);
                    d += 'h';
                    put_int(d, -run * cell);
                    d += 'z';
                }
                gx += run;
            }
        }
        for (int s = 0; s < shades; ++s) {
            if (paths[static_cast<std::size_t>(s)].empty()) continue;
            out += "<path fill=\"";
            out += dot_colour;
            out += "\" fill-opacity=\"";
            put_fixed(out, 0.12 + 0.88 * (s + 1) / shades, 3);
            out += "\" d=\"";
            out += paths[static_cast<std::size_t>(s)];
            out += "\"/>\n";
        }
    } else if (tips > outliers) {
        // Dots fainter the more there are, so that where they crowd shows.
        const std::size_t dots = tips - outliers;
        const double opacity =
            std::max(0.2, std::min(0.7, 0.7 * std::sqrt(300.0 / static_cast<double>(dots))));
        const double radius = dots > 2000 ? 2.0 : 3.0;
        out += "<g fill=\"";
        out += dot_colour;
        out += "\" fill-opacity=\"";
        put_fixed(out, opacity, 2);
        out += "\">\n";
        for (std::size_t i = 0; i < count; ++i) {
            if (!usable(i) || outlier(i)) continue;
            out += "<circle cx=\"";
            put_pixel(out, px(clamp_far(p.dates[i])));
            out += "\" cy=\"";
            put_pixel(out, py(clamp_far(p.distances[i])));
            out += "\" r=\"";
            put_pixel(out, radius);
            out += "\"/>\n";
        }
        out += "</g>\n";
    }

    // The line, from the root date to the latest tip, within the plot.
    if (line) {
        double x0 = root, y0 = 0, x1 = latest, y1 = rate * (latest - root);
        if (clip(x0, y0, x1, y1, x_lo, x_hi, y_lo, y_hi)) {
            out += "<path fill=\"none\" stroke=\"";
            out += line_colour;
            out += "\" stroke-width=\"2\" d=\"M";
            put_pixel(out, px(x0));
            out += ' ';
            put_pixel(out, py(y0));
            out += 'L';
            put_pixel(out, px(x1));
            out += ' ';
            put_pixel(out, py(y1));
            out += "\"/>\n";
        }
    }

    // Outliers as crosses, every few when there are many.
    const std::size_t shown = std::min(outliers, crosses_at_most);
    std::size_t crosses = 0;
    if (outliers) {
        out += "<path fill=\"none\" stroke=\"";
        out += cross_colour;
        out += "\" stroke-width=\"1.8\" stroke-linecap=\"round\" d=\"";
        std::size_t seen = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (!usable(i) || !outlier(i)) continue;
            // The k-th is drawn when k * shown / outliers steps up.
            const std::size_t k = seen++;
            if ((k + 1) * shown / outliers == k * shown / outliers) continue;
            ++crosses;
            out += 'M';
            put_pixel(out, px(clamp_far(p.dates[i])) - 3.5);
            out += ' ';
            put_pixel(out, py(clamp_far(p.distances[i])) - 3.5);
            out += "l7 7m0-7l-7 7";
        }
        out += "\"/>\n";
    }

    // The frame, the ticks and their labels.
    put_rect(out, plot_x, plot_y, plot_w, plot_h, "fill=\"none\" stroke=\"black\" stroke-width=\"1\"");
    out += "<path fill=\"none\" stroke=\"black\" stroke-width=\"1\" d=\"";
    for (int k = 0; k < ax.ticks; ++k) {
        out += 'M';
        put_pixel(out, px(ax.tick(k)));
        out += ' ';
        put_int(out, plot_bottom);
        out += "v5";
    }
    for (int k = 0; k < ay.ticks; ++k) {
        out += 'M';
        put_int(out, plot_x);
        out += ' ';
        put_pixel(out, py(ay.tick(k)));
        out += "h-5";
    }
    out += "\"/>\n";
    std::string label;
    out += "<g font-size=\"12\" text-anchor=\"middle\">\n";
    for (int k = 0; k < ax.ticks; ++k) {
        label.clear();
        put_label(label, ax, ax.tick(k));
        put_tag_text(out, px(ax.tick(k)), plot_bottom + 20, "", label);
    }
    out += "</g>\n<g font-size=\"12\" text-anchor=\"end\">\n";
    for (int k = 0; k < ay.ticks; ++k) {
        label.clear();
        put_label(label, ay, ay.tick(k));
        put_tag_text(out, plot_x - 8, py(ay.tick(k)) + 4, "", label);
    }
    out += "</g>\n";
    put_tag_text(out, plot_x + plot_w / 2.0, plot_bottom + 48, "text-anchor=\"middle\"", "date (years)");
    out += "<text x=\"22\" y=\"";
    put_pixel(out, plot_y + plot_h / 2.0);
    out += "\" text-anchor=\"middle\" transform=\"rotate(-90 22 ";
    put_pixel(out, plot_y + plot_h / 2.0);
    out += ")\">root-to-tip distance</text>\n";
    if (tips == 0)
        put_tag_text(out, plot_x + plot_w / 2.0, plot_y + plot_h / 2.0,
                     "text-anchor=\"middle\" fill=\"#777777\"", "no dated tips");

    // The legend: what each mark is, then the numbers of the fit.
    int y = plot_y + 16;
    const int x = legend_x;
    if (dense) {
        put_rect(out, x - 6, y - 6, 12, 12, std::string("fill=\"").append(dot_colour).append("\" fill-opacity=\"0.6\""));
        put_tag_text(out, x + 14, y + 4, "", "tips, darker where more");
    } else {
        out += "<circle cx=\"";
        put_int(out, x);
        out += "\" cy=\"";
        put_int(out, y);
        out += "\" r=\"3.5\" fill=\"";
        out += dot_colour;
        out += "\" fill-opacity=\"0.7\"/>\n";
        put_tag_text(out, x + 14, y + 4, "", "dated tip");
    }
    y += 22;
    out += "<path fill=\"none\" stroke=\"";
    out += cross_colour;
    out += "\" stroke-width=\"1.8\" stroke-linecap=\"round\" d=\"M";
    put_pixel(out, x - 3.5);
    out += ' ';
    put_pixel(out, y - 3.5);
    out += "l7 7m0-7l-7 7\"/>\n";
    put_tag_text(out, x + 14, y + 4, "", "outlier");
    y += 22;
    out += "<path fill=\"none\" stroke=\"";
    out += line_colour;
    out += "\" stroke-width=\"2\" d=\"M";
    put_int(out, x - 8);
    out += ' ';
    put_int(out, y);
    out += "h16\"/>\n";
    put_tag_text(out, x + 14, y + 4, "", "regression");
    y += 40;

    std::string text = "rate ";
    if (std::isfinite(p.rate)) {
        put_scientific(text, p.rate, 3);
        text += " per year";
    } else {
        text += "not defined";
    }
    put_tag_text(out, x - 8, y, "", text);
    y += 22;
    text = "root date ";
    if (!root_known) text += "not defined";
    else if (std::fabs(p.root_date) < 1e9) put_fixed(text, p.root_date, 2);
    else put_scientific(text, p.root_date, 3);
    put_tag_text(out, x - 8, y, "", text);
    y += 22;
    text = "R\xc2\xb2 ";
    if (std::isfinite(p.r2)) put_fixed(text, p.r2, 3);
    else text += "not defined";
    put_tag_text(out, x - 8, y, "", text);
    y += 32;
    text.clear();
    put_count(text, tips);
    text += tips == 1 ? " dated tip" : " dated tips";
    put_tag_text(out, x - 8, y, "", text);
    y += 22;
    text.clear();
    put_count(text, outliers);
    text += outliers == 1 ? " outlier" : " outliers";
    if (crosses < outliers) {
        text += ", ";
        put_count(text, crosses);
        text += " drawn";
    }
    put_tag_text(out, x - 8, y, "", text);
    out += "</svg>\n";
    return out;
}

}  // namespace quorlen::plot
