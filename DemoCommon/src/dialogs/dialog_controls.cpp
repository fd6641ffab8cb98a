#include "democommon/dialog_controls.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>

namespace demo {

QScrollBar* makeDialogBar(QWidget* parent, int id, int minimum, int maximum, int position) {
  auto* bar = new QScrollBar(Qt::Horizontal, parent);
  bar->setObjectName(QString::number(id));
  bar->setRange(minimum, maximum);
  bar->setSingleStep(1);
  bar->setPageStep(10);
  bar->setValue(position);
  bar->setMinimumWidth(256);
  return bar;
}

QLabel* makeValueText(QWidget* parent, int id, int value) {
  auto* text = new QLabel(QString::number(value), parent);
  text->setObjectName(QString::number(id));
  text->setMinimumWidth(32);
  return text;
}

QPushButton* addButton(QDialogButtonBox* box, const char* text, int id) {
  QPushButton* button = box->addButton(text, QDialogButtonBox::ActionRole);
  button->setObjectName(QString::number(id));
  return button;
}

void connectDialogBar(QScrollBar* bar, std::function<void(int)> changed) {
  // actionTriggered comes with the slider position already moved and
  // clamped to the range; dragging reports each position by sliderMoved.
  QObject::connect(bar, &QAbstractSlider::actionTriggered, bar, [bar, changed](int action) {
    if (action == QAbstractSlider::SliderMove) return;  // sliderMoved tells it
    changed(bar->sliderPosition());
  });
  QObject::connect(bar, &QAbstractSlider::sliderMoved, bar, [changed](int position) { changed(position); });
}

void setBarQuietly(QScrollBar* bar, int position) {
  const QSignalBlocker block(bar);
  bar->setValue(position);
}

}  // namespace demo
