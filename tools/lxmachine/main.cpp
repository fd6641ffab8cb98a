#include "cli.h"

int main(int argc, char** argv) { return lxm::runLxmachine(argc, argv, &nt::Kernel::boot); }
