#!/usr/bin/env python3
"""Turns the benchmark program's JSON (medians) and the memory-peak report into one table.

Prints it, and with --into writes it into a Markdown file between the two
markers below, keeping the notes around them (docs/benchmarks.md).
"""
import argparse
import json
import os
import sys
from collections import defaultdict

# The square sizes, and the photograph's width (6000 x 4000).
EVERY_SIZE = {1024, 4096, 8192, 6000}
LARGE = {4096, 8192, 6000}
# operation -> [(peer it is measured against, least ratio peer time / our time, sizes it applies at)]
TARGETS = {
    "Complement.pf8bit": [("rmw", 0.9, LARGE)],
    "EdgeDetection.pf8bit": [("opencv", 4.0, LARGE)],
    "Mirror.pf8bit": [("opencv", 3.0, LARGE)],
    "Mirror.pf24bit": [("opencv", 1.5, LARGE)],
    "ToPf8bit.FewColours.pf32bit": [("qt", 3.0, LARGE)],
    "ToPf8bit.Photograph.pf32bit": [("qt", 1.0, LARGE), ("ours-1thread", 1.8, LARGE)],
    "ToPf8bit.Photograph.pf24bit": [("ours-1thread", 1.8, LARGE)],
    # Least times (LEAST_TIME); the medians of Qt's call-bound loop swing
    # twofold on this machine (docs/benchmarks.md, "Pixel access").
    "GetPixel.pf8bit": [("qt", 7.0, LARGE)],
    "SetPixel.pf8bit": [("qt", 7.0, LARGE)],
    # Its loop lies across two lines of code in every build (docs/benchmarks.md).
    "GetPixel.pf24bit": [("qt", 8.0, LARGE)],
    "SetPixel.pf24bit": [("qt", 10.0, LARGE)],
    "DecodeBmp.pf8bit": [("qt", 2.0, LARGE)],
    "EncodeBmp.pf8bit": [("qt", 2.0, LARGE)],
    "DecodeBmp.pf24bit": [("qt", 2.0, LARGE)],
    "EncodeBmp.pf24bit": [("qt", 2.0, LARGE)],
    "Photo.OpenPng": [("spng", 1.0, LARGE)],
    "Photo.OpenJpeg": [("turbojpeg", 1.0, LARGE)],
    "Photo.SaveJpeg": [("turbojpeg", 1.0, LARGE)],
    "Photo.SavePng": [("qt", 5.0, LARGE)],
    # The phone and web formats: within 5 % of the library's own decode into a buffer.
    "Photo.OpenHeic": [("libheif", 0.95, LARGE)],
    "Photo.OpenAvif": [("libheif", 0.95, LARGE)],
    "Photo.OpenJxl": [("libjxl", 0.95, LARGE)],
}
for _format in ("pf8bit", "pf24bit", "pf32bit"):
    TARGETS[f"ReadPictureFile.{_format}"] = [("qt", 1.0, EVERY_SIZE), ("read", 0.8, EVERY_SIZE)]
    TARGETS[f"WritePictureFile.{_format}"] = [("qt", 1.0, EVERY_SIZE)]
# Rows compared by the least time of their repetitions rather than the
# median: loops of a call a pixel, whose every peer's time swings up to
# twofold between repetitions on a shared machine, each on its own.
LEAST_TIME = ("GetPixel.", "SetPixel.")
# Targets against our own run on one thread need more than one core.
ONE_THREAD = "ours-1thread"
# Our PNG of the photograph may be at most this much larger than Qt's.
PNG_SIZE_LIMIT = 1.10
REPAINT_LIMIT_MS = 10.0
# ImageMagick's published mean absolute error per channel for its 256-colour reduction.
PUBLISHED_ERROR = {"astronaut": 2.5, "coffee": 2.2}
# The memory-peak program's rows: a session's bar is twice the picture plus
# 150 MB; an opened file's twice the picture plus 256 MiB; a refused one's 256 MiB.
MEMORY_ROWS = ("session", "png16", "tiff16", "tiff16raw", "gif100", "webp100", "gif", "mng")
UNIT_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
# What the table replaces in a Markdown file: everything between these lines.
TABLE_START = "<!-- Written by bench/table.py from the latest full run of bench/run.sh. -->"
TABLE_END = "<!-- End of what bench/table.py writes. -->"


def machine():
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return f"{os.cpu_count()} CPUs (nproc), {model}"


def load(path):
    """(operation, implementation, size) -> record of the median (LEAST_TIME rows: the least), or of the error."""
    with open(path) as f:
        data = json.load(f)
    runs = {}
    for b in data.get("benchmarks", []):
        name = b.get("run_name", b["name"])
        parts = name.split("/")
        if len(parts) < 3:
            continue
        key = (parts[0], parts[1], int(parts[2]))
        if b.get("error_occurred"):
            runs[key] = {"error": b.get("error_message", "error")}
        else:
            wanted = "min" if key[0].startswith(LEAST_TIME) else "median"
            aggregate = b.get("aggregate_name", "median")
            # A run without the least time (older JSON) falls back to the median.
            if aggregate == wanted or (aggregate == "median" and key not in runs):
                b["ms"] = b["real_time"] * UNIT_MS[b.get("time_unit", "ns")]
                runs[key] = b
    return runs


def fmt_ms(ms):
    return f"{ms:.3f}" if ms < 10 else f"{ms:.1f}"


def write_into(path, table):
    """Replaces the lines between the markers of a Markdown file with the table."""
    with open(path) as f:
        text = f.read()
    start, end = text.find(TABLE_START), text.find(TABLE_END)
    if start < 0 or end < start:
        sys.exit(f"{path} lacks the lines that mark where the table goes:\n{TABLE_START}\n{TABLE_END}")
    with open(path, "w") as f:
        f.write(text[:start + len(TABLE_START)] + "\n" + table + "\n" + text[end:])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bench", help="the benchmark program's JSON")
    parser.add_argument("memory", nargs="?", help="the memory-peak program's report")
    parser.add_argument("--into", metavar="MARKDOWN", help="also write the table into this file, between its markers")
    options = parser.parse_args()
    table = make_table(options.bench, options.memory)
    print(table)
    if options.into:
        write_into(options.into, table)


def make_table(bench_path, memory_path):
    runs = load(bench_path)
    lines = [f"Machine: {machine()}", "",
             "Medians of 5 repetitions (for GetPixel and SetPixel, the least of them). Ours runs on every core, and held to one thread as the peer ours-1thread; "
             "OpenCV on one thread (opencv-1thread) and on its default threads (opencv); "
             "the yardsticks rmw and memcpy on every core, in our bands of rows. Ratio = peer time / our time.", ""]
    header = "| operation | size | ours ms | peer | peer ms | ratio | target | |"
    lines += [header, "|---|---|---|---|---|---|---|---|"]
    by_op = defaultdict(dict)
    for (op, impl, size), rec in runs.items():
        by_op[(op, size)][impl] = rec
    failures = []
    for (op, size) in sorted(by_op, key=lambda k: (k[0].split(".")[0], k[0], k[1])):
        if op.startswith("PhotoError."):
            continue
        impls = by_op[(op, size)]
        ours = impls.get("ours")
        if ours is None:
            continue
        if "error" in ours:
            lines.append(f"| {op} | {size} | error: {ours['error']} | | | | | |")
            continue
        targets = {peer: (goal, sizes) for peer, goal, sizes in TARGETS.get(op, [])
                   if peer != ONE_THREAD or (os.cpu_count() or 1) > 1}
        repaint = op.startswith(("RenderPictureView.", "RenderShownView.", "DrawPictureView."))
        if repaint:
            ok = ours["ms"] < REPAINT_LIMIT_MS
            lines.append(f"| {op} | {size} | {fmt_ms(ours['ms'])} | | | | < {REPAINT_LIMIT_MS:g} ms | {'pass' if ok else 'FAIL'} |")
            if not ok:
                failures.append(f"{op} {size}")
        peers = [p for p in impls if p != "ours"]
        if not peers and not repaint:
            lines.append(f"| {op} | {size} | {fmt_ms(ours['ms'])} | | | | | |")
        for peer in sorted(peers, key=lambda p: (p not in targets, p)):
            rec = impls[peer]
            applies = peer in targets and size in targets[peer][1]
            if "error" in rec:
                lines.append(f"| {op} | {size} | {fmt_ms(ours['ms'])} | {peer} | error: {rec['error']} | | | |")
                if applies:
                    failures.append(f"{op} {size} {peer}")
                continue
            ratio = rec["ms"] / ours["ms"]
            goal, mark = "", ""
            if applies:
                goal = f">= {targets[peer][0]:g}"
                mark = "pass" if ratio >= targets[peer][0] else "FAIL"
                if mark == "FAIL":
                    failures.append(f"{op} {size} {peer}")
            lines.append(f"| {op} | {size} | {fmt_ms(ours['ms'])} | {peer} | {fmt_ms(rec['ms'])} | {ratio:.2f} | {goal} | {mark} |")

    lines += ["", "The 24-megapixel photograph's files (6000 x 4000, sensor-like noise): sizes in MB", ""]
    lines += ["| file | ours | qt | spng | turbojpeg | ours / qt | |", "|---|---|---|---|---|---|---|"]
    for op in ("Photo.SavePng", "Photo.SaveJpeg"):
        impls = by_op.get((op, 6000), {})
        sizes = {impl: rec.get("file_bytes") for impl, rec in impls.items() if "error" not in rec}
        if not sizes.get("ours"):
            lines.append(f"| {op[len('Photo.Save'):]} | not run | | | | | |")
            continue
        cells = [f"{sizes[i] / 1e6:.1f}" if sizes.get(i) else "" for i in ("ours", "qt", "spng", "turbojpeg")]
        ratio = sizes["ours"] / sizes["qt"] if sizes.get("qt") else None
        mark = ""
        if op == "Photo.SavePng" and ratio is not None:
            mark = f"<= {PNG_SIZE_LIMIT:g}: " + ("pass" if ratio <= PNG_SIZE_LIMIT else "FAIL")
            if ratio > PNG_SIZE_LIMIT:
                failures.append("PNG size")
        lines.append(f"| {op[len('Photo.Save'):]} | {' | '.join(cells)} | {f'{ratio:.3f}' if ratio else ''} | {mark} |")

    lines += ["", "Conversion of the public photographs to pf8bit: mean absolute error per channel", ""]
    lines += ["| photograph | ours | Qt | ImageMagick (published) | |", "|---|---|---|---|---|"]
    for name, published in PUBLISHED_ERROR.items():
        ours = runs.get((f"PhotoError.{name}", "ours", 0))
        qt = runs.get((f"PhotoError.{name}", "qt", 0))
        if ours is None or "error" in ours:
            reason = ours["error"] if ours else "not run"
            lines.append(f"| {name} | skipped: {reason} | | {published} | |")
            continue
        ok = ours["mae"] <= published
        if not ok:
            failures.append(f"error on {name}")
        qt_error = f"{qt['mae']:.2f}" if qt and "mae" in qt else "-"
        lines.append(f"| {name} | {ours['mae']:.2f} | {qt_error} | {published} | {'pass' if ok else 'FAIL'} |")

    if memory_path:
        lines += ["", "Peak memory, each row in a process of its own: peak resident size (VmHWM) beside its bar", ""]
        lines += ["| opening | picture MB | at start MB | peak MB | bar MB | |", "|---|---|---|---|---|---|"]
        try:
            with open(memory_path) as f:
                reports = {m["row"]: m for m in (json.loads(line) for line in f.read().splitlines() if line.strip())}
        except (OSError, ValueError, KeyError) as error:
            reports = {}
            lines.append(f"| no report ({error}) | | | | | |")
        for row in MEMORY_ROWS:
            memory = reports.get(row)
            if memory is None:
                lines.append(f"| {row}: no report | | | | | FAIL |")
                failures.append(f"memory peak {row}")
                continue
            if "skipped" in memory:
                lines.append(f"| {row}: skipped, {memory['skipped']} | | | | | |")
                continue
            ok = memory["peak_mb"] <= memory["limit_mb"]
            if not ok:
                failures.append(f"memory peak {row}")
            what = memory["what"]
            if memory.get("refused"):
                # The reason without the file's temporary name.
                what += "; refused: " + memory["refused"].split('": ', 1)[-1]
            lines.append(f"| {what} | {memory['picture_mb']:.0f} | {memory['start_mb']:.0f} | {memory['peak_mb']:.0f} | "
                         f"{memory['limit_mb']:.0f} | {'pass' if ok else 'FAIL'} |")

    lines += ["", "Every target met." if not failures else "Targets missed: " + ", ".join(failures)]
    return "\n".join(lines)


if __name__ == "__main__":
    main()
