#!/usr/bin/env bash
# Writes the seed files of the AVI fuzz target into fuzz/corpus/avi (run from the repository root):
# tiny videos made by the ffmpeg program in the codings AVI files commonly carry, and two damaged
# copies (cut in the middle, a header byte changed). Every file stays small.
set -euo pipefail
out=fuzz/corpus/avi
mkdir -p "$out"
make() {  # name, codec options...
  local name=$1
  shift
  ffmpeg -loglevel error -y -f lavfi -i "testsrc=size=16x12:rate=5" -frames:v 3 "$@" "$out/$name.avi"
}
make rawvideo-bgr24 -c:v rawvideo -pix_fmt bgr24
make mjpeg -c:v mjpeg -q:v 10
make mpeg4 -c:v mpeg4 -q:v 10
make msvideo1 -c:v msvideo1
python3 - "$out" <<'PY'
import os, sys
out = sys.argv[1]
data = open(os.path.join(out, "mjpeg.avi"), "rb").read()
open(os.path.join(out, "mjpeg-cut.avi"), "wb").write(data[: len(data) // 2])
damaged = bytearray(data)
damaged[0x40] ^= 0xFF  # inside the main AVI header
open(os.path.join(out, "mjpeg-bad-header.avi"), "wb").write(bytes(damaged))
PY
ls -l "$out"
