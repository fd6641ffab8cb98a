// lxmachine with the test kernel, for tests of the tool, the daemon and the compat layer.
#include "cli.h"
#include "fake_kernel.h"

int main(int argc, char** argv) { return lxm::runLxmachine(argc, argv, &lxm::testing::bootFakeKernel); }
