#pragma once

// What the end-to-end tests share: kvr-writer-sim in its own process, and a station on the Qt
// platform.

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <fstream>
#include <sstream>
#include <string>

#include "app/station.h"
#include "platform/qt/qt_event_pump.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_timer.h"
#include "platform/virtual/virtual_platform.h"

namespace kvr {

inline std::string ReadFile(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// kvr-writer-sim in a process of its own, its received frames logged to a file.
class WriterProcess {
 public:
  explicit WriterProcess(const QStringList& options) {
    framesFile_ = dir_.filePath("frames.txt");
    process_.start(KVR_WRITER_SIM, QStringList(options) << "--frames" << framesFile_);
    if (!process_.waitForStarted(10000)) return;
    while (!process_.canReadLine() && process_.waitForReadyRead(10000)) {
    }
    path_ = QString::fromUtf8(process_.readLine()).trimmed().toStdString();
  }
  ~WriterProcess() { Stop(); }

  const std::string& DevicePath() const { return path_; }
  // Ends the simulator and returns the frames it received, one line each.
  std::string StopAndReadFrames() {
    Stop();
    return ReadFile(framesFile_);
  }
  // Ends it at once, as a pulled-out adapter ends: no clean-up, the terminal just goes.
  void Kill() {
    process_.kill();
    process_.waitForFinished(10000);
  }

 private:
  void Stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(10000)) process_.kill();
  }

  QTemporaryDir dir_;
  QString framesFile_;
  QProcess process_;
  std::string path_;
};

class CountingBeeper : public Beeper {
 public:
  void Beep() override { ++count; }
  int count = 0;
};

// A station on the Qt platform whose COM1 points at `target`.
struct QtStation {
  explicit QtStation(const std::string& target) { ports.SetTarget(1, target); }
  PortMap ports;
  QtSerialPort port{ports};
  QtEventPump pump;
  QtTimerFactory timers;
  ScriptedDialogs dialogs;
  MemorySettingsStore settings;
  CountingBeeper beeper;
  Platform platform{port, pump, timers, dialogs, settings, beeper};
  Station station{platform};
};

}  // namespace kvr
