// The Select card dialog: "Card number 1" .. "Card number N" and "All card"
// in a drop-down list, the card total beside it. OK takes the list's index
// (N meaning all cards); Cancel changes nothing.
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;

namespace lxmperf {

class CSelectDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kResourceId = 135, kListId = 1017, kTotalTextId = 1018;

  CSelectDlg(int cardCount, int selected, QWidget* parent = nullptr);

  QComboBox* list() const { return list_; }
  QLabel* totalText() const { return total_; }
  // The list's current index: a card index, or the card count for all.
  int selection() const;

 private:
  QComboBox* list_;
  QLabel* total_;
};

}  // namespace lxmperf
