// The clock's tables of leaves and of trees, and its pictures.
#include "choosing/clock_reports.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "plot/clock_plot.h"
#include "choosing/methods.h"

namespace quorlen::standard::roots {

namespace {

void number(std::string& out, double d) {
    char text[32];
    out.append(text, static_cast<std::size_t>(std::to_chars(text, text + sizeof text, d).ptr - text));
}

void number(std::string& out, std::size_t n) {
    char text[24];
    out.append(text, static_cast<std::size_t>(std::to_chars(text, text + sizeof text, n).ptr - text));
}

std::string not_written(const std::string& path) { return "'" + path + "' not written: " + std::strerror(errno); }

}  // namespace

std::string picture_path(const std::string& path, std::size_t k) {
    if (k == 1) return path;
    const std::size_t slash = path.rfind('/'), dot = path.rfind('.');
    const std::size_t at = dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1
                               ? path.size()
                               : dot;
    return path.substr(0, at) + "-" + std::to_string(k) + path.substr(at);
}

clock_reports::~clock_reports() { close(); }

std::string clock_reports::write(std::FILE* f, const std::string& path, const std::string& out) {
    if (std::fwrite(out.data(), 1, out.size(), f) != out.size() || std::fflush(f) != 0) return not_written(path);
    return "";
}

std::string clock_reports::open(const clock_files& files) {
    paths = files;
    if (!files.tips.empty()) {
        if (!(tips = std::fopen(files.tips.c_str(), "w"))) return not_written(files.tips);
        const std::string error = write(tips, files.tips, "tree\tname\tdate\tdistance\tresidual\toutlier\n");
        if (!error.empty()) return error;
    }
    if (!files.summary.empty()) {
        if (!(summary = std::fopen(files.summary.c_str(), "w"))) return not_written(files.summary);
        const std::string error = write(
            summary, files.summary, "tree\tleaves\tdated\tbranch\tposition\trate\troot_date\tr2\trms\toutliers\tsignal\n");
        if (!error.empty()) return error;
    }
    return "";
}

std::string clock_reports::add(std::size_t tree_number, const chooser& c, const translation* names) {
    const clock_fit& fit = c.clock();
    const big_vector<double>& dates = c.dates();
    const unrooted& u = c.seen();
    const std::uint32_t m = u.size();
    const std::size_t leaves = u.leaves();
    if (tips) {
        std::string room;
        text.clear();
        for (std::uint32_t v = 0, i = 0; v < m; ++v) {
            if (!u.is_leaf(v)) continue;
            number(text, tree_number);
            text += '\t';
            text += leaf_name_of(u, v, names, room);
            text += '\t';
            const bool dated = !std::isnan(dates[i]);
            if (dated) number(text, dates[i]);
            text += '\t';
            number(text, fit.distance[v]);
            text += '\t';
            if (dated) number(text, fit.residual[i]);
            text += '\t';
            text += fit.outlier[i] ? '1' : '0';
            text += '\n';
            ++i;
            if (text.size() > (1 << 20)) {
                const std::string error = write(tips, paths.tips, text);
                if (!error.empty()) return error;
                text.clear();
            }
        }
        const std::string error = write(tips, paths.tips, text);
        if (!error.empty()) return error;
    }
    if (summary) {
        text.clear();
        number(text, tree_number);
        text += '\t';
        number(text, leaves);
        text += '\t';
        number(text, fit.dated);
        text += '\t';
        number(text, c.branch_number());
        text += '\t';
        write_decimal(c.position(), text);
        for (double d : {fit.rate, fit.root_date, fit.r2, fit.rms}) {
            text += '\t';
            number(text, d);
        }
        text += '\t';
        number(text, fit.outliers);
        text += fit.weak ? "\tweak\n" : "\tok\n";
        const std::string error = write(summary, paths.summary, text);
        if (!error.empty()) return error;
    }
    if (!paths.plot.empty()) {
        plot::clock_picture p;
        for (std::uint32_t v = 0, i = 0; v < m; ++v) {
            if (!u.is_leaf(v)) continue;
            if (!std::isnan(dates[i])) {
                p.dates.push_back(dates[i]);
                p.distances.push_back(fit.distance[v]);
                p.outliers.push_back(fit.outlier[i]);
            }
            ++i;
        }
        p.rate = fit.rate;
        p.root_date = fit.root_date;
        p.r2 = fit.r2;
        p.title = "tree " + std::to_string(tree_number);
        const std::string path = picture_path(paths.plot, tree_number);
        std::FILE* f = std::fopen(path.c_str(), "w");
        if (!f) return not_written(path);
        std::string error = write(f, path, plot::draw_clock(p));
        if (std::fclose(f) != 0 && error.empty()) error = not_written(path);
        if (!error.empty()) return error;
    }
    return "";
}

std::string clock_reports::close() {
    std::string error;
    if (tips && std::fclose(tips) != 0) error = not_written(paths.tips);
    if (summary && std::fclose(summary) != 0 && error.empty()) error = not_written(paths.summary);
    tips = summary = nullptr;
    return error;
}

}  // namespace quorlen::standard::roots
