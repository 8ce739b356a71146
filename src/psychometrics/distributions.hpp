// The distributions behind the intervals and p values: the F quantile of Feldt's interval of alpha
// and the chi-square upper tail of a Mahalanobis distance. Accurate to a few units in the last place
// of a double over any degrees of freedom a cohort can have (the terms of large ones are written so
// that their logarithms do not cancel).
#pragma once

namespace psychometrics {

// I_x(a, b), the regularized incomplete beta function, for a, b > 0 and 0 <= x <= 1.
double incomplete_beta(double a, double b, double x);

// The p quantile of the F distribution with df1 and df2 degrees of freedom (R's qf(p, df1, df2)):
// 0 for p <= 0, infinity for p >= 1, NaN for degrees of freedom that are not positive.
double f_quantile(double p, double df1, double df2);

// P(X > x) for X chi-square with df > 0 degrees of freedom (R's pchisq(x, df, lower.tail = FALSE)).
double chi_square_upper(double x, double df);

}  // namespace psychometrics
