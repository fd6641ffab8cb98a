#include "democommon/adjust_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "democommon/dialog_controls.h"

namespace demo {

AdjustDialog::AdjustDialog(const Values& opening, std::function<void(int, int)> apply, QWidget* parent)
    : QDialog(parent), opening_(opening), apply_(std::move(apply)) {
  setWindowTitle("Adjust");
  setObjectName("131");
  static const char* const kLabels[RowCount] = {"Brightness", "Contrast", "Hue", "Saturation", "PLL Freq"};
  auto* group = new QGroupBox("Paramter", this);
  auto* grid = new QGridLayout(group);
  for (int row = 0; row < RowCount; ++row) {
    bars_[row] = makeDialogBar(group, kBarIds[row], 0, 255, opening_[row]);
    texts_[row] = makeValueText(group, kTextIds[row], opening_[row]);
    grid->addWidget(new QLabel(kLabels[row], group), row, 0);
    grid->addWidget(bars_[row], row, 1);
    grid->addWidget(texts_[row], row, 2);
    connectDialogBar(bars_[row], [this, row](int value) { show(row, value, true); });
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QPushButton* defaults = addButton(buttons, "Default", 5);
  QPushButton* reset = addButton(buttons, "Reset", 4);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(defaults, &QPushButton::clicked, this, [this] { setAll(kDefaults); });
  connect(reset, &QPushButton::clicked, this, [this] { setAll(opening_); });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(buttons);
}

AdjustDialog::Values AdjustDialog::values() const {
  Values v{};
  for (int row = 0; row < RowCount; ++row) v[row] = bars_[row]->value();
  return v;
}

void AdjustDialog::show(int row, int value, bool applyIt) {
  texts_[row]->setText(QString::number(value));
  if (applyIt && apply_) apply_(row, value);
}

void AdjustDialog::setAll(const Values& values) {
  for (int row = 0; row < RowCount; ++row) {
    setBarQuietly(bars_[row], values[row]);
    show(row, values[row], true);
  }
}

void AdjustDialog::reject() {
  if (apply_)
    for (int row = 0; row < RowCount; ++row) apply_(row, opening_[row]);
  QDialog::reject();
}

}  // namespace demo
