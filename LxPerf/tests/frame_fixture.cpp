#include "frame_fixture.h"

#include <QAction>
#include <QMenu>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "lxqt/bridge.h"

namespace lxperf::testing {

void FrameTest::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  dir_ = std::filesystem::temp_directory_path() /
         ("lxperf_" + std::to_string(::getpid()) + "_" + info->test_suite_name() + "_" + info->name());
  std::filesystem::remove_all(dir_);
  std::filesystem::create_directories(dir_);
  ::setenv("LX_PROFILE_DIR", (dir_ / "config").c_str(), 1);
  demo::setMessageHook([this](const demo::MessageRequest& request) {
    messages_.push_back(request);
    return request.yesNo ? answer_ : demo::MessageAnswer::Ok;
  });
}

void FrameTest::TearDown() {
  endFrame();
  demo::setMessageHook(nullptr);
  ::unsetenv("LX_PROFILE_DIR");
  std::filesystem::remove_all(dir_);
}

void FrameTest::startFrame() {
  frame_ = std::make_unique<CMainFrame>();
  frame_->setDialogRunner([this](QDialog& dialog) {
    if (dialogs_.empty()) {
      ADD_FAILURE() << "an unexpected dialog: " << dialog.windowTitle().toStdString();
      return static_cast<int>(QDialog::Rejected);
    }
    auto work = std::move(dialogs_.front());
    dialogs_.erase(dialogs_.begin());
    dialog.show();
    const int result = work(dialog);
    dialog.hide();
    return result;
  });
  ASSERT_TRUE(frame_->Create());
  frame_->move(100, 100);
  frame_->resize(640, 480);
  frame_->show();
  lxqt::pumpMessages(30);
  frame_->MeasureBorders();
  frame_->PlaceVideo();
  lxqt::pumpMessages(30);
}

void FrameTest::endFrame() {
  if (!frame_) return;
  frame_->close();
  frame_.reset();
}

demo::CommandState FrameTest::state(int id) {
  QAction* action = frame_->menus().action(id);
  if (!action) {
    ADD_FAILURE() << "no menu item " << id;
    return {};
  }
  // As before the menu opens: its whole menu is asked.
  for (QObject* owner : action->associatedObjects())
    if (auto* m = qobject_cast<QMenu*>(owner)) frame_->menus().update(m);
  return demo::CommandState{action->isEnabled(), action->isChecked()};
}

void FrameTest::menu(int id) {
  if (state(id).enabled) frame_->menus().action(id)->trigger();
  lxqt::pumpMessages(10);
}

void FrameTest::onNextDialog(std::function<int(QDialog&)> work) { dialogs_.push_back(std::move(work)); }

std::string FrameTest::python(const std::string& script) const {
  const std::string file = (dir_ / "check.py").string();
  std::ofstream(file) << script;
  const std::string out = (dir_ / "check.out").string();
  const std::string command = std::string(LXPERF_PYTHON) + " " + file + " > " + out + " 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  return (status == 0 ? "" : "FAILED: ") + text.str();
}

}  // namespace lxperf::testing
