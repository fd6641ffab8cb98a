#include "democommon/allocate_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "democommon/message_box.h"
#include "lx/video.h"

namespace demo {

AllocateDialog::AllocateDialog(std::function<bool()> restart, QString programTitle, QWidget* parent)
    : QDialog(parent), restart_(std::move(restart)), title_(std::move(programTitle)) {
  setWindowTitle("Allocate memory");
  setObjectName("132");
  uint32_t pages = 0;
  const LxStatus status = LxGetStaticMem(&pages);
  auto* group = new QGroupBox("Situation", this);
  auto* grid = new QGridLayout(group);
  allocated_ = new QLabel(QString::asprintf("%d Pages (%d KB)", static_cast<int>(pages), static_cast<int>(pages) * 4),
                          group);
  allocated_->setObjectName("1013");
  status_ = new QLabel(status == LX_OK ? "Allocation is successful." : "Allocation is unsuccessful.", group);
  status_->setObjectName("1014");
  grid->addWidget(new QLabel("Allocated:", group), 0, 0);
  grid->addWidget(allocated_, 0, 1);
  grid->addWidget(status_, 1, 0, 1, 2);
  edit_ = new QLineEdit(QString::number(pages), this);
  edit_->setObjectName("1012");
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel("Try to allocate", this));
  row->addWidget(edit_);
  row->addWidget(new QLabel("Pages(4KB/Page)", this));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addLayout(row);
  layout->addWidget(buttons);
}

void AllocateDialog::accept() {
  uint32_t current = 0;
  LxGetStaticMem(&current);
  bool number = false;
  const qlonglong value = edit_->text().trimmed().toLongLong(&number);
  if (!number || value < 0 || value > kMaxPages) {
    // The data exchange's range message; the dialog stays open.
    showMessage(this, {"Please enter an integer between 0 and 10000000.", title_.toStdString(),
                       MessageIcon::Warning, false});
    edit_->setFocus();
    return;
  }
  if (static_cast<uint32_t>(value) != current) {
    if (LxSetStaticMem(static_cast<uint32_t>(value)) != LX_OK) {
      showWarning("Failed to Allocate Memory.", title_.toStdString());
    } else if (askYesNo(" Changed Pages. Let setting avail, \n you must reboot! Now, Reboot?", "Notice")) {
      restarting_ = restart_ && restart_();
    } else {
      showNotice("Please Reboot later!");
    }
  }
  QDialog::accept();
}

}  // namespace demo
