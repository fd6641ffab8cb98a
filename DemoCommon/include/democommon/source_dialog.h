// The Video Source dialog: eleven inputs as one radio group. A click sets
// the input at once; an input the card refuses (any non-zero status) puts
// the selection back. Default and Cancel set the opening input again.
#pragma once

#include <QDialog>

#include <array>
#include <functional>

class QRadioButton;

namespace demo {

class SourceDialog : public QDialog {
  Q_OBJECT
 public:
  // setFlat(n) and setSource(kind, number) set the input and return the status.
  SourceDialog(int openingKind, int openingNumber, std::function<int(int flat)> setFlat,
               std::function<int(int kind, int number)> setSource, QWidget* parent = nullptr);

  QRadioButton* button(int flat) const { return buttons_[flat]; }
  // The checked input's flat number, -1 for none.
  int selected() const;
  int lastAccepted() const { return lastAccepted_; }

  static constexpr std::array<int, 11> kButtonIds{1000, 1002, 1004, 1006, 1008, 1001, 1003, 1005, 1007, 1009, 1010};
  void reject() override;

 private:
  void clicked(int flat);
  void select(int flat);
  void restoreOpening();

  int openingKind_, openingNumber_;
  std::function<int(int)> setFlat_;
  std::function<int(int, int)> setSource_;
  std::array<QRadioButton*, 11> buttons_{};
  int lastAccepted_ = -1;
};

}  // namespace demo
