#include "democommon/source_dialog.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "democommon/dialog_controls.h"
#include "democommon/video_formats.h"

namespace demo {

SourceDialog::SourceDialog(int openingKind, int openingNumber, std::function<int(int)> setFlat,
                           std::function<int(int, int)> setSource, QWidget* parent)
    : QDialog(parent),
      openingKind_(openingKind),
      openingNumber_(openingNumber),
      setFlat_(std::move(setFlat)),
      setSource_(std::move(setSource)) {
  setWindowTitle("Video Source");
  setObjectName("130");
  static const char* const kNames[11] = {"Video 1",   "Video 2",   "Video 3",   "Video 4", "Video 5", "Video 6",
                                         "S-Video 1", "S-Video 2", "S-Video 3", "YCbCr1",  "YCbCr2"};
  auto* group = new QGroupBox("Video Input", this);
  auto* grid = new QGridLayout(group);
  auto* radios = new QButtonGroup(this);
  radios->setExclusive(true);
  for (int flat = 0; flat < 11; ++flat) {
    buttons_[flat] = new QRadioButton(kNames[flat], group);
    buttons_[flat]->setObjectName(QString::number(kButtonIds[flat]));
    radios->addButton(buttons_[flat], flat);
    grid->addWidget(buttons_[flat], flat < 6 ? flat : flat - 6, flat < 6 ? 0 : 1);
  }
  connect(radios, &QButtonGroup::idClicked, this, &SourceDialog::clicked);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QPushButton* defaults = addButton(buttons, "Default", 6);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(defaults, &QPushButton::clicked, this, &SourceDialog::restoreOpening);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(buttons);

  const int flat = flatOfSource(openingKind_, openingNumber_);
  select(flat >= 0 && flat <= 10 ? flat : -1);
  lastAccepted_ = selected();
}

int SourceDialog::selected() const {
  for (int flat = 0; flat < 11; ++flat)
    if (buttons_[flat]->isChecked()) return flat;
  return -1;
}

void SourceDialog::select(int flat) {
  auto* group = buttons_[0]->group();
  if (flat < 0) {
    // An exclusive group cannot be emptied by unchecking one button.
    group->setExclusive(false);
    for (QRadioButton* b : buttons_) b->setChecked(false);
    group->setExclusive(true);
    return;
  }
  buttons_[flat]->setChecked(true);
}

void SourceDialog::clicked(int flat) {
  if (setFlat_(flat) == 0)
    lastAccepted_ = flat;
  else
    select(lastAccepted_);
}

void SourceDialog::restoreOpening() {
  if (setSource_(openingKind_, openingNumber_) != 0) return;
  const int flat = flatOfSource(openingKind_, openingNumber_);
  select(flat >= 0 && flat <= 10 ? flat : -1);
  lastAccepted_ = selected();
}

void SourceDialog::reject() {
  setSource_(openingKind_, openingNumber_);
  QDialog::reject();
}

}  // namespace demo
