#include "platform/qt/qt_beeper.h"

#include <QApplication>

namespace kvr {

void QtBeeper::Beep() {
  QApplication::beep();
}

}  // namespace kvr
