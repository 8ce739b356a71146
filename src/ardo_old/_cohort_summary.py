"""What a cohort's index page summarises, gathered one client at a time in memory that does not grow
with the cohort: counts of texts (types, learning styles, leading roles) and, for every scale, how
often each value occurred. Scores are integer sums and percentages are rounded to two decimals, so
the number of distinct values of a scale is bounded by its keys, not by the number of clients."""

from __future__ import annotations

import math
from collections import Counter
from dataclasses import dataclass, field
from typing import Any, NamedTuple

# Up to this many distinct integers a histogram gives each its own bin; wider scales get BINS bins.
DISTINCT_BINS = 40
BINS = 20


class Bin(NamedTuple):
    low: float
    high: float  # the last bin includes it, the others do not; a bin of one integer has low == high
    clients: int


@dataclass
class ScaleValues:
    """How often each value of one scale occurred; values that are no finite number are only counted."""

    label: Any  # what the page names the scale by, kept as the first client gave it
    span: tuple[float, float] | None = None  # the scale's possible range, where it is known
    counts: Counter[float] = field(default_factory=Counter)
    not_numbers: int = 0

    def add(self, value: Any) -> None:
        if isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value):
            self.counts[value] += 1
        else:
            self.not_numbers += 1

    @property
    def n(self) -> int:
        return sum(self.counts.values())

    def mean(self) -> float | None:
        n = self.n
        return math.fsum(value * count for value, count in self.counts.items()) / n if n else None

    def sd(self) -> float | None:
        """The sample standard deviation (n - 1 in the denominator), as the statistics packages give it."""
        n, mean = self.n, self.mean()
        if n < 2 or mean is None:
            return None
        return math.sqrt(math.fsum(count * (value - mean) ** 2 for value, count in self.counts.items()) / (n - 1))

    def bins(self, span: tuple[float, float] | None = None) -> list[Bin]:
        """The histogram over ``span`` (the scale's possible range) or else over the values seen;
        values outside the span fall into its first or last bin. A narrow integer scale gets one bin
        per value (``low == high``), any other BINS bins of equal width."""
        if not self.counts:
            return []
        low, high = span if span is not None else (min(self.counts), max(self.counts))
        if all(float(value).is_integer() for value in [*self.counts, low, high]) and high - low < DISTINCT_BINS:
            per_value: Counter[int] = Counter()
            for value, count in self.counts.items():
                per_value[min(max(int(value), int(low)), int(high))] += count
            return [Bin(value, value, per_value[value]) for value in range(int(low), int(high) + 1)]
        if high <= low:
            return [Bin(low, high, self.n)]
        width = (high - low) / BINS
        tallies = [0] * BINS
        for value, count in self.counts.items():
            tallies[min(max(int((value - low) / width), 0), BINS - 1)] += count
        edges = [low, *(low + step * width for step in range(1, BINS)), high]  # the ends exact, as given
        return [Bin(edges[step], edges[step + 1], tally) for step, tally in enumerate(tallies)]


@dataclass
class CohortSummary:
    scored: int = 0
    failed: int = 0
    types: Counter[str] = field(default_factory=Counter)
    learning: Counter[str] = field(default_factory=Counter)
    leading_roles: Counter[str] = field(default_factory=Counter)
    scales: dict[str, ScaleValues] = field(default_factory=dict)  # in the order the first client gave them

    def add_scale(self, key: str, label: Any, value: Any, span: tuple[float, float] | None = None) -> None:
        values = self.scales.get(key)
        if values is None:
            values = self.scales[key] = ScaleValues(label, span)
        values.add(value)
