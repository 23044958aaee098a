#include "dx/voxmol.h"

int main(int argc, char** argv) {
    return voxmol_main(argc, argv);
}
