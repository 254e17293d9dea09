// The program's only window.
#pragma once

#include <QMainWindow>

namespace wendrix {

class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  explicit TMainForm(QWidget* parent = nullptr);

 private:
  void FormCreate();
};

}  // namespace wendrix
