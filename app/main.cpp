#include "TVOExtApp.h"

int main(int argc, char** argv) {
    CTVOExtApp app(argc, argv);
    if (!app.InitInstance())
        return 1;
    return app.exec();
}
