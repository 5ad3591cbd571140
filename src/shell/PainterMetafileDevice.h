#pragma once

// The window program's metafile device: the core's record readers draw through a QPainter onto a
// copy of the target bitmap, which is written back when the device is destroyed. Shapes are drawn
// without anti-aliasing, as the metafiles' own system draws them; text is smoothed.

#include <memory>

#include "image/Bitmap.h"
#include "io/MetafileDevice.h"

std::unique_ptr<veilora::TMetafileDevice> MakePainterMetafileDevice(veilora::TBitmap& target);

// Registers the program's metafile player with this device; called once at start-up.
void InstallMetafilePlayer();
