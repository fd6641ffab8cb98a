// The main frame's menu bar and accelerators: every item sends its command
// id, and before a menu opens its items take their enabled and checked
// states from the command rules.
#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>

#include "command_ids.h"
#include "main_frame.h"

namespace lxmperf {

QAction* CMainFrame::action(int id) const {
  const auto found = actions_.find(id);
  return found == actions_.end() ? nullptr : found->second;
}

void CMainFrame::updateMenu(QMenu* menu) const {
  for (QAction* item : menu->actions()) {
    if (item->menu()) {
      updateMenu(item->menu());
      continue;
    }
    if (item->isSeparator()) continue;
    const CommandRule rule = QueryCommand(item->data().toInt());
    item->setEnabled(rule.enabled);
    item->setCheckable(rule.checked);
    item->setChecked(rule.checked);
  }
}

void CMainFrame::buildMenus() {
  const auto addMenu = [this](QMenu* parent, const char* title) {
    QMenu* menu = parent ? parent->addMenu(title) : menuBar()->addMenu(title);
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { updateMenu(menu); });
    menus_.push_back(menu);
    return menu;
  };
  const auto item = [this](QMenu* menu, const char* text, int id) {
    QAction* action = menu->addAction(text);
    action->setData(id);
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    actions_[id] = action;
  };

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
  item(help, "Contact Lx Support...", cmd::kContact);
  help->addSeparator();
  item(help, "&About LxMPerf...", cmd::kAbout);

  // The accelerator table: the capture keys and print; the framework's
  // document and edit keys reach commands without a handler here.
  const auto key = [this](const char* sequence, int id) {
    auto* shortcut = new QShortcut(QKeySequence(sequence), this);
    connect(shortcut, &QShortcut::activated, this, [this, id] {
      if (QueryCommand(id).enabled) OnCommand(id);
    });
  };
  key("Ctrl+1", cmd::kCapture);
  key("Ctrl+2", cmd::kCaptureShot);
  key("Ctrl+3", cmd::kSnap);
  key("Ctrl+4", cmd::kSnapShot);
  key("Ctrl+P", cmd::kPrint);
}

}  // namespace lxmperf
