#!/usr/bin/python3
"""Driver of bench/cli_vs_steghide.sh: makes the cover and the messages, runs hyperfine, and
prints the medians with their ratios to steghide's.

Usage: cli_vs_steghide.py VEILORA_CLI WORK_DIR STEGHIDE_BYTES VEILORA_RUNS
"""
import json
import os
import re
import struct
import subprocess
import sys

WIDTH, HEIGHT = 6000, 4000


def write_cover(path):
    # Random colours: every sample is usable by both tools, as in a noisy photograph.
    stride = (3 * WIDTH + 3) // 4 * 4
    data = os.urandom(stride * HEIGHT)
    header = b"BM" + struct.pack("<IHHI", 54 + len(data), 0, 0, 54)
    header += struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + data)


def steghide_capacity(cover):
    out = subprocess.run(["steghide", "info", "-p", "", cover], capture_output=True, text=True).stdout
    match = re.search(r"capacity:\s*([0-9.]+)\s*(Byte|KB|MB)", out)
    if not match:
        sys.exit("cannot read steghide's capacity from: " + out)
    scale = {"Byte": 1, "KB": 1024, "MB": 1024 * 1024}[match.group(2)]
    # The figure is rounded to one decimal; stay below it.
    return int(float(match.group(1)) * scale * 0.99)


def hyperfine(work, name, runs, commands):
    result = os.path.join(work, name + ".json")
    arguments = ["hyperfine", "--style", "basic", "--runs", str(runs), "--export-json", result]
    for label, command in commands:
        arguments += ["-n", label, command]
    subprocess.run(arguments, check=True)
    with open(result) as f:
        return {entry["command"]: entry["median"] for entry in json.load(f)["results"]}


def main():
    cli, work, stego_bytes, runs = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    os.makedirs(work, exist_ok=True)
    cover = os.path.join(work, "cover-6000x4000.bmp")
    write_cover(cover)
    veilora_fit = HEIGHT * (3 * WIDTH - 2) // 8 - 8
    stego_capacity = steghide_capacity(cover)
    messages = {"full": veilora_fit, "sealed": veilora_fit - 74, "stego": stego_bytes}
    for name, size in messages.items():
        with open(os.path.join(work, name + ".msg"), "wb") as f:
            f.write(os.urandom(size))
    with open(os.path.join(work, "pass"), "w") as f:
        f.write("a passphrase for the benchmark\n")

    def path(name):
        return os.path.join(work, name)

    out = path("out.bmp")
    veilora = hyperfine(work, "veilora", runs, [
        ("veilora-cli, full capacity", f"{cli} hide -q -m {path('full.msg')} -o {out} {cover}"),
        ("veilora-cli, full capacity, passphrase",
         f"{cli} hide -q -m {path('sealed.msg')} -p {path('pass')} -o {out} {cover}"),
        ("veilora-cli, steghide's message", f"{cli} hide -q -m {path('stego.msg')} -o {out} {cover}"),
        ("copy of the cover (cp)", f"cp {cover} {out}"),
    ])
    stego_out = path("steghide-out.bmp")
    steghide = hyperfine(work, "steghide", 1, [
        ("steghide, plain", f"steghide embed -q -f -Z -e none -p pw -cf {cover} -ef {path('stego.msg')} -sf {stego_out}"),
        ("steghide, encrypted", f"steghide embed -q -f -Z -p pw -cf {cover} -ef {path('stego.msg')} -sf {stego_out}"),
    ])

    print()
    print(f"cover {WIDTH} x {HEIGHT} BMP; veilora-cli fits {veilora_fit} bytes, "
          f"steghide reports {stego_capacity} and gets {stego_bytes} bytes")
    plain, encrypted = steghide["steghide, plain"], steghide["steghide, encrypted"]
    for label, seconds in veilora.items():
        reference = encrypted if "passphrase" in label else plain
        print(f"  {label:45s} {seconds:8.3f} s   {seconds / reference:7.4f} x steghide "
              f"({'encrypted' if 'passphrase' in label else 'plain'})")
    for label, seconds in steghide.items():
        print(f"  {label:45s} {seconds:8.3f} s")


main()
