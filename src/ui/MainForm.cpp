#include "ui/MainForm.h"

#include "app/Services.h"

namespace wendrix {

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("Wendrix"));
  resize(474, 626);
  FormCreate();
}

void TMainForm::FormCreate() { StartServices(); }

}  // namespace wendrix
