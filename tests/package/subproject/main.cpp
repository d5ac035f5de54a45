// Names the default system of the systems file given in TAVO400_SYSTEMS.
#include <cstdio>

#include "cwbco.h"

int main() {
    char name[256];
    unsigned long needed = 0;
    if (cwbCO_GetDefaultSysName(name, sizeof name, &needed, 0) != CWB_OK)
        return 1;
    std::puts(name);
    return 0;
}
