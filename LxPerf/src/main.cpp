// LxPerf: the single-card demonstration program.
#include <QApplication>

#include "lxperf_app.h"
#include "lxqt/bridge.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (!lxqt::installBridge(application)) return 1;
  int result = 0;
  {
    lxperf::CLxPerfApp app;
    if (!app.InitInstance()) return 1;
    QApplication::setQuitOnLastWindowClosed(true);
    result = QApplication::exec();
  }
  return result;
}
