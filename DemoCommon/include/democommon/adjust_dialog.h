// The Adjust dialog: brightness, contrast, hue, saturation and PLL, each a
// bar of 0..255 whose every move is applied at once. Default, Reset and
// Cancel apply all five values again (defaults, or the opening values).
#pragma once

#include <QDialog>

#include <array>
#include <functional>

class QLabel;
class QScrollBar;

namespace demo {

class AdjustDialog : public QDialog {
  Q_OBJECT
 public:
  enum Row { Brightness, Contrast, Hue, Saturation, Pll, RowCount };
  using Values = std::array<int, RowCount>;
  // apply(row, value) sets one value on the card(s).
  AdjustDialog(const Values& opening, std::function<void(int row, int value)> apply, QWidget* parent = nullptr);

  QScrollBar* bar(int row) const { return bars_[row]; }
  QLabel* valueText(int row) const { return texts_[row]; }
  Values values() const;

  static constexpr Values kDefaults{128, 128, 128, 128, 245};
  // Control ids of the resource: bars and value texts, by row.
  static constexpr std::array<int, RowCount> kBarIds{1001, 1003, 1005, 1007, 1008};
  static constexpr std::array<int, RowCount> kTextIds{1004, 1006, 1009, 1010, 1011};

  void reject() override;  // Cancel: the opening values again

 private:
  void show(int row, int value, bool applyIt);
  void setAll(const Values& values);

  Values opening_;
  std::function<void(int, int)> apply_;
  std::array<QScrollBar*, RowCount> bars_{};
  std::array<QLabel*, RowCount> texts_{};
};

}  // namespace demo
