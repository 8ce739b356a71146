# The reference values of the psychometrics tests, from R itself: psych::alpha() on item matrices,
# longstring, irv and Mahalanobis distances on answer matrices, and qf()/pf() for F quantiles.
# Rscript psych_reference.R IN OUT: IN holds the cases (see tests/test_psychometrics.py), OUT gets
# one line "case field index value" per value, "NA" for a missing one.
args <- commandArgs(trailingOnly = TRUE)
input <- file(args[1], "r")
out <- file(args[2], "w")
emit <- function(case, field, index, values) {
  text <- ifelse(is.na(values), "NA", sprintf("%.17g", values))
  writeLines(paste(case, field, index, text), out)
}
read_matrix <- function(n, k) matrix(scan(input, what = integer(), n = n * k, quiet = TRUE), n, k, byrow = TRUE)

reliability <- function(case, x) {
  colnames(x) <- paste0("V", seq_len(ncol(x)))
  a <- suppressWarnings(suppressMessages(psych::alpha(x, cumulative = TRUE, warnings = FALSE)))
  emit(case, "alpha", 0, a$total$raw_alpha)
  emit(case, "g6", 0, a$total[["G6(smc)"]])
  emit(case, "average_r", 0, a$total$average_r)
  emit(case, "mean", 0, a$total$mean)
  emit(case, "sd", 0, a$total$sd)
  emit(case, "alpha_low", 0, a$feldt$lower.ci)
  emit(case, "alpha_high", 0, a$feldt$upper.ci)
  items <- match(rownames(a$item.stats), colnames(x)) - 1
  emit(case, "r_drop", items, a$item.stats$r.drop)
  emit(case, "item_mean", items, a$item.stats$mean)
  emit(case, "item_sd", items, a$item.stats$sd)
  emit(case, "alpha_if_dropped", match(rownames(a$alpha.drop), colnames(x)) - 1, a$alpha.drop$raw_alpha)
}

quality <- function(case, x) {
  rows <- seq_len(nrow(x)) - 1
  emit(case, "longstring", rows, apply(x, 1, function(r) max(rle(r)$lengths)))
  emit(case, "irv", rows, apply(x, 1, sd))
  C <- cov(x)
  s <- svd(C)$d
  rank <- sum(s > sqrt(.Machine$double.eps) * s[1])
  d2 <- mahalanobis(x, colMeans(x), psych::Pinv(C), inverted = TRUE)
  emit(case, "rank", 0, rank)
  emit(case, "mahalanobis_d2", rows, d2)
  emit(case, "mahalanobis_p", rows, pchisq(d2, rank, lower.tail = FALSE))
}

while (length(header <- readLines(input, n = 1)) > 0) {
  fields <- strsplit(header, " ")[[1]]
  kind <- fields[1]
  case <- fields[2]
  numbers <- as.numeric(fields[-(1:2)])
  if (kind == "qf") {
    p <- numbers[1]; df1 <- numbers[2]; df2 <- numbers[3]; ours <- numbers[4]
    emit(case, "qf", 0, qf(p, df1, df2))
    emit(case, "tail_of_ours", 0, if (p < 0.5) pf(ours, df1, df2) else pf(ours, df1, df2, lower.tail = FALSE))
  } else {
    x <- read_matrix(numbers[1], numbers[2])
    if (kind == "reliability") reliability(case, x) else quality(case, x)
  }
}
close(out)
