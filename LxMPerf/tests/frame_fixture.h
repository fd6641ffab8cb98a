// The multi-card program's main frame on a private machine, for the machine
// tests: a scratch settings directory, message boxes answered and recorded,
// the view at a chosen size, and waits that run the message loop.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "command_ids.h"
#include "democommon/message_box.h"
#include "lxqt/bridge.h"
#include "main_frame.h"
#include "select_dialog.h"
#include "view.h"

namespace lxmperf::testing {

// True once done() holds, running the message loop meanwhile; false after
// `seconds`.
inline bool pumpUntil(const std::function<bool()>& done, int seconds = 10) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    lxqt::pumpMessages(5);
  }
  return true;
}

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("lxmperf-" + std::to_string(::getpid()) + "-" +
                                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    setenv("LX_PROFILE_DIR", dir_.c_str(), 1);
    demo::setMessageHook([this](const demo::MessageRequest& request) {
      messages_.push_back(request.caption + ": " + request.text);
      return demo::MessageAnswer::Ok;
    });
  }
  void TearDown() override {
    if (frame_) {
      frame_->close();
      frame_.reset();
    }
    demo::setMessageHook(nullptr);
    std::filesystem::remove_all(dir_);
  }

  // The frame with its view viewWidth x viewHeight at (40, 40) of the screen.
  CMainFrame& open(int viewWidth, int viewHeight) {
    frame_ = std::make_unique<CMainFrame>();
    frame_->OnCreate();
    frame_->view()->setFixedSize(viewWidth, viewHeight);
    frame_->move(40, 40);
    frame_->show();
    lxqt::pumpMessages(20);
    frame_->Place();
    return *frame_;
  }

  // Chooses `index` in the Select card dialog that the command opens.
  void selectCard(int index) {
    QTimer::singleShot(0, [index] {
      auto* dialog = qobject_cast<CSelectDlg*>(QApplication::activeModalWidget());
      if (!dialog) return;
      dialog->list()->setCurrentIndex(index);
      dialog->accept();
    });
    frame_->dispatch(cmd::kSelectCard);
  }

  // The check mark of a command as its menu shows it.
  bool checked(int id) {
    QAction* action = frame_->action(id);
    if (!action) return false;
    if (auto* menu = qobject_cast<QMenu*>(action->parent())) frame_->updateMenu(menu);
    return action->isChecked();
  }
  bool enabled(int id) {
    QAction* action = frame_->action(id);
    if (!action) return false;
    if (auto* menu = qobject_cast<QMenu*>(action->parent())) frame_->updateMenu(menu);
    return action->isEnabled();
  }

  std::filesystem::path dir_;
  std::vector<std::string> messages_;
  std::unique_ptr<CMainFrame> frame_;
};

}  // namespace lxmperf::testing
