// Allocate memory with a new size, answered Yes: the program enables the
// shutdown privilege, the machine reboots, and the program closes its window
// and leaves its loop; ending, it writes its settings. Its own binary: the
// reboot drops every connection of this process.
#include <QApplication>
#include <QLineEdit>
#include <QTimer>

#include <chrono>
#include <regex>
#include <thread>

#include "command_ids.h"
#include "democommon/allocate_dialog.h"
#include "frame_fixture.h"
#include "lx/video.h"
#include "machine_first.h"

namespace lxperf::testing {
namespace {

// The machine's boot count from its status, -1 when it does not answer.
int bootCount() {
  const std::string json = terncard::testing::MachineControl().statusJson();
  std::smatch match;
  if (!std::regex_search(json, match, std::regex("\"boot\":(\\d+)"))) return -1;
  return std::stoi(match[1]);
}

using RestartTest = FrameTest;

TEST_F(RestartTest, NewMemorySizeAnsweredYesRebootsTheMachineAndEndsTheProgram) {
  const int bootsBefore = bootCount();
  ASSERT_GE(bootsBefore, 1);
  ASSERT_NO_FATAL_FAILURE(startFrame());
  uint32_t pages = 0;
  ASSERT_EQ(LxGetStaticMem(&pages), LX_OK);
  ASSERT_FALSE(std::filesystem::exists(settingsFile()));
  answer_ = demo::MessageAnswer::Yes;
  bool restarting = false;
  onNextDialog([&](QDialog& dialog) {
    auto& allocate = dynamic_cast<demo::AllocateDialog&>(dialog);
    allocate.pagesEdit()->setText(QString::number(pages + 256));
    allocate.accept();
    restarting = allocate.restarting();
    return allocate.result();
  });
  // The program leaves its loop: a loop running now must end by itself.
  QTimer::singleShot(0, [&] { frame_->menus().action(kAllocateMemory)->trigger(); });
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] { QApplication::exit(1); });
  watchdog.start(10000);
  const int loopResult = QApplication::exec();
  EXPECT_EQ(loopResult, 0) << "the loop was left by the program, not the watchdog";

  EXPECT_TRUE(restarting);
  EXPECT_TRUE(frame_->restartRequested());
  EXPECT_FALSE(frame_->isVisible()) << "the window is closed";
  // After its loop the program destroys the frame, as main() does: the
  // settings are written even with the machine gone.
  endFrame();
  EXPECT_TRUE(std::filesystem::exists(settingsFile())) << "settings written on ending";
  ASSERT_EQ(messages_.size(), 1u) << "only the question, no privilege warning";
  EXPECT_EQ(messages_[0].text, " Changed Pages. Let setting avail, \n you must reboot! Now, Reboot?");

  // The machine boots again: its boot count goes up.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int boots = bootCount();
  while (boots <= bootsBefore && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    boots = bootCount();
  }
  EXPECT_EQ(boots, bootsBefore + 1);
}

}  // namespace
}  // namespace lxperf::testing
