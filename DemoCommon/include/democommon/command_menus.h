// Menus and accelerators by numeric command id, as the framework's command
// routing: every item and key sends its id to one handler, and before a
// menu opens each of its items asks for its state (enabled, checked).
#pragma once

#include <QObject>

#include <functional>
#include <map>
#include <string>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace demo {

struct CommandState {
  bool enabled = true;
  bool checked = false;
};

class CommandMenus : public QObject {
  Q_OBJECT
 public:
  using Execute = std::function<void(int id)>;
  // Fills state for an id; ids without a rule keep the defaults.
  using Query = std::function<void(int id, CommandState& state)>;

  CommandMenus(QMenuBar* bar, Execute execute, Query query);

  QMenu* menu(const char* title);
  QMenu* submenu(QMenu* parent, const char* title);
  // text may hold "\t" and a key shown beside it; the key is not bound.
  QAction* item(QMenu* menu, const char* text, int id);
  // A key bound to an id on the window (the accelerator table).
  void accelerator(QWidget* window, const char* key, int id);

  QAction* action(int id) const;
  // The state rules applied to one menu's items (and its submenus'), as
  // before it opens; public so that tests ask exactly what a person sees.
  void update(QMenu* menu);
  // Sends an id as a menu item or key would (a disabled item does nothing).
  void dispatch(int id);

 private:
  Execute execute_;
  Query query_;
  QMenuBar* bar_;
  std::map<int, QAction*> actions_;
};

}  // namespace demo
