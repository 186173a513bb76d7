#include "vornd.h"

int main(int argc, char** argv) {
    Vornd daemon;
    return daemon.Run(argc, argv);
}
