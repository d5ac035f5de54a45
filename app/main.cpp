#include <cstdio>
#include <cstring>

#include "TVOExtApp.h"

int main(int argc, char** argv) {
    // Answered before Qt starts, so that it needs no display.
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("tavo400-express " TAVO_VERSION);
            return 0;
        }
    CTVOExtApp app(argc, argv);
    if (!app.InitInstance())
        return 1;
    return app.exec();
}
