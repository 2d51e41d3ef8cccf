#pragma once

// The programs under test in processes of their own: kvr-writer-sim serving a pseudo-terminal,
// kvr-cli runs against it, and the files they read and write.

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

inline void WriteFile(const QString& path, const std::string& content) {
  std::ofstream(path.toStdString(), std::ios::binary) << content;
}

// kvr-writer-sim; its first output line is the device path (empty when it did not start).
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
  // Returns what it said on standard error (the faults it injected).
  std::string Stop() {
    if (process_.state() != QProcess::NotRunning) {
      process_.terminate();
      if (!process_.waitForFinished(10000)) process_.kill();
    }
    return process_.readAllStandardError().toStdString();
  }
  // Ends it at once, as a pulled-out adapter ends: no clean-up, the terminal just goes.
  void Kill() {
    process_.kill();
    process_.waitForFinished(10000);
  }

 private:
  QProcess process_;
  QString path_;
};

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
  std::string told;  // kvr-cli's "Run: ..." line, taken out of `out`
};

// Takes kvr-cli's line of what it was told out of its output and returns it.
inline std::string TakeToldLine(std::string& out) {
  const auto start = out.rfind("Run: ", 0) == 0 ? 0 : out.find("\nRun: ");
  if (start == std::string::npos) return {};
  const auto begin = start == 0 ? 0 : start + 1;
  const auto end = out.find('\n', begin) + 1;
  std::string line = out.substr(begin, end - begin);
  out.erase(begin, end - begin);
  return line;
}

// Waits for a started program to end. Its exit code is -1 when it crashed, or when it did not
// end within `timeoutMs` and was killed.
inline CliRun Finish(QProcess& process, int timeoutMs = 60000) {
  if (!process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished();
    return {};
  }
  CliRun run{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
             process.readAllStandardOutput().toStdString(),
             process.readAllStandardError().toStdString(),
             {}};
  run.told = TakeToldLine(run.out);
  return run;
}

inline CliRun RunCli(const QStringList& args, int timeoutMs = 60000) {
  QProcess cli;
  cli.start(KVR_CLI, args);
  return Finish(cli, timeoutMs);
}

// kvr-cli with a settings file of its own, holding `settings` at the start, that goes with it.
inline CliRun RunCliOnFreshSettings(const QStringList& args, const std::string& settings = "") {
  QTemporaryDir dir;
  const QString file = dir.filePath("settings.ini");
  if (!settings.empty()) WriteFile(file, settings);
  return RunCli(QStringList(args) << "--settings" << file);
}

// Reads the program's standard output into `seen` until `text` is among it; false when the
// program fell silent for `timeoutMs` first.
inline bool WaitForOutput(QProcess& process, const std::string& text, std::string& seen,
                          int timeoutMs = 10000) {
  while (seen.find(text) == std::string::npos) {
    if (!process.waitForReadyRead(timeoutMs)) return false;
    seen += process.readAllStandardOutput().toStdString();
  }
  return true;
}

}  // namespace kvr::test
