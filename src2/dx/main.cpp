#include "dx/uhbdio.h"

int main(int argc, char** argv) {
    return voxmol_main(argc, argv);
}
