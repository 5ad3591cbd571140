#include "view/Cursors.h"

#include <QIcon>
#include <QPixmap>
#include <array>
#include <map>

namespace veilora {
namespace {

struct TCursorResource {
  int id;
  const char* name;
  int hotX;
  int hotY;
};

// Hot spots in the 32 x 32 images: the lens centre, the cross centre, the tip of the pen.
constexpr std::array<TCursorResource, 13> kResources = {{
    {crZoomOut, "ZOOMMENO", 13, 13},
    {crZoomIn, "ZOOMPIU", 13, 13},
    {crCross, "CROCE", 16, 16},
    {crEraser, "GOMMA", 5, 25},
    {crHand, "MANO", 16, 18},
    {crPen, "PENNA", 3, 29},
    {crCircleCross, "CROCE1", 16, 16},
    {crSelect, "CROCE2", 16, 16},
    {crSizeNwse, "MOVE2", 16, 16},
    {crSizeNs, "MOVEY", 16, 16},
    {crSizeNesw, "MOVE1", 16, 16},
    {crSizeWe, "MOVEX", 16, 16},
    {crMoveSelection, "MOVE", 16, 16},
}};

std::map<int, QCursor>& Table() {
  static std::map<int, QCursor> table;
  return table;
}

}  // namespace

void RegisterViewCursors() {
  std::map<int, QCursor>& table = Table();
  if (table.size() == kResources.size()) return;
  constexpr int kSide = 32;
  for (const TCursorResource& resource : kResources) {
    const QPixmap image =
        QIcon(QStringLiteral(":/cursors/%1.svg").arg(QLatin1String(resource.name))).pixmap(kSide, kSide);
    table[resource.id] = QCursor(image, resource.hotX, resource.hotY);
  }
}

QCursor CursorById(int id) {
  const auto found = Table().find(id);
  return found == Table().end() ? QCursor(Qt::ArrowCursor) : found->second;
}

int GripCursor(int grip) {
  static constexpr std::array<int, 8> kByGrip = {crSizeNwse, crSizeNesw, crSizeNwse, crSizeNesw,
                                                 crSizeWe,   crSizeWe,   crSizeNs,   crSizeNs};
  return grip >= 0 && grip < 8 ? kByGrip[static_cast<std::size_t>(grip)] : crSelect;
}

}  // namespace veilora
