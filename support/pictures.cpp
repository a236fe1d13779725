#include "support/pictures.h"

#include <QtGlobal>

// The pictures live in a static library: its resources must be pulled in by hand.
static void initResources() { Q_INIT_RESOURCE(resources); }

void loadPictures() { initResources(); }
