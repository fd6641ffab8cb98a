#include "select_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include <cstdio>

namespace lxmperf {

CSelectDlg::CSelectDlg(int cardCount, int selected, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Select card");
  auto* group = new QGroupBox(this);
  auto* inside = new QVBoxLayout(group);
  list_ = new QComboBox(group);
  list_->setObjectName(QString::number(kListId));
  char text[64];
  for (int n = 1; n <= cardCount; ++n) {
    std::snprintf(text, sizeof text, "%s%d", "Card number ", n);
    list_->addItem(text);
  }
  list_->addItem("All card");
  list_->setCurrentIndex(selected >= 0 && selected <= cardCount ? selected : cardCount);
  std::snprintf(text, sizeof text, "%s%d", "Card total: ", cardCount);
  total_ = new QLabel(text, group);
  total_->setObjectName(QString::number(kTotalTextId));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, group);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  inside->addWidget(list_);
  inside->addWidget(total_);
  inside->addWidget(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
}

int CSelectDlg::selection() const { return list_->currentIndex(); }

}  // namespace lxmperf
