#pragma once

#include <QFont>
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
  void InformationInColumns(const std::string& text, const std::string& title = {}) override;
  bool Question(const std::string& text, const std::string& title = {}) override;
  std::string OpenFile(const FileDialogRequest& request) override;
  std::string SaveFile(const FileDialogRequest& request) override;

 private:
  QPointer<QWidget> parent_;
};

// A fixed-pitch font of the size of `base` in which a Chinese character takes exactly two
// columns, so that text lined up for a terminal keeps its columns; the system's fixed-pitch font
// when no installed font does so.
QFont ColumnFont(const QFont& base);

// "Hex files (*.hex *.HEX);;All files (*)" from filters whose patterns are "*.hex;*.HEX".
QString QtFilterString(const std::vector<FileFilter>& filters);

}  // namespace kvr
