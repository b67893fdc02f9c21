// bankquill-demo-pcg OUTPUT: writes the demo PCG file (the build makes tools/demo.pcg).
#include <cstdio>

#include "tools/demo-pcg/DemoPcg.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bankquill-demo-pcg OUTPUT\n");
        return 2;
    }
    if (!bq::demo::WriteDemoPcg(argv[1])) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
