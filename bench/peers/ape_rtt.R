#!/usr/bin/Rscript
# ape_rtt.R TREE DATES OBJECTIVE OUT: ape's rtt(), the root-to-tip
# regression, on the first tree of TREE (read with read.tree) with the dates
# of DATES (a CSV with a header, `name,date`: decimal years, or YYYY-MM-DD
# taken as the middle of that day, year + (day of the year - 0.5) / days in
# the year). OBJECTIVE is rtt's: correlation (its default: the root where
# date and distance correlate best, beside quorlen --clock=r2), rsquared, or
# rms (the least residual mean square, beside quorlen --clock). Writes the
# rooted tree to OUT (write.tree, 10 significant digits) and prints one line,
# tab-separated: the seconds rtt() took (system.time, elapsed), then the
# rate, the root date (-intercept / slope) and R², from lm() of the rooted
# tree's root-to-tip distances on the dates, in full.
# rtt() works on the whole matrix of distances between nodes: small trees.
# Needs Debian's r-cran-ape.
args <- commandArgs(trailingOnly = TRUE)
if (length(args) != 4) {
    cat("usage: ape_rtt.R TREE DATES OBJECTIVE OUT\n", file = stderr())
    quit(status = 2)
}
suppressPackageStartupMessages(library(ape))
tree <- read.tree(args[1])
if (inherits(tree, "multiPhylo")) tree <- tree[[1]]
table <- read.csv(args[2], colClasses = "character")
as_year <- function(text) {
    year <- suppressWarnings(as.numeric(text))
    day <- is.na(year)
    if (any(day)) {
        when <- as.POSIXlt(text[day], format = "%Y-%m-%d", tz = "UTC")
        y <- when$year + 1900
        days <- ifelse((y %% 4 == 0 & y %% 100 != 0) | y %% 400 == 0, 366, 365)
        year[day] <- y + (when$yday + 0.5) / days
    }
    year
}
dates <- setNames(as_year(table$date), table$name)
tip_dates <- unname(dates[tree$tip.label])
if (any(is.na(tip_dates))) {
    cat("ape_rtt.R: a leaf without a date\n", file = stderr())
    quit(status = 1)
}
seconds <- system.time(rooted <- rtt(tree, tip_dates, objective = args[3]))[["elapsed"]]
write.tree(rooted, args[4])
distance <- node.depth.edgelength(rooted)[seq_len(Ntip(rooted))]
fit <- lm(distance ~ unname(dates[rooted$tip.label]))
rate <- unname(coef(fit)[2])
root_date <- -unname(coef(fit)[1]) / rate
cat(sprintf("%.3f\t%.17g\t%.17g\t%.17g\n", seconds, rate, root_date, summary(fit)$r.squared))
