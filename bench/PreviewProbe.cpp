// Loads one picture the way the open dialog's preview loaded it before it learned to reduce
// (whole) and the way it does now (reduced), so the two can be compared under /usr/bin/time -v:
//   veilora_preview_probe whole|preview FILE
// Prints the size of the bitmap it ended with.
#include <cstdio>
#include <cstring>
#include <exception>

#include "dialogs/OpenImageDialog.h"
#include "io/ImageIO.h"
#include "io/LzwCoders.h"
#include "io/PreviewLoad.h"

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "whole") != 0 && std::strcmp(argv[1], "preview") != 0)) {
    std::fprintf(stderr, "usage: %s whole|preview FILE\n", argv[0]);
    return 2;
  }
  veilora::InstallLzwCoders();
  veilora::TBitmap bitmap;
  veilora::TImageIO io;
  io.AttachBitmap(&bitmap);
  try {
    if (std::strcmp(argv[1], "whole") == 0) {
      io.LoadFromFile(argv[2]);
    } else {
      veilora::LoadPreviewImage(io, argv[2], TOpenImageDialog::kPreviewSide);
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  std::printf("%s: %d x %d bitmap for a %d x %d picture%s\n", argv[1], bitmap.Width(), bitmap.Height(),
              io.Params.Width, io.Params.Height, io.Aborting ? " (failed)" : "");
  return io.Aborting ? 1 : 0;
}
