// Takes the README's screenshots of LxPerf: run under an X server (Xvfb)
// against a running machine, it shows live video, the Adjust dialog over
// it, and Snap Shot's notice over the first frame of the series, and saves
// the X screen after each (ImageMagick's `import -window root`).
//   lxperf_screenshot_tour OUT_DIR
#include <QApplication>
#include <QMessageBox>
#include <QScrollBar>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "command_ids.h"
#include "democommon/adjust_dialog.h"
#include "democommon/message_box.h"
#include "lxperf_app.h"
#include "lxqt/bridge.h"
#include "main_frame.h"

namespace {

bool screenshot(const std::string& file) {
  lxqt::pumpMessages(1500);
  const std::string command = "import -window root '" + file + "'";
  const bool ok = std::system(command.c_str()) == 0;
  std::printf("%s %s\n", ok ? "wrote" : "could not write", file.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: lxperf_screenshot_tour OUT_DIR\n");
    return 2;
  }
  const std::string out = argv[1];
  QApplication application(argc, argv);
  if (!lxqt::installBridge(application)) return 1;
  lxperf::CLxPerfApp app;
  if (!app.InitInstance()) return 1;
  lxperf::CMainFrame& frame = *app.mainFrame();
  frame.move(40, 40);
  frame.resize(700, 540);
  lxqt::pumpMessages(500);
  frame.MeasureBorders();
  frame.PlaceVideo();

  frame.OnCommand(lxperf::kCapture);
  bool ok = screenshot(out + "/lxperf-live.png");

  // The Adjust dialog over the video; the card keeps writing around it.
  frame.setDialogRunner([&](QDialog& dialog) {
    dialog.move(frame.x() + 200, frame.y() + 180);
    dialog.show();
    if (auto* adjust = dynamic_cast<demo::AdjustDialog*>(&dialog))
      adjust->bar(demo::AdjustDialog::Brightness)->triggerAction(QAbstractSlider::SliderPageStepAdd);
    ok = screenshot(out + "/lxperf-adjust.png") && ok;
    dialog.reject();
    return static_cast<int>(QDialog::Rejected);
  });
  frame.OnCommand(lxperf::kAdjust);
  frame.OnCommand(lxperf::kCapture);

  // Snap Shot, then the first frame of the series with the notice still up.
  demo::setMessageHook([&](const demo::MessageRequest& request) {
    frame.OnCommand(lxperf::kStep);
    QMessageBox box(QMessageBox::Information, QString::fromStdString(request.caption),
                    QString::fromStdString(request.text), QMessageBox::Ok, &frame);
    QTimer::singleShot(0, &box, [&] {
      box.move(frame.x() + 220, frame.y() + 220);
      ok = screenshot(out + "/lxperf-snapshot.png") && ok;
      box.accept();
    });
    box.exec();
    return demo::MessageAnswer::Ok;
  });
  frame.OnCommand(lxperf::kSnapShot);
  demo::setMessageHook(nullptr);
  frame.OnCommand(lxperf::kStop);
  app.ExitInstance();
  return ok ? 0 : 1;
}
