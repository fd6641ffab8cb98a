// A main frame on the private machine with its own settings directory, its
// message boxes recorded instead of shown, and helpers to work its menus.
#pragma once

#include <gtest/gtest.h>

#include <QDialog>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "democommon/message_box.h"
#include "main_frame.h"

namespace lxperf::testing {

class FrameTest : public ::testing::Test {
 public:
  void SetUp() override;
  void TearDown() override;

  // Creates, shows and places the frame as start-up does.
  void startFrame();
  // Destroys the frame (settings are written).
  void endFrame();
  demo::CommandState state(int id);
  // Runs a command through its menu item: the item's menu is updated as
  // before it opens, and a disabled item does nothing.
  void menu(int id);
  // The next dialog the frame runs goes to `work` instead of a person.
  void onNextDialog(std::function<int(QDialog&)> work);
  std::string settingsFile() const { return (dir_ / "config" / "LxCard.ini").string(); }
  std::string python(const std::string& script) const;

  std::filesystem::path dir_;
  std::unique_ptr<CMainFrame> frame_;
  std::vector<demo::MessageRequest> messages_;
  demo::MessageAnswer answer_ = demo::MessageAnswer::No;
  std::vector<std::function<int(QDialog&)>> dialogs_;
};

}  // namespace lxperf::testing
