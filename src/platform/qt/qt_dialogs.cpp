#include "platform/qt/qt_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QStringList>

namespace kvr {

namespace {

// The platform puts the program's name into an empty title; a blank keeps a box without one.
QString BoxTitle(const std::string& title) {
  return title.empty() ? QStringLiteral(" ") : QString::fromStdString(title);
}

// The directory the dialog opens in, with the proposed name selected when there is one.
QString StartPath(const FileDialogRequest& request) {
  const QString directory = QString::fromStdString(request.initialDirectory);
  const QString name = QString::fromStdString(request.initialName);
  if (name.isEmpty()) return directory;
  return directory.isEmpty() ? name : QDir(directory).filePath(name);
}

}  // namespace

QString QtFilterString(const std::vector<FileFilter>& filters) {
  QStringList parts;
  for (const FileFilter& filter : filters) {
    QStringList patterns;
    for (const QString& pattern : QString::fromStdString(filter.pattern).split(';'))
      if (!pattern.trimmed().isEmpty()) patterns << pattern.trimmed();
    // A filter without patterns would be read as a pattern made of its description.
    if (patterns.isEmpty()) patterns << QStringLiteral("*");
    QString description = QString::fromStdString(filter.description).trimmed();
    if (description.isEmpty()) description = patterns.join(' ');
    parts << description + " (" + patterns.join(' ') + ")";
  }
  return parts.join(QStringLiteral(";;"));
}

void QtDialogs::Information(const std::string& text, const std::string& title) {
  QMessageBox box(QMessageBox::Information, BoxTitle(title), QString::fromStdString(text),
                  QMessageBox::Ok, parent_);
  box.exec();
}

QFont ColumnFont(const QFont& base) {
  const QFont system = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  const QStringList families = {QStringLiteral("WenQuanYi Micro Hei Mono"),
                                QStringLiteral("Noto Sans Mono CJK SC"),
                                QStringLiteral("Sarasa Mono SC"), system.family()};
  for (const QString& family : families) {
    QFont font(family);
    font.setPointSizeF(base.pointSizeF() > 0 ? base.pointSizeF() : system.pointSizeF());
    font.setStyleHint(QFont::TypeWriter);
    const QFontMetrics metrics(font);
    const int column = metrics.horizontalAdvance(QLatin1Char('0'));
    if (metrics.horizontalAdvance(QStringLiteral("i")) == column &&
        metrics.horizontalAdvance(QStringLiteral("\u4E2D")) == 2 * column)
      return font;
  }
  return system;
}

void QtDialogs::InformationInColumns(const std::string& text, const std::string& title) {
  QMessageBox box(QMessageBox::Information, BoxTitle(title), QString::fromStdString(text),
                  QMessageBox::Ok, parent_);
  if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
    label->setFont(ColumnFont(label->font()));
  box.exec();
}

bool QtDialogs::Question(const std::string& text, const std::string& title) {
  QMessageBox box(QMessageBox::Question, BoxTitle(title), QString::fromStdString(text),
                  QMessageBox::Yes | QMessageBox::No, parent_);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

std::string QtDialogs::OpenFile(const FileDialogRequest& request) {
  return QFileDialog::getOpenFileName(parent_, QString::fromStdString(request.title),
                                      StartPath(request), QtFilterString(request.filters))
      .toStdString();
}

std::string QtDialogs::SaveFile(const FileDialogRequest& request) {
  // The dialog asks before it lets an existing file be chosen, unless it is only added to.
  const QFileDialog::Options options =
      request.confirmOverwrite ? QFileDialog::Options() : QFileDialog::DontConfirmOverwrite;
  return QFileDialog::getSaveFileName(parent_, QString::fromStdString(request.title),
                                      StartPath(request), QtFilterString(request.filters), nullptr,
                                      options)
      .toStdString();
}

}  // namespace kvr
