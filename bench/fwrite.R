# The yardstick for the conversion benchmark: data.table's fwrite on one
# thread writing a table of the converter's shape, as many rows as cases and
# one integer column per output field, each column's values as wide as that
# field is in the first record of the converter's CSV data file (at most 10
# digits).
#
#   Rscript bench/fwrite.R FIRST_RECORD ROWS OUT_FILE RUNS
#
# Prints the median seconds of RUNS writes (after one warm-up write) and the
# number of fields written.
args <- commandArgs(trailingOnly = TRUE)
if (length(args) != 4) stop("usage: fwrite.R FIRST_RECORD ROWS OUT_FILE RUNS")
suppressPackageStartupMessages(library(data.table))
# An integer column holds at most 10 digits.
widths <- pmin(nchar(strsplit(readLines(args[1], n = 1), "\t", fixed = TRUE)[[1]]), 10)
rows <- as.integer(args[2])
out <- args[3]
runs <- as.integer(args[4])

set.seed(1)
low <- ifelse(widths <= 1, 0, 10^(widths - 1))
high <- pmin(10^widths - 1, .Machine$integer.max)
table <- as.data.table(lapply(seq_along(widths), function(j) {
  as.integer(low[j] + sample.int(high[j] - low[j] + 1, rows, replace = TRUE) - 1)
}))
write_once <- function() {
  system.time(fwrite(table, out, sep = "\t", col.names = FALSE, nThread = 1))[["elapsed"]]
}
invisible(write_once())
seconds <- median(replicate(runs, write_once()))
unlink(out)
cat(sprintf("%.4f %.0f\n", seconds, as.numeric(rows) * length(widths)))
