#include "status_report.h"

#include <windows.h>

#include <cstdio>

#include "lx/video.h"

namespace lxsnap {

namespace {

// The machine answers requests only while it runs; GetVersionExA is one.
bool machineRuns() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  return GetVersionExA(&version) != FALSE;
}

constexpr const char* kStartMachine =
    "No machine runs. Start one with 'lxmachine boot' (build/bin/lxmachine), or unset "
    "LX_MACHINE_NO_AUTOBOOT so that lxsnap boots it; LX_MACHINE names its directory.";

}  // namespace

std::string hintFor(LxStatus status) {
  switch (status) {
    case LX_NO_CARD_FOUND:
      return machineRuns() ? "'lxsnap --list' shows the cards; 'lxmachine plug terncard' adds one." : kStartMachine;
    case LX_OPEN_DRIVER_FAILED:
    case LX_NOT_SUPPORT_CARD_TYPE:
      return "The card library of this card type is missing from the library directory.";
    case LX_ALLOCATE_DEVICE_MEMORY_ERROR:
      return machineRuns() ? "The static memory is not reserved: set its size and reboot the machine "
                             "('lxmachine reboot')."
                           : kStartMachine;
    case LX_ACCESS_DEVICE_MEMORY_DENIED:
      return "The frames do not fit in the static memory: ask for fewer frames, a smaller window or a "
             "smaller pixel format.";
    case LX_SNAP_SHOT_TIME_OUT:
      return "The card delivered fewer frames than asked: is there a signal on the input? "
             "'lxsnap --list' shows the inputs with a signal.";
    case LX_IN_WORK:
      return "The card is busy with another capture or snap.";
    case LX_PARAMETER_INVALID:
    case LX_PARAMETER_OUT_OF_BOUND:
      return "The card refuses this value; see 'lxsnap --help'.";
    default:
      return "";
  }
}

int reportFailure(const std::string& what, LxStatus status) {
  std::fprintf(stderr, "lxsnap: %s: %s (%d)\n", what.c_str(), LxGetErrorString(status), status);
  if (const std::string hint = hintFor(status); !hint.empty()) {
    std::fprintf(stderr, "%s\n", hint.c_str());
  }
  return kFailureExit;
}

int reportNoCard() {
  if (!machineRuns()) {
    std::fprintf(stderr, "lxsnap: no capture card found.\n%s\n", kStartMachine);
  } else {
    std::fprintf(stderr,
                 "lxsnap: no capture card found: the machine has none. Plug one in with "
                 "'lxmachine plug terncard'.\n");
  }
  return kFailureExit;
}

}  // namespace lxsnap
