// Another X client's window for the Xvfb tests: shows a plain window at the
// given place and moves it on the commands read from standard input
// ("move X Y"); ends at "quit" or the end of input.
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s x y width height\n", argv[0]);
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "no X display\n");
    return 1;
  }
  const int screen = DefaultScreen(display);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;  // placed exactly where asked, whatever manages windows
  // A slate colour that no test pattern uses (on a 24-bit screen; white elsewhere).
  attributes.background_pixel = DefaultDepth(display, screen) == 24 ? 0x303848 : WhitePixel(display, screen);
  const Window window = XCreateWindow(display, RootWindow(display, screen), std::atoi(argv[1]), std::atoi(argv[2]),
                                      std::atoi(argv[3]), std::atoi(argv[4]), 0, CopyFromParent, InputOutput,
                                      CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
  XMapRaised(display, window);
  XSync(display, False);
  std::printf("mapped\n");
  std::fflush(stdout);
  char line[128];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    int x = 0, y = 0;
    if (std::sscanf(line, "move %d %d", &x, &y) == 2) {
      XMoveWindow(display, window, x, y);
      XSync(display, False);
    } else if (std::strncmp(line, "quit", 4) == 0) {
      break;
    }
  }
  XDestroyWindow(display, window);
  XCloseDisplay(display);
  return 0;
}
