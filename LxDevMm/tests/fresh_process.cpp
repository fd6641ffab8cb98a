#include "fresh_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

void expectInFreshProcess(const std::function<void()>& body) {
  std::fflush(nullptr);  // nothing buffered may be written twice
  pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    body();
    std::fflush(nullptr);
    // exit, not _exit: the device manager's and the fakes' detach must run.
    std::exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status)) << "child ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << "assertions failed in the child process";
}
