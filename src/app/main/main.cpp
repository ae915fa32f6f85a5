#include "platform/process.h"

int main(int argc, char** argv) {
    platform::InitProcess(argc, argv);
    return 0;
}
