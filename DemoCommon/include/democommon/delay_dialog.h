// The Delay dialog: X and Y delay bars of -128..128, applied together at
// every move; Default (0, 0), Reset and Cancel (the opening values).
#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QScrollBar;

namespace demo {

class DelayDialog : public QDialog {
  Q_OBJECT
 public:
  DelayDialog(int openingX, int openingY, std::function<void(int x, int y)> apply, QWidget* parent = nullptr);

  QScrollBar* xBar() const { return xBar_; }
  QScrollBar* yBar() const { return yBar_; }
  QLabel* xText() const { return xText_; }
  QLabel* yText() const { return yText_; }
  void reject() override;

 private:
  void setBoth(int x, int y);

  int openingX_, openingY_;
  std::function<void(int, int)> apply_;
  QScrollBar* xBar_ = nullptr;
  QScrollBar* yBar_ = nullptr;
  QLabel* xText_ = nullptr;
  QLabel* yText_ = nullptr;
};

}  // namespace demo
