// The main frame's menu bar and accelerators: every item sends its command
// id, and before a menu opens its items take their enabled and checked
// states from the command rules.
#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

#include "command_ids.h"
#include "democommon/about_dialog.h"
#include "democommon/command_menus.h"
#include "main_frame.h"

namespace lxmperf {

QAction* CMainFrame::action(int id) const { return menus_->action(id); }

void CMainFrame::updateMenu(QMenu* menu) const { menus_->update(menu); }

void CMainFrame::dispatch(int id) { menus_->dispatch(id); }

void CMainFrame::buildMenus() {
  menus_ = new demo::CommandMenus(
      menuBar(), [this](int id) { OnCommand(id); },
      [this](int id, demo::CommandState& state) {
        const CommandRule rule = QueryCommand(id);
        state.enabled = rule.enabled;
        state.checked = rule.checked;
      });
  demo::CommandMenus& m = *menus_;
  const auto addMenu = [&m](QMenu* parent, const char* title) {
    return parent ? m.submenu(parent, title) : m.menu(title);
  };
  const auto item = [&m](QMenu* menu, const char* text, int id) { m.item(menu, text, id); };

  QMenu* file = addMenu(nullptr, "&File");
  item(file, "&Print...\tCtrl+P", cmd::kPrint);
  item(file, "Print Pre&view", cmd::kPrintPreview);
  item(file, "P&rint Setup...", cmd::kPrintSetup);
  file->addSeparator();
  item(file, "E&xit", cmd::kExit);

  QMenu* view = addMenu(nullptr, "&View");
  item(view, "Capture\tCtrl+1", cmd::kCapture);
  view->addSeparator();
  item(view, "Capture Shot\tCtrl+2", cmd::kCaptureShot);
  view->addSeparator();
  item(view, "Snap\tCtrl+3", cmd::kSnap);
  view->addSeparator();
  item(view, "Snap Shot\tCtrl+4", cmd::kSnapShot);
  item(view, "Save Serials...", cmd::kSaveSerials);
  QMenu* playback = addMenu(view, "Playback");
  item(playback, "Step", cmd::kStep);
  item(playback, "Circle", cmd::kCircle);
  item(playback, "Stop", cmd::kStop);
  view->addSeparator();
  QMenu* display = addMenu(view, "Display");
  item(display, "Clip", cmd::kClip);
  item(display, "Scale", cmd::kScale);
  view->addSeparator();
  item(view, "Mask", cmd::kMask);

  QMenu* parameter = addMenu(nullptr, "&Paramter");
  item(parameter, "Select card...", cmd::kSelectCard);
  parameter->addSeparator();
  QMenu* format = addMenu(parameter, "Video Format");
  item(format, "YUV422", cmd::kYuv422);
  item(format, "RGB555", cmd::kRgb555);
  item(format, "RGB565", cmd::kRgb565);
  item(format, "RGB888", cmd::kRgb888);
  item(format, "RGB8888", cmd::kRgb8888);
  format->addSeparator();
  item(format, "All 8 bit", cmd::kAll8Bit);
  item(format, "Limmited 8 bit", cmd::kLimited8Bit);
  QMenu* standard = addMenu(parameter, "Video Standard");
  item(standard, "PAL", cmd::kPal);
  item(standard, "NTSC", cmd::kNtsc);
  QMenu* scan = addMenu(parameter, "Scan Mode");
  item(scan, "Frame", cmd::kFrame);
  item(scan, "Field", cmd::kField);
  item(scan, "Field1", cmd::kField1);
  item(parameter, "Video Source...", cmd::kVideoSource);
  item(parameter, "Adjust...", cmd::kAdjust);
  item(parameter, "Allocate Memory...", cmd::kAllocateMemory);
  parameter->addSeparator();
  item(parameter, "Interline", cmd::kInterline);
  parameter->addSeparator();
  QMenu* oscillator = addMenu(parameter, "CryOSC Type");
  item(oscillator, "35M", cmd::kOsc35M);
  item(oscillator, "28M", cmd::kOsc28M);
  QMenu* mirror = addMenu(parameter, "Mirror Direction");
  item(mirror, "Horizon", cmd::kHorizon);
  item(mirror, "vertical", cmd::kVertical);
  item(parameter, "Chroma Trap in the Luma", cmd::kChroma);

  QMenu* help = addMenu(nullptr, "&Help");
  item(help, "Go to Update Website...", cmd::kWebPage);
  item(help, demo::kContactMenuText, cmd::kContact);
  help->addSeparator();
  item(help, "&About LxMPerf...", cmd::kAbout);

  // The accelerator table: the capture keys and print; the framework's
  // document and edit keys reach commands without a handler here.
  m.accelerator(this, "Ctrl+1", cmd::kCapture);
  m.accelerator(this, "Ctrl+2", cmd::kCaptureShot);
  m.accelerator(this, "Ctrl+3", cmd::kSnap);
  m.accelerator(this, "Ctrl+4", cmd::kSnapShot);
  m.accelerator(this, "Ctrl+P", cmd::kPrint);
}

}  // namespace lxmperf
