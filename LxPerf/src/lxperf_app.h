// CLxPerfApp: start-up and exit of LxPerf. One copy runs per machine (a
// named mutex); the main frame is created, shown, measured and placed.
#pragma once

#include <memory>

#include "democommon/single_instance.h"

class QApplication;

namespace lxperf {

class CMainFrame;

// The document: the program keeps no data in it; it exists because the
// framework's document/view structure has one (its template string below).
struct CLxPerfDoc {
  static constexpr char kTemplate[] = "LxPerf\n\nLxPerf\n\n\nLxPerf.Document\nLxPerf Document";
};

class CLxPerfApp {
 public:
  static constexpr char kMutexName[] = "{6F607EE4-9B08-4b0d-99AC-313B62028D24}";

  CLxPerfApp();
  ~CLxPerfApp();

  // False when another copy runs ("The program is running!" shown) or the
  // window cannot be made: the program then exits.
  bool InitInstance();
  CMainFrame* mainFrame() const { return frame_.get(); }
  // Closes and destroys the main frame (settings written), as at exit.
  void ExitInstance();

 private:
  std::unique_ptr<demo::SingleInstance> instance_;
  std::unique_ptr<CMainFrame> frame_;
};

}  // namespace lxperf
