// Message boxes of the programs (Qt's), with a hook that takes them over:
// tests answer and record them instead of a person.
#pragma once

#include <functional>
#include <string>

class QWidget;

namespace demo {

enum class MessageIcon { Warning, Information, Question };
enum class MessageAnswer { Ok, Yes, No };

struct MessageRequest {
  std::string text;
  std::string caption;
  MessageIcon icon = MessageIcon::Warning;
  bool yesNo = false;
};

using MessageHook = std::function<MessageAnswer(const MessageRequest&)>;
// Installs a hook (null: Qt message boxes again); returns the previous one.
MessageHook setMessageHook(MessageHook hook);

MessageAnswer showMessage(QWidget* owner, const MessageRequest& request);
// A failing status: its text in a warning box captioned "Error message", no owner.
void showStatusError(int status);
// "Notice" boxes and plain warnings.
void showNotice(const std::string& text);
void showWarning(const std::string& text, const std::string& caption);
bool askYesNo(const std::string& text, const std::string& caption);

}  // namespace demo
