#!/usr/bin/python3
"""Times Pillow's Image.quantize(256) on the picture the core benchmark quantizes.

Usage: pillow_quantize.py PICTURE.bgr [BENCH.json]

PICTURE.bgr is the raw picture veilora_bench writes with --picture_out (6000 x 4000, blue-green-red
bytes, rows from the top). Pillow's quantize makes the palette (median cut for RGB images) and maps
every pixel to it, so it is set beside our table-plus-map figure. With the benchmark's JSON output
our medians are printed next to Pillow's.
"""

import json
import statistics
import sys
import time

from PIL import Image

WIDTH, HEIGHT = 6000, 4000
REPETITIONS = 5


def our_medians(path):
    with open(path) as file:
        report = json.load(file)
    medians = {}
    for run in report.get("benchmarks", []):
        if run.get("aggregate_name") == "median" and run["run_name"].startswith("ColorQuantizer256"):
            assert run["time_unit"] == "ms"
            medians[run["run_name"].removesuffix("/real_time")] = run["real_time"]
    return medians


def main():
    with open(sys.argv[1], "rb") as file:
        raw = file.read()
    image = Image.frombytes("RGB", (WIDTH, HEIGHT), raw, "raw", "BGR")
    times = []
    for _ in range(REPETITIONS):
        start = time.perf_counter()
        quantized = image.quantize(256)
        times.append((time.perf_counter() - start) * 1000)
    pillow = statistics.median(times)
    colours = len(quantized.getcolors(256) or [])

    print(f"\nPillow {Image.__version__} quantize(256): {pillow:.1f} ms "
          f"(median of {REPETITIONS}, {colours} colours used)")
    medians = our_medians(sys.argv[2]) if len(sys.argv) > 2 else {}
    for name, ours in sorted(medians.items()):
        print(f"  {name:<32} {ours:8.1f} ms   Pillow takes {pillow / ours:.1f}x as long")


if __name__ == "__main__":
    main()
