// LxMPerf: every capture card of the machine at once, in a grid of tiles.
#include <QApplication>

#include "democommon/message_box.h"
#include "democommon/single_instance.h"
#include "lxqt/bridge.h"
#include "main_frame.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Lx");
  QApplication::setApplicationName("LxMPerf");
  demo::SingleInstance instance("{B6355E5C-AB38-4331-97AF-C32CE5399961}");
  if (!instance.first()) {
    demo::showWarning("The program is running!", "LxMPerf");
    return 1;
  }
  if (!lxqt::installBridge(app)) return 2;
  lxmperf::CMainFrame frame;
  frame.OnCreate();
  frame.resize(800, 640);
  frame.show();
  frame.Place();
  return app.exec();
}
