#include <cstdio>

#include "app/Modes.h"

int RunListMixers() {
    std::printf("no mixer devices\n");
    return 0;
}
