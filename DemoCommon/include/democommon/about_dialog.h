// The About dialog of a demonstration program.
#pragma once

#include <QDialog>

namespace demo {

class AboutDialog : public QDialog {
  Q_OBJECT
 public:
  // programName: "LxPerf" or "LxMPerf".
  explicit AboutDialog(const QString& programName, QWidget* parent = nullptr);
};

// The maker's addresses behind the Help menu.
inline constexpr char kMakerWebPage[] = "https://www.example.com/lx-capture/";
inline constexpr char kMakerSupportMail[] = "mailto:support@example.com?subject=Lx%20capture%20card";
inline constexpr char kContactMenuText[] = "Contact Lx Capture Support...";

}  // namespace demo
