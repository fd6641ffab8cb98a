// CMainFrame: the multi-card program's main window. It opens every card
// (up to 128), holds their records, divides its view into one tile per
// card and runs each command on the selected card or on all of them.
#pragma once

#include <windows.h>

#include <QMainWindow>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "card_record.h"
#include "command_rules.h"
#include "democommon/os_info.h"
#include "democommon/palette.h"
#include "lx/snap_ex.h"

class QAction;
class QMenu;
class QPrinter;

namespace demo {
class CommandMenus;
}

namespace lxmperf {

class CLxMPerfView;

class CMainFrame : public QMainWindow {
  Q_OBJECT
 public:
  // Counts and opens the cards; a failure is shown and the program goes on.
  CMainFrame();
  ~CMainFrame() override;

  // After the window exists: settings, source detection, display, images,
  // then every record pushed to its card.
  void OnCreate();
  // Tiles and video windows from the view's place on the screen.
  void Place();

  void OnCommand(int id);
  CommandRule QueryCommand(int id) const;
  // Messages 1124 to 1126 of the dialogs, sent synchronously.
  LRESULT OnDialogMessage(UINT code, WPARAM first, LPARAM second);
  // Left button down in the view (or sent by Step): the next frames in step playback.
  void OnLeftButtonDown();
  void OnPlaybackTimer();

  // Every card's image at its tile origin, sized by the playback rule, on a
  // device context whose origin is the view's; positions and sizes times scale.
  void DrawTiles(HDC dc, double scale);

  // The view's printout on a printer (or a preview's page).
  void PrintTo(QPrinter* printer);

  // Where Save Serials writes (null: the file dialog). Tests answer it.
  using SaveNameChooser = std::function<std::string()>;
  void setSaveNameChooser(SaveNameChooser chooser) { chooseSaveName_ = std::move(chooser); }

  CLxMPerfView* view() const { return view_; }
  QAction* action(int id) const;
  // Sends a command as its menu item or key would: nothing when disabled.
  void dispatch(int id);
  // The state rules applied to a menu's items, as before it opens.
  void updateMenu(QMenu* menu) const;

  // Fields, in the order the program's documentation gives them.
  demo::COperateSystemInfo osInfo;
  int cardCount = 0;
  int state = 0;  // 0 idle, 2 live capture, 4 snap-ex, 5 playback
  std::array<CardRecord, kMaxCards> cards;
  int clip = 1;
  int maskEnabled = 0;
  int screenWidth = 0, screenHeight = 0, screenDepth = 0;
  demo::PaletteHandle greyPalette = nullptr, savedPalette = nullptr;
  int imageCount = 0;
  int playbackIndex = 0;
  int stepMode = 1;
  int selectedCard = 0;
  // Cards the system has beyond the record table: not opened.
  int ignoredCards = 0;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void buildMenus();
  CommandInputs commandInputs() const;
  void forSelected(const std::function<void(CardRecord&)>& action);
  HWND viewWindow() const;
  Rect viewClientOnScreen() const;

  // Commands.
  void capture();
  void captureShot();
  void snap();
  void snapShot();
  void saveSerials();
  void step();
  void circle();
  void stopPlayback();
  void showNextFrames();
  void mask();
  void setFormat(int format);
  void setStandard(int standard);
  void setScanMode(int mode);
  void setCryOsc(int oscillator);
  void toggleMirror(int direction);
  void toggleLuma();
  void toggleInterline();
  void setClip(int value);
  void selectCard();
  void readBack(CardRecord& card, HDC dc);
  void startPlaybackTimer();
  void stopPlaybackTimer();
  void print(bool preview);
  void openSourceDialog();
  void openAdjustDialog();
  void openAllocateDialog();
  void openAboutDialog();
  void openWebPage(bool mail);

  static int32_t frameCallback(SnapExInfo* info);

  CLxMPerfView* view_ = nullptr;
  demo::CommandMenus* menus_ = nullptr;
  SaveNameChooser chooseSaveName_;
  ViewTarget viewTarget_;
  bool timerRunning_ = false;
  bool placing_ = false;
};

}  // namespace lxmperf
