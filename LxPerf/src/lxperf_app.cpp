#include "lxperf_app.h"

#include <QApplication>

#include "democommon/message_box.h"
#include "main_frame.h"

namespace lxperf {

CLxPerfApp::CLxPerfApp() = default;

CLxPerfApp::~CLxPerfApp() { ExitInstance(); }

bool CLxPerfApp::InitInstance() {
  // The framework's own settings: Qt's per-user location under this name.
  QCoreApplication::setOrganizationName("Lx Capture");
  QCoreApplication::setApplicationName("LxPerf");
  instance_ = std::make_unique<demo::SingleInstance>(kMutexName);
  if (!instance_->first()) {
    demo::showMessage(nullptr, {"The program is running!", "LxPerf", demo::MessageIcon::Warning, false});
    return false;
  }
  frame_ = std::make_unique<CMainFrame>();
  if (!frame_->Create()) return false;
  frame_->resize(768, 576);
  frame_->show();
  frame_->MeasureBorders();
  frame_->PlaceVideo();
  return true;
}

void CLxPerfApp::ExitInstance() {
  if (frame_) {
    frame_->close();
    frame_.reset();
  }
  instance_.reset();
}

}  // namespace lxperf
