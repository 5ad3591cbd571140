#pragma once

// Files of several images for the multi-frame tests, made by independent tools: AVI videos by the
// ffmpeg program, GIF animations and multi-page TIFF files by Pillow on the system Python. A
// missing tool is a test failure, never a skip.

#include <cstdlib>
#include <string>

namespace veilora::test {

inline bool RunShell(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

// `frames` frames of ffmpeg's test pattern at width x height, `rate` frames a second, in `codec`
// ("rawvideo", "mjpeg", "mpeg4").
inline bool MakeAvi(const std::string& file, int width, int height, int frames, int rate,
                    const std::string& codec = "mjpeg") {
  std::string command = "ffmpeg -loglevel error -y -f lavfi -i testsrc=size=" + std::to_string(width) + "x" +
                        std::to_string(height) + ":rate=" + std::to_string(rate) + " -frames:v " +
                        std::to_string(frames) + " -c:v " + codec;
  if (codec == "rawvideo") command += " -pix_fmt bgr24";
  return RunShell(command + " '" + file + "'");
}

// A GIF of `frames` frames of width x height, frame i filled with grey level 40 * i, each shown
// for delayMs; or a TIFF of as many pages (page i also width + i wide, so pages differ in size).
inline bool MakeFrames(const std::string& file, const std::string& format, int width, int height, int frames,
                       int delayMs = 200) {
  const std::string script =
      "import sys\n"
      "from PIL import Image\n"
      "w, h, n, d = " +
      std::to_string(width) + ", " + std::to_string(height) + ", " + std::to_string(frames) + ", " +
      std::to_string(delayMs) +
      "\n"
      "fmt = '" +
      format +
      "'\n"
      "grow = 1 if fmt == 'TIFF' else 0\n"
      "images = [Image.new('RGB', (w + grow * i, h), (40 * i, 40 * i, 40 * i)) for i in range(n)]\n"
      "images[0].save(sys.argv[1], format=fmt, save_all=True, append_images=images[1:], duration=d, "
      "loop=0)\n";
  return RunShell("/usr/bin/python3 -c \"" + script + "\" '" + file + "'");
}

}  // namespace veilora::test
