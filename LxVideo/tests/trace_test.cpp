// LX_TRACE: a program that finds no machine says on standard error which
// directory it tried and why; without the variable it says nothing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct ProbeRun {
  std::string out;
  std::string err;
};

// Runs the probe with `environment` prepended and no machine in `directory`.
ProbeRun runProbe(const std::string& environment, const std::string& directory) {
  const std::string errFile = directory + ".stderr";
  const std::string command = "env -u LX_TRACE LX_MACHINE=" + directory + " LX_MACHINE_NO_AUTOBOOT=1 " +
                              environment + " " + LX_TRACE_PROBE + " 2>" + errFile;
  ProbeRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  EXPECT_NE(pipe, nullptr);
  if (pipe == nullptr) return run;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe)) run.out += buffer;
  EXPECT_EQ(::pclose(pipe), 0);
  std::ifstream err(errFile);
  std::stringstream text;
  text << err.rdbuf();
  run.err = text.str();
  ::unlink(errFile.c_str());
  return run;
}

std::string missingDirectory() {
  return testing::TempDir() + "lx-trace-no-machine-" + std::to_string(::getpid());
}

TEST(Trace, NoMachineNamesTheDirectoryAndTheReason) {
  const std::string directory = missingDirectory();
  const ProbeRun run = runProbe("LX_TRACE=1", directory);
  // The silent answers themselves stay as they are.
  EXPECT_EQ(run.out, "total 0 0 begin -8\n");
  const std::string expected = "lx: no machine connection (directory " + directory + "): machine directory " +
                               directory + ": No such file or directory; auto-boot is off (LX_MACHINE_NO_AUTOBOOT)\n";
  EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
  // Every line is a trace line.
  std::stringstream lines(run.err);
  std::string line;
  while (std::getline(lines, line)) EXPECT_EQ(line.rfind("lx: ", 0), 0u) << line;
}

TEST(Trace, OffByDefaultAndWithZero) {
  const std::string directory = missingDirectory();
  for (const char* environment : {"", "LX_TRACE=0", "LX_TRACE="}) {
    const ProbeRun run = runProbe(environment, directory);
    EXPECT_EQ(run.out, "total 0 0 begin -8\n") << environment;
    EXPECT_EQ(run.err, "") << environment;
  }
}

}  // namespace
