#include "democommon/message_box.h"

#include <QMessageBox>
#include <QString>

#include "lx/video.h"

namespace demo {

namespace {
MessageHook& hookSlot() {
  static MessageHook hook;
  return hook;
}
}  // namespace

MessageHook setMessageHook(MessageHook hook) {
  MessageHook previous = std::move(hookSlot());
  hookSlot() = std::move(hook);
  return previous;
}

MessageAnswer showMessage(QWidget* owner, const MessageRequest& request) {
  if (hookSlot()) return hookSlot()(request);
  QMessageBox::Icon icon = QMessageBox::Warning;
  if (request.icon == MessageIcon::Information) icon = QMessageBox::Information;
  if (request.icon == MessageIcon::Question) icon = QMessageBox::Question;
  QMessageBox box(icon, QString::fromStdString(request.caption), QString::fromStdString(request.text),
                  request.yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, owner);
  const int answer = box.exec();
  if (!request.yesNo) return MessageAnswer::Ok;
  return answer == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

void showStatusError(int status) {
  showMessage(nullptr, {LxGetErrorString(status), "Error message", MessageIcon::Warning, false});
}

void showNotice(const std::string& text) { showMessage(nullptr, {text, "Notice", MessageIcon::Information, false}); }

void showWarning(const std::string& text, const std::string& caption) {
  showMessage(nullptr, {text, caption, MessageIcon::Warning, false});
}

bool askYesNo(const std::string& text, const std::string& caption) {
  return showMessage(nullptr, {text, caption, MessageIcon::Question, true}) == MessageAnswer::Yes;
}

}  // namespace demo
