#include "democommon/delay_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "democommon/dialog_controls.h"

namespace demo {

DelayDialog::DelayDialog(int openingX, int openingY, std::function<void(int, int)> apply, QWidget* parent)
    : QDialog(parent), openingX_(openingX), openingY_(openingY), apply_(std::move(apply)) {
  setWindowTitle("Delay");
  setObjectName("137");
  auto* grid = new QGridLayout;
  xBar_ = makeDialogBar(this, 1017, -128, 128, openingX_);
  yBar_ = makeDialogBar(this, 1018, -128, 128, openingY_);
  xText_ = makeValueText(this, 1019, openingX_);
  yText_ = makeValueText(this, 1020, openingY_);
  grid->addWidget(new QLabel("X delay", this), 0, 0);
  grid->addWidget(xBar_, 0, 1);
  grid->addWidget(xText_, 0, 2);
  grid->addWidget(new QLabel("Y delay", this), 1, 0);
  grid->addWidget(yBar_, 1, 1);
  grid->addWidget(yText_, 1, 2);
  connectDialogBar(xBar_, [this](int x) {
    xText_->setText(QString::number(x));
    if (apply_) apply_(x, yBar_->sliderPosition());
  });
  connectDialogBar(yBar_, [this](int y) {
    yText_->setText(QString::number(y));
    if (apply_) apply_(xBar_->sliderPosition(), y);
  });
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QPushButton* defaults = addButton(buttons, "Default", 1021);
  QPushButton* reset = addButton(buttons, "Reset", 1022);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(defaults, &QPushButton::clicked, this, [this] { setBoth(0, 0); });
  connect(reset, &QPushButton::clicked, this, [this] { setBoth(openingX_, openingY_); });
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(buttons);
}

void DelayDialog::setBoth(int x, int y) {
  setBarQuietly(xBar_, x);
  setBarQuietly(yBar_, y);
  xText_->setText(QString::number(x));
  yText_->setText(QString::number(y));
  if (apply_) apply_(x, y);
}

void DelayDialog::reject() {
  if (apply_) apply_(openingX_, openingY_);
  QDialog::reject();
}

}  // namespace demo
