#include "UiResources.h"

#include <QtGlobal>

static void InitImages() {
    Q_INIT_RESOURCE(images);
}

void InitUiResources() {
    InitImages();
}
