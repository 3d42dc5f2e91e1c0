#include "uIcons.h"

// Placeholder until the drawn icons arrive: no icon at all.
QIcon Icon(TIcon) { return QIcon(); }
