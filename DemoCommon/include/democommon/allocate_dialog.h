// The Allocate memory dialog: the static memory's size in 4 KB pages, and a
// new size for the next start of the system, with the offer to restart now.
#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;

namespace demo {

class AllocateDialog : public QDialog {
  Q_OBJECT
 public:
  // restart() restarts the computer (true when it is under way); the
  // program's title captions the failure message.
  AllocateDialog(std::function<bool()> restart, QString programTitle, QWidget* parent = nullptr);

  QLineEdit* pagesEdit() const { return edit_; }
  QLabel* allocatedText() const { return allocated_; }
  QLabel* statusText() const { return status_; }
  // True after a restart was set under way.
  bool restarting() const { return restarting_; }

  static constexpr int kMaxPages = 10000000;
  void accept() override;

 private:
  std::function<bool()> restart_;
  QString title_;
  QLineEdit* edit_ = nullptr;
  QLabel* allocated_ = nullptr;
  QLabel* status_ = nullptr;
  bool restarting_ = false;
};

}  // namespace demo
