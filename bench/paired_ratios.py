"""The median of paired ratios with its distribution-free 95% interval,
shared by the benchmarks that alternate two cases."""

import math
import statistics

CONFIDENCE = 0.95


def median_interval(values):
    """The median of `values` and its 95% interval: the k-th smallest and
    largest, k the largest with P(Binomial(n, 1/2) < k) <= 2.5% (None when
    too few values to have one)."""
    ordered = sorted(values)
    n = len(ordered)
    k, below = 0, 0.0
    while True:
        below_next = below + math.comb(n, k) / 2 ** n
        if below_next > (1 - CONFIDENCE) / 2:
            break
        below, k = below_next, k + 1
    interval = (ordered[k - 1], ordered[n - k]) if k >= 1 else None
    return statistics.median(ordered), interval
