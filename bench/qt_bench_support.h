#pragma once

// What the benchmarks on the Qt platform share: kvr-writer-sim in its own process on a
// pseudo-terminal, and the Qt platform of a station whose COM1 points there.

#include <QProcess>
#include <QStringList>

#include <string>

#include "platform/qt/qt_event_pump.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_timer.h"
#include "platform/virtual/virtual_platform.h"

namespace bench {

class WriterProcess {
 public:
  explicit WriterProcess(const QStringList& options) {
    process_.start(KVR_WRITER_SIM, options);
    if (!process_.waitForStarted(10000)) return;
    while (!process_.canReadLine() && process_.waitForReadyRead(10000)) {
    }
    path_ = QString::fromUtf8(process_.readLine()).trimmed().toStdString();
  }
  ~WriterProcess() {
    process_.terminate();
    if (!process_.waitForFinished(5000)) process_.kill();
  }
  const std::string& DevicePath() const { return path_; }

 private:
  QProcess process_;
  std::string path_;
};

class SilentBeeper : public kvr::Beeper {
 public:
  void Beep() override {}
};

struct QtPlatform {
  explicit QtPlatform(const std::string& target) { ports.SetTarget(1, target); }
  kvr::PortMap ports;
  kvr::QtSerialPort port{ports};
  kvr::QtEventPump pump;
  kvr::QtTimerFactory timers;
  kvr::ScriptedDialogs dialogs;
  kvr::MemorySettingsStore settings;
  SilentBeeper beeper;
  kvr::Platform platform{port, pump, timers, dialogs, settings, beeper};
};

}  // namespace bench
