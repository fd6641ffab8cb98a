#include "democommon/about_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace demo {

AboutDialog::AboutDialog(const QString& programName, QWidget* parent) : QDialog(parent) {
  setWindowTitle("About " + programName);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(programName + " Version 1.0", this));
  layout->addWidget(new QLabel("Demonstration program of the Lx capture cards", this));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
}

}  // namespace demo
