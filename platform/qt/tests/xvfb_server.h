// A private Xvfb server for one test program: started on a free display
// number, waited for within a bound, ended with the program.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>

#include <cstdlib>
#include <string>

extern char** environ;

namespace lxqt::testing {

class XvfbServer {
 public:
  // Starts Xvfb with a 1024 x 768 x 24 screen; false when it is not
  // installed or does not answer within five seconds.
  bool start() {
    const char* candidates[] = {"/usr/bin/Xvfb", "/usr/local/bin/Xvfb"};
    const char* program = nullptr;
    for (const char* path : candidates) {
      if (access(path, X_OK) == 0) program = path;
    }
    if (program == nullptr) return false;
    for (int number = 90 + getpid() % 100; number < 400; number += 7) {
      const std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
      struct stat info;
      if (stat(lock.c_str(), &info) == 0) continue;  // in use
      display_ = ":" + std::to_string(number);
      const char* argv[] = {program, display_.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", nullptr};
      if (posix_spawn(&pid_, program, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return false;
      for (int wait = 0; wait < 100; ++wait) {
        if (Display* display = XOpenDisplay(display_.c_str())) {
          XCloseDisplay(display);
          return true;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) break;  // it gave up (a race for the number): next one
        usleep(50 * 1000);
      }
      stop();
    }
    return false;
  }

  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int wait = 0; wait < 100 && waitpid(pid_, nullptr, WNOHANG) == 0; ++wait) usleep(20 * 1000);
    if (waitpid(pid_, nullptr, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

  ~XvfbServer() { stop(); }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace lxqt::testing
