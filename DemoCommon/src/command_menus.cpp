#include "democommon/command_menus.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QWidget>

namespace demo {

CommandMenus::CommandMenus(QMenuBar* bar, Execute execute, Query query)
    : QObject(bar), execute_(std::move(execute)), query_(std::move(query)), bar_(bar) {}

QMenu* CommandMenus::menu(const char* title) {
  QMenu* menu = bar_->addMenu(title);
  connect(menu, &QMenu::aboutToShow, this, [this, menu] { update(menu); });
  return menu;
}

QMenu* CommandMenus::submenu(QMenu* parent, const char* title) {
  QMenu* menu = parent->addMenu(title);
  connect(menu, &QMenu::aboutToShow, this, [this, menu] { update(menu); });
  return menu;
}

QAction* CommandMenus::item(QMenu* menu, const char* text, int id) {
  QAction* action = menu->addAction(text);
  action->setObjectName(QString::number(id));
  action->setData(id);
  actions_[id] = action;
  connect(action, &QAction::triggered, this, [this, id] { execute_(id); });
  return action;
}

void CommandMenus::accelerator(QWidget* window, const char* key, int id) {
  auto* shortcut = new QShortcut(QKeySequence(key), window);
  shortcut->setObjectName(QString("key %1").arg(key));
  // A key reaches a command only while its item would be enabled.
  connect(shortcut, &QShortcut::activated, this, [this, id] { dispatch(id); });
}

QAction* CommandMenus::action(int id) const {
  const auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void CommandMenus::update(QMenu* menu) {
  for (QAction* action : menu->actions()) {
    if (action->menu()) {
      update(action->menu());
      continue;
    }
    if (action->isSeparator() || !action->data().isValid()) continue;
    CommandState state;
    query_(action->data().toInt(), state);
    action->setEnabled(state.enabled);
    action->setCheckable(state.checked);
    action->setChecked(state.checked);
  }
}

void CommandMenus::dispatch(int id) {
  CommandState state;
  query_(id, state);
  if (state.enabled) execute_(id);
}

}  // namespace demo
