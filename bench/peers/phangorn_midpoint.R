#!/usr/bin/Rscript
# phangorn_midpoint.R FILE: every tree of FILE (Newick, one a line) read with
# ape's read.tree, rooted with phangorn's midpoint (internal labels moved as
# support values, phangorn's default) and written with ape's write.tree (10
# significant digits), one a line. Needs Debian's r-cran-phangorn.
args <- commandArgs(trailingOnly = TRUE)
if (length(args) != 1) {
    cat("usage: phangorn_midpoint.R FILE\n", file = stderr())
    quit(status = 2)
}
suppressPackageStartupMessages(library(phangorn))
trees <- read.tree(args[1])
# write.tree with file = "" gives the text back rather than printing it.
cat(write.tree(midpoint(trees)), sep = "\n")
