// A user's program whose card goes away under it: surprise-removed during
// live capture, a snap ring or snap-ex, or the machine rebooted while it
// snaps. The program's calls answer errors within their bounds, snap-ex
// callbacks stop, and it ends its handles and exits normally.
#include <gtest/gtest.h>

#include <string>

#include "lx/status.h"
#include "machine_first.h"
#include "user_program.h"

const char* terncard::testing::machineConfig() { return terncard::testing::kFastBarsCard; }

namespace {

using terncard::testing::MachineControl;

// Every line the program owes comes within this; a hang fails the test.
constexpr int kLineMs = 20000;

// "key=value" of a program's line, as a status; 1 when absent.
int valueOf(const std::string& line, const std::string& key) {
  const size_t at = line.find(key + "=");
  return at == std::string::npos ? 1 : std::stoi(line.substr(at + key.size() + 1));
}

// Runs the program to "ready", does `loss` to the machine, then lets it
// probe and end; its "probe" and "ended" lines.
std::pair<std::string, std::string> loseCardUnder(const char* activity, const std::vector<std::string>& loss) {
  e2e::UserProgram program({LX_E2E_CARD_PROGRAM, activity});
  EXPECT_TRUE(program.started());
  EXPECT_EQ(program.readLine(kLineMs).value_or("(nothing)"), "ready");
  const auto done = MachineControl().run(loss);
  EXPECT_EQ(done.exitStatus, 0) << done.output;
  EXPECT_TRUE(program.send("probe"));
  std::string probe = program.readLine(kLineMs).value_or("(nothing)");
  std::string ended = program.readLine(kLineMs).value_or("(nothing)");
  EXPECT_EQ(program.wait(kLineMs), 0) << activity << ": " << probe << " / " << ended;
  return {probe, ended};
}

// Puts a card with the bars on input 3 back in as card 1.
void plugCardAgain() {
  MachineControl machine;
  const auto plugged = machine.run({"plug", "terncard", "--signature", "yes"});
  ASSERT_EQ(plugged.exitStatus, 0) << plugged.output;
  const auto source = machine.run({"source", "1", "3", "bars"});
  ASSERT_EQ(source.exitStatus, 0) << source.output;
}

// A program on the card now snaps and ends without an error.
void expectCardServes() {
  e2e::UserProgram program({LX_E2E_CARD_PROGRAM, "ring"});
  ASSERT_EQ(program.readLine(kLineMs).value_or("(nothing)"), "ready");
  ASSERT_TRUE(program.send("probe"));
  const std::string probe = program.readLine(kLineMs).value_or("(nothing)");
  const std::string ended = program.readLine(kLineMs).value_or("(nothing)");
  EXPECT_EQ(valueOf(probe, "number"), LX_OK) << probe;
  EXPECT_EQ(valueOf(ended, "stop"), LX_OK) << ended;
  EXPECT_EQ(valueOf(ended, "end"), LX_OK) << ended;
  EXPECT_EQ(program.wait(kLineMs), 0);
}

TEST(SurpriseRemoval, DuringLiveCapture) {
  const auto [probe, ended] = loseCardUnder("capture", {"unplug", "terncard", "1", "--surprise"});
  EXPECT_NE(valueOf(probe, "present"), LX_OK) << probe;
  EXPECT_EQ(valueOf(ended, "end"), LX_OK) << ended;
  plugCardAgain();
  expectCardServes();
}

TEST(SurpriseRemoval, DuringSnapRing) {
  const auto [probe, ended] = loseCardUnder("ring", {"unplug", "terncard", "1", "--surprise"});
  EXPECT_NE(valueOf(probe, "number"), LX_OK) << probe;
  EXPECT_EQ(valueOf(ended, "end"), LX_OK) << ended;
  plugCardAgain();
  expectCardServes();
}

TEST(SurpriseRemoval, DuringSnapExCallbacksStop) {
  const auto [probe, ended] = loseCardUnder("snapex", {"unplug", "terncard", "1", "--surprise"});
  EXPECT_EQ(valueOf(probe, "callbacks"), 0) << probe;
  EXPECT_EQ(valueOf(ended, "close"), LX_OK) << ended;
  EXPECT_EQ(valueOf(ended, "end"), LX_OK) << ended;
  plugCardAgain();
  expectCardServes();
}

TEST(Reboot, UnderASnappingProgram) {
  const auto [probe, ended] = loseCardUnder("ring", {"reboot"});
  EXPECT_NE(valueOf(probe, "number"), LX_OK) << probe;
  EXPECT_EQ(valueOf(ended, "end"), LX_OK) << ended;
  expectCardServes();
}

TEST(Reboot, UnderSnapEx) {
  const auto [probe, ended] = loseCardUnder("snapex", {"reboot"});
  EXPECT_EQ(valueOf(probe, "callbacks"), 0) << probe;
  EXPECT_EQ(valueOf(ended, "close"), LX_OK) << ended;
  EXPECT_EQ(valueOf(ended, "end"), LX_OK) << ended;
  expectCardServes();
}

}  // namespace
