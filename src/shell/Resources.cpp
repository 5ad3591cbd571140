#include "shell/Resources.h"

#include <QtGlobal>

// Outside any namespace: the registration function the resource compiler makes is global.
void InitVeiloraResources() {
  Q_INIT_RESOURCE(veilora);
}
