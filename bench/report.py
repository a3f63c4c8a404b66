#!/usr/bin/env python3
"""Report of scripts/bench: medians of the raw measurements as Markdown tables.

Usage: report.py RESULTS.tsv SIZES.tsv
RESULTS.tsv: tool model dpi mode pages run rep elapsed_s user_s sys_s maxrss_kib
SIZES.tsv:   raster file name (m<model>-<dpi>-<pages>.ras), width, height
"""
import csv
import statistics
import sys
from collections import defaultdict

MIB = 1024.0
MODES = {"bw": "black and white", "gray": "gray (Stucki)", "sketch": "gray + sketch"}
# Targets on a 300-dpi A4 page of model 22, one page: time ratio to pdftoraster, peak RSS.
TIME_TARGETS = {"bw": 0.2, "gray": 0.5, "sketch": 0.9}
RSS_TARGETS_MIB = {"gray": 32, "sketch": 48}


def load(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def medians(rows):
    """Per-page medians of CPU time, wall time (ms) and peak RSS (MiB) of a group of runs."""
    pages = int(rows[0]["pages"])
    cpu = [(float(r["user_s"]) + float(r["sys_s"])) * 1000 / pages for r in rows]
    wall = [float(r["elapsed_s"]) * 1000 / pages for r in rows]
    rss = [int(r["maxrss_kib"]) / MIB for r in rows]
    return statistics.median(cpu), statistics.median(wall), statistics.median(rss), len(rows)


def main():
    results = load(sys.argv[1])
    sizes = {}
    try:
        with open(sys.argv[2]) as f:
            for line in f:
                name, w, h = line.split()
                model, dpi, _ = name[1:-4].split("-")
                sizes[(model, dpi)] = (int(w), int(h))
    except FileNotFoundError:
        pass

    groups = defaultdict(list)
    for r in results:
        groups[(r["tool"], r["model"], r["dpi"], r["mode"], r["pages"], r["run"])].append(r)
    raster = {}
    for (tool, model, dpi, _, pages, _), rows in groups.items():
        if tool == "pdftoraster":
            raster[(model, dpi, pages)] = medians(rows)

    def order(key):
        _, model, dpi, mode, pages, run = key
        return (["22", "21", "18", "32"].index(model) if model in ("22", "21", "18", "32") else 9,
                int(pages), int(dpi), list(MODES).index(mode), run)

    filt = {k: medians(v) for k, v in groups.items() if k[0] == "rastertoRX5K"}

    print("| Model | dpi | Page (dots) | Mode | Pages | Run | Filter CPU ms/page | Filter wall "
          "ms/page | Filter peak RSS MiB | pdftoraster CPU ms/page | pdftoraster peak RSS MiB "
          "| Time ratio | RSS ratio | Runs |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    for key in sorted(filt, key=order):
        _, model, dpi, mode, pages, run = key
        cpu, wall, rss, n = filt[key]
        rcpu, _, rrss, _ = raster.get((model, dpi, pages), (float("nan"),) * 4)
        w, h = sizes.get((model, dpi), (0, 0))
        print(f"| {model} | {dpi} | {w} × {h} | {MODES[mode]} | {pages} | {run} | {cpu:.0f} | "
              f"{wall:.0f} | {rss:.1f} | {rcpu:.0f} | {rrss:.1f} | {cpu / rcpu:.2f} | "
              f"{rss / rrss:.2f} | {n} |")

    print()
    print("Targets (model 22, 300 dpi, A4, one page, compared by CPU time):")
    print()
    print("| Mode | Run | Time ratio | Target | Met | Peak RSS MiB | Target | Met |")
    print("|---|---|---|---|---|---|---|---|")
    for mode in MODES:
        for run in ("direct", "emulator"):
            key = ("rastertoRX5K", "22", "300", mode, "1", run)
            if key not in filt or ("22", "300", "1") not in raster:
                continue
            cpu, _, rss, _ = filt[key]
            ratio = cpu / raster[("22", "300", "1")][0]
            limit = RSS_TARGETS_MIB.get(mode)
            rss_cells = (f"{rss:.1f} | ≤ {limit} | {'yes' if rss <= limit else 'no'}"
                         if limit else f"{rss:.1f} | – | –")
            print(f"| {MODES[mode]} | {run} | {ratio:.2f} | ≤ {TIME_TARGETS[mode]} | "
                  f"{'yes' if ratio <= TIME_TARGETS[mode] else 'no'} | {rss_cells} |")

    print()
    print("Growth with the number of dots (one page, 203 → 300 dpi): linear growth keeps the "
          "time per dot; the peak RSS is a fixed part plus a part per dot.")
    print()
    print("| Model | Mode | Run | Dots ratio | CPU ratio | CPU ns/dot 203 | CPU ns/dot 300 | "
          "RSS 203 MiB | RSS 300 MiB | RSS bytes/dot | RSS fixed part MiB |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for key in sorted(filt, key=order):
        _, model, dpi, mode, pages, run = key
        hi = ("rastertoRX5K", model, "300", mode, pages, run)
        if dpi != "203" or pages != "1" or hi not in filt:
            continue
        d_lo = sizes.get((model, "203"), (0, 0))
        d_hi = sizes.get((model, "300"), (0, 0))
        n_lo, n_hi = d_lo[0] * d_lo[1], d_hi[0] * d_hi[1]
        if not n_lo or not n_hi:
            continue
        c_lo, _, r_lo, _ = filt[key]
        c_hi, _, r_hi, _ = filt[hi]
        per_dot = (r_hi - r_lo) * MIB * 1024 / (n_hi - n_lo)
        fixed = r_lo - per_dot * n_lo / (MIB * 1024)
        print(f"| {model} | {MODES[mode]} | {run} | {n_hi / n_lo:.2f} | {c_hi / c_lo:.2f} | "
              f"{c_lo * 1e6 / n_lo:.1f} | {c_hi * 1e6 / n_hi:.1f} | {r_lo:.1f} | {r_hi:.1f} | "
              f"{per_dot:.2f} | {fixed:.1f} |")

    print()
    print("20-page jobs against 1-page jobs (per page; no growth means ratios near 1):")
    print()
    print("| Model | dpi | Mode | Run | CPU ms/page 1 → 20 | Ratio | Peak RSS MiB 1 → 20 | "
          "Ratio |")
    print("|---|---|---|---|---|---|---|---|")
    for key in sorted(filt, key=order):
        _, model, dpi, mode, pages, run = key
        long_key = ("rastertoRX5K", model, dpi, mode, "20", run)
        if pages != "1" or long_key not in filt:
            continue
        c1, _, r1, _ = filt[key]
        c20, _, r20, _ = filt[long_key]
        print(f"| {model} | {dpi} | {MODES[mode]} | {run} | {c1:.0f} → {c20:.0f} | "
              f"{c20 / c1:.2f} | {r1:.1f} → {r20:.1f} | {r20 / r1:.2f} |")


if __name__ == "__main__":
    main()
