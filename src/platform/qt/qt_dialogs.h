#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <vector>

#include "platform/dialogs.h"

namespace kvr {

// Message boxes and file dialogs on Qt Widgets, modal to the parent once it is known.
class QtDialogs : public Dialogs {
 public:
  explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
  // The main window is built after the platform, so it is handed in later.
  void SetParent(QWidget* parent) { parent_ = parent; }

  void Information(const std::string& text, const std::string& title = {}) override;
  bool Question(const std::string& text, const std::string& title = {}) override;
  std::string OpenFile(const FileDialogRequest& request) override;
  std::string SaveFile(const FileDialogRequest& request) override;

 private:
  QPointer<QWidget> parent_;
};

// "Hex files (*.hex *.HEX);;All files (*)" from filters whose patterns are "*.hex;*.HEX".
QString QtFilterString(const std::vector<FileFilter>& filters);

}  // namespace kvr
