#include <cstdio>

#include "app/Modes.h"

int RunHeadless(int, char**) {
    std::fprintf(stderr, "Somorabox: --headless is not available yet\n");
    return 2;
}

int RunReplay(int, char**) {
    std::fprintf(stderr, "Somorabox: --replay is not available yet\n");
    return 2;
}
