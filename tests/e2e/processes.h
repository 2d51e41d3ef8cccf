#pragma once

// The programs under test in processes of their own: kvr-writer-sim serving a pseudo-terminal,
// and kvr-cli runs against it.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <fstream>
#include <sstream>
#include <string>

namespace kvr::test {

inline std::string ReadFile(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// kvr-writer-sim; its first output line is the device path.
class SimProcess {
 public:
  explicit SimProcess(const QStringList& options) {
    process_.start(KVR_WRITER_SIM, options);
    if (!process_.waitForStarted(10000)) return;
    while (!process_.canReadLine() && process_.waitForReadyRead(10000)) {
    }
    path_ = QString::fromUtf8(process_.readLine()).trimmed();
  }
  ~SimProcess() { Stop(); }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  const QString& DevicePath() const { return path_; }
  // SIGTERM, as an operator's Ctrl-C would end it; what it writes at exit is then complete.
  void Stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(10000)) process_.kill();
  }

 private:
  QProcess process_;
  QString path_;
};

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

inline CliRun RunCli(const QStringList& args, int timeoutMs = 60000) {
  QProcess cli;
  cli.start(KVR_CLI, args);
  if (!cli.waitForFinished(timeoutMs)) {
    cli.kill();
    cli.waitForFinished();
    return {};
  }
  return {cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1,
          cli.readAllStandardOutput().toStdString(), cli.readAllStandardError().toStdString()};
}

}  // namespace kvr::test
