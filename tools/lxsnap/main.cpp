// lxsnap: a capture tool on the public video API. Snaps frames into image
// files (the default), lists the cards (--list), or measures continuous
// snapping (--stream). Boots the default machine when none runs.
#include <cstdio>

#include "card_list.h"
#include "command_line.h"
#include "snap_command.h"
#include "stream_command.h"

int main(int argc, char** argv) {
  lxsnap::Options options;
  if (const auto exitCode = lxsnap::parseCommandLine(argc, argv, &options)) {
    return *exitCode;
  }
  switch (options.mode) {
    case lxsnap::Mode::List: return lxsnap::runList();
    case lxsnap::Mode::Stream: return lxsnap::runStream(options);
    case lxsnap::Mode::Snap: return lxsnap::runSnap(options);
  }
  return 1;
}
