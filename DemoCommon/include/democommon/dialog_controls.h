// Controls of the parameter dialogs, named by their resource ids (the
// object name is the id in decimal, so tests and callers find them), and
// the scroll rule the dialogs share.
#pragma once

#include <functional>

class QDialogButtonBox;
class QLabel;
class QPushButton;
class QScrollBar;
class QWidget;

namespace demo {

QScrollBar* makeDialogBar(QWidget* parent, int id, int minimum, int maximum, int position);
QLabel* makeValueText(QWidget* parent, int id, int value);
QPushButton* addButton(QDialogButtonBox* box, const char* text, int id);

// Calls changed(position) with the bar's resulting position for every
// scroll: line steps of 1 and page steps of 10 (at either end, too, so the
// end value is applied again), and every move of the thumb while dragging.
void connectDialogBar(QScrollBar* bar, std::function<void(int)> changed);
// Moves a bar without calling its handler.
void setBarQuietly(QScrollBar* bar, int position);

}  // namespace demo
