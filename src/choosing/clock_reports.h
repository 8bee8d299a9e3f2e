// What the clock writes besides the trees: a table of every leaf (its date,
// distance from the root, residual and whether it is an outlier), a table
// of every tree's regression, and a picture of each tree's regression.
// Each tree's rows and picture are out before the next tree is read.
#pragma once

#include <cstdio>
#include <string>

#include "choosing/choose.h"

namespace quorlen::standard::roots {

// The files asked for; empty: none.
struct clock_files {
    std::string tips, summary, plot;
};

class clock_reports {
public:
    ~clock_reports();
    // Opens the tables' files and writes their headers; "" or what is wrong.
    std::string open(const clock_files& files);
    // The rows and the picture of tree number `number`, just chosen on;
    // "" or what is wrong.
    std::string add(std::size_t number, const chooser& c, const translation* names);
    // Closes the files; "" or what is wrong.
    std::string close();

private:
    std::string write(std::FILE* f, const std::string& path, const std::string& text);
    clock_files paths;
    std::FILE* tips = nullptr;
    std::FILE* summary = nullptr;
    std::string text;  // a tree's rows, kept from one tree to the next
};

// The picture of tree number k of path: path itself for the first, else
// "-k" put before its extension (tree.svg: tree-2.svg).
std::string picture_path(const std::string& path, std::size_t k);

}  // namespace quorlen::standard::roots
