"""Medians, ratios and the way figures are printed, for every scenario."""

import statistics


def median(results, key, scale=1.0):
    values = [r[key] for r in results if r.get(key) is not None]
    return statistics.median(values) / scale if values else None


def fmt(value, pattern):
    if value is None:
        return "-".rjust(len(pattern.format(0)))
    return pattern.format(value)


def ratio(a, b):
    return a / b if a is not None and b else None


def mib(kb):
    return kb / 1024 if kb is not None else None
