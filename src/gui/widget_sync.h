#pragma once

// Small helpers shared by the window's parts: they change a widget only where it differs from
// the control, so that a Sync with nothing new touches nothing.

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <string>
#include <string_view>

#include "app/station.h"

namespace kvr {

// The station's texts keep "\r\n"; a widget breaks lines on '\n'. A lone '\r' breaks the line
// too, so nothing the station wrote runs into the next line.
inline QString ToDisplay(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return QString::fromUtf8(out.data(), static_cast<qsizetype>(out.size()));
}

// Widget name of element `index` of a control array; a name that ends in a digit gets a
// separator, so that row 3 of "Picture2" does not read as "Picture23".
inline QString ElementName(const char* name, int index) {
  QString element = QString::fromLatin1(name);
  if (!element.isEmpty() && element.back().isDigit()) element += QLatin1Char('_');
  return element + QString::number(index);
}

// Enabled as the data says; the widget may still be disabled by its container.
inline void SetEnabled(QWidget* widget, bool enabled) {
  if (widget->isEnabledTo(widget->parentWidget()) != enabled) widget->setEnabled(enabled);
}

inline void SetVisible(QWidget* widget, bool visible) {
  if (widget->isHidden() == visible) widget->setVisible(visible);
}

inline void SetText(QLabel* label, const std::string& text) {
  const QString shown = QString::fromStdString(text);
  if (label->text() != shown) label->setText(shown);
}

inline void SyncLabel(QLabel* widget, const Label& label) {
  SetText(widget, label.caption);
  SetEnabled(widget, label.enabled);
  SetVisible(widget, label.visible);
}

inline void SyncFrame(QFrame* widget, const Frame& frame) {
  const QFrame::Shape shape = frame.border ? QFrame::StyledPanel : QFrame::NoFrame;
  if (widget->frameShape() != shape) widget->setFrameShape(shape);
  SetEnabled(widget, frame.enabled);
  SetVisible(widget, frame.visible);
}

inline void SyncCheckBox(QCheckBox* widget, const CheckBox& box) {
  const QString caption = QString::fromStdString(box.caption);
  if (widget->text() != caption) widget->setText(caption);
  if (widget->isChecked() != box.checked) widget->setChecked(box.checked);
  SetEnabled(widget, box.enabled);
  SetVisible(widget, box.visible);
}

inline void SyncButton(QPushButton* button, const CommandButton& control) {
  const QString caption = QString::fromStdString(control.caption);
  if (button->text() != caption) button->setText(caption);
  if (button->isEnabled() != control.enabled) button->setEnabled(control.enabled);
  if (button->isHidden() == control.visible) button->setVisible(control.visible);
}

inline void SyncTextBox(QLineEdit* widget, const TextBox& box) {
  const QString text = QString::fromStdString(box.text);
  if (widget->text() != text) widget->setText(text);
  SetEnabled(widget, box.enabled);
  SetVisible(widget, box.visible);
}

}  // namespace kvr
