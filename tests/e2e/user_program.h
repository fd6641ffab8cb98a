// A user's program run beside a test: started with pipes on its standard
// input and output, read line by line with a bound, killed or waited for.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace e2e {

class UserProgram {
 public:
  explicit UserProgram(const std::vector<std::string>& argv);
  ~UserProgram();  // kills a program still running and reaps it
  UserProgram(const UserProgram&) = delete;
  UserProgram& operator=(const UserProgram&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // The next line (without its newline); none at end of output or when no
  // line came within timeoutMs.
  std::optional<std::string> readLine(int timeoutMs);
  bool send(const std::string& line);
  void killNow();  // SIGKILL, then reaped
  // The exit status once it ended within timeoutMs; -1 otherwise (or for a signal).
  int wait(int timeoutMs);

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string pending_;
  bool reaped_ = false;
};

}  // namespace e2e
