// CMainFrame: LxPerf's main window. Menus and accelerators by command id,
// the command-state rules asked before a menu opens, every command, the
// dialogs, bitmap files, frame series and playback.
#pragma once

#include <functional>
#include <string>

#include "democommon/command_menus.h"
#include "democommon/os_info.h"
#include "video_wnd.h"

namespace lxperf {

class CMainFrame : public CVideoWnd {
  Q_OBJECT
 public:
  explicit CMainFrame(QWidget* parent = nullptr);
  ~CMainFrame() override;

  bool Create() override;

  // The state of a command as its menu item would show it.
  demo::CommandState CommandStateOf(int id) const;
  // Runs a command as its menu item does (regardless of its state).
  void OnCommand(int id);
  demo::CommandMenus& menus() { return *menus_; }
  const demo::COperateSystemInfo& osInfo() const { return os_; }

  // What a file dialog would answer, and the dialogs' own loop: tests take
  // both over. Empty path: the dialog was cancelled.
  using FileChooser = std::function<std::string(bool save)>;
  void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
  // Runs a modal dialog; tests replace it to work the dialog and close it.
  using DialogRunner = std::function<int(QDialog& dialog)>;
  void setDialogRunner(DialogRunner runner) { runDialog_ = std::move(runner); }
  // Card type for the command rules; tests pin it to other card types.
  using CardTypeQuery = std::function<bool(int* type)>;
  void setCardTypeQuery(CardTypeQuery query) { cardType_ = std::move(query); }
  // Opens an address with the platform's default handler (tests record it).
  using UrlOpener = std::function<bool(const std::string& address)>;
  void setUrlOpener(UrlOpener opener) { openUrl_ = std::move(opener); }

  // Playback (Part of the View menu), also driven by clicks and the timer.
  void ShowNextFrame();
  void OnTimer(uintptr_t id);
  void OnLeftButtonDown();

  void LoadSettings();
  void SaveSettings();

  bool restartRequested() const { return restartRequested_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildMenus();
  void OnMask();
  void OnScanMode(int mode);
  void OnSnapShot();
  void OnOpenSerials();
  void OnSaveSerials();
  void OnStep();
  void OnCircle();
  void OnStop();
  void OnFileOpen();
  void OnFileSaveAs();
  void OnPrint(bool preview);
  void OnVideoSourceDialog();
  void OnAdjustDialog();
  void OnDelayDialog();
  void OnAllocateDialog();
  void OnHelpLink(bool web);
  void startPlaybackTimer();
  void stopPlaybackTimer();
  int execDialog(QDialog& dialog);
  std::string chooseFile(bool save);
  bool cardType(int* type) const;

  demo::COperateSystemInfo os_;
  demo::CommandMenus* menus_ = nullptr;
  FileChooser chooseFile_;
  DialogRunner runDialog_;
  CardTypeQuery cardType_;
  UrlOpener openUrl_;
  bool restartRequested_ = false;
  bool closed_ = false;
};

}  // namespace lxperf
