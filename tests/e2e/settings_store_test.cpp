// The settings file on disk: a write cut off at any moment leaves a file that reads back whole,
// a killed writer holds nobody up, files QSettings wrote read the same, and processes sharing
// the file lose none of each other's changes.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/qt/qt_settings_store.h"

namespace kvr {
namespace {

constexpr int kKeys = 8;

TEST(SettingsStore, WritesReadBackAndDefaultsStandIn) {
  QTemporaryDir dir;
  const QString file = dir.filePath("station.ini");
  {
    QtSettingsStore store(file);
    store.Write("App", "Settings", "COM_port", "3");
    store.Write("App", "Auto_Increase", "next_value", "0042");
    EXPECT_EQ(store.Read("App", "Settings", "Missing", "dflt"), "dflt");
  }
  QtSettingsStore reopened(file);
  EXPECT_EQ(reopened.Read("App", "Settings", "COM_port", ""), "3");
  EXPECT_EQ(reopened.Read("App", "Auto_Increase", "next_value", ""), "0042");
}

TEST(SettingsStore, GarbledFileReadsAsDefaults) {
  QTemporaryDir dir;
  const QString file = dir.filePath("station.ini");
  QFile garbled(file);
  ASSERT_TRUE(garbled.open(QIODevice::WriteOnly));
  garbled.write("[Settings\n\x01\x02=\xFF\xFE\nCOM_port\n=\n[[[");
  garbled.close();
  QtSettingsStore store(file);
  EXPECT_EQ(store.Read("App", "Settings", "COM_port", "0"), "0");
  store.Write("App", "Settings", "COM_port", "1");
  EXPECT_EQ(QtSettingsStore(file).Read("App", "Settings", "COM_port", ""), "1");
}

TEST(SettingsStore, WriterKilledMidWriteLeavesAWholeFileAndNoLock) {
  QTemporaryDir dir;
  const QString file = dir.filePath("station.ini");
  {
    QtSettingsStore store(file);
    for (int k = 0; k < kKeys; ++k) store.Write("App", "Settings", "key" + std::to_string(k), "0");
  }
  for (int round = 0; round < 3; ++round) {
    int progress[2];
    ASSERT_EQ(pipe(progress), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(progress[0]);
      QtSettingsStore store(file);
      for (int generation = 1;; ++generation) {
        for (int k = 0; k < kKeys; ++k)
          store.Write("App", "Settings", "key" + std::to_string(k),
                      std::to_string(generation) + std::string(200, 'x'));
        const char tick = 'g';
        if (write(progress[1], &tick, 1) != 1) _exit(1);
      }
    }
    close(progress[1]);
    // Let it write a few whole generations, then cut it off in the middle of its next ones.
    char tick = 0;
    for (int i = 0; i < 2 + round; ++i) ASSERT_EQ(read(progress[0], &tick, 1), 1);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(progress[0]);

    QtSettingsStore store(file);
    for (int k = 0; k < kKeys; ++k) {
      const std::string value = store.Read("App", "Settings", "key" + std::to_string(k), "");
      ASSERT_FALSE(value.empty()) << "key " << k << " lost in round " << round;
      if (value != "0") {
        ASSERT_EQ(value.size() - value.find('x'), 200U) << "key " << k << " cut short";
      }
    }
    // Its lock died with it: the next change does not wait for the lock to be judged stale.
    QElapsedTimer waited;
    waited.start();
    ASSERT_TRUE(store.Update("App", "Settings", "after", [](const std::string&) { return "1"; }));
    EXPECT_LT(waited.elapsed(), 5000) << "round " << round;
  }
}

// Values and keys QSettings escapes, quotes or types: what one side writes, the other reads the
// same.
const std::vector<std::string> kTrickyValues = {"plain",
                                                " lead",
                                                "trail ",
                                                "a,b",
                                                "semi;colon",
                                                "eq=ual",
                                                "quo\"te",
                                                "back\\slash",
                                                "中文路径",
                                                "@at",
                                                "@@two",
                                                "line\nbreak",
                                                "cr\rx",
                                                "tab\tx",
                                                "",
                                                "x\x01y",
                                                "\x7f",
                                                "a, b",
                                                "\"q\"",
                                                "1\x02"
                                                "2",
                                                "C:\\Program Files (x86)\\fw.hex",
                                                "@Invalid()",
                                                "\\x41",
                                                "  "};
const std::vector<std::pair<std::string, std::string>> kTrickyKeys = {
    {"Settings", "Write_OK_Count"},
    {"Auto_Increase", "next_value"},
    {"Sp ace", "key with space"},
    {"Ports", "pct%key"},
    {"Ports", "中"},
    {"General", "g"},
    {"Settings", "sl/ash"}};

QString QtKey(const std::string& section, const std::string& key) {
  return QString::fromStdString(section) + "/" + QString::fromStdString(key);
}

TEST(SettingsStore, FilesQSettingsWroteReadTheSameAndQSettingsReadsOurs) {
  QTemporaryDir dir;
  const QString theirs = dir.filePath("theirs.ini");
  const QString ours = dir.filePath("ours.ini");
  {
    QSettings qt(theirs, QSettings::IniFormat);
    QtSettingsStore store(ours);
    for (std::size_t i = 0; i < kTrickyValues.size(); ++i) {
      const std::string key = "k" + std::to_string(i);
      qt.setValue(QtKey("Values", key), QString::fromStdString(kTrickyValues[i]));
      store.Write("App", "Values", key, kTrickyValues[i]);
    }
    for (const auto& [section, key] : kTrickyKeys) {
      qt.setValue(QtKey(section, key), "v");
      store.Write("App", section, key, "v");
    }
  }
  QtSettingsStore fromQt(theirs);
  QSettings qtReadsOurs(ours, QSettings::IniFormat);
  for (std::size_t i = 0; i < kTrickyValues.size(); ++i) {
    const std::string key = "k" + std::to_string(i);
    EXPECT_EQ(fromQt.Read("App", "Values", key, "<none>"), kTrickyValues[i]) << key;
    EXPECT_EQ(qtReadsOurs.value(QtKey("Values", key)).toString().toStdString(), kTrickyValues[i])
        << key;
  }
  for (const auto& [section, key] : kTrickyKeys) {
    EXPECT_EQ(fromQt.Read("App", section, key, "<none>"), "v") << section << "/" << key;
    EXPECT_EQ(qtReadsOurs.value(QtKey(section, key)).toString(), "v") << section << "/" << key;
  }

  // One key changed in a file QSettings wrote: every other key reads as it did.
  fromQt.Write("App", "Settings", "Write_OK_Count", "17");
  QSettings qtAgain(theirs, QSettings::IniFormat);
  EXPECT_EQ(qtAgain.value("Settings/Write_OK_Count").toString(), "17");
  for (std::size_t i = 0; i < kTrickyValues.size(); ++i)
    EXPECT_EQ(qtAgain.value(QtKey("Values", "k" + std::to_string(i))).toString().toStdString(),
              kTrickyValues[i]);
}

// A file edited by hand reads as QSettings reads it: comments, quotes, continued lines, lists,
// escapes, repeated keys and sections, a section without its bracket.
TEST(SettingsStore, HandEditedFilesReadAsQSettingsReadsThem) {
  QTemporaryDir dir;
  const QString file = dir.filePath("edited.ini");
  QFile edited(file);
  ASSERT_TRUE(edited.open(QIODevice::WriteOnly));
  edited.write(
      "\xEF\xBB\xBF; comment\n# hash=1\ntop=level\n[S]\nlist=a, b\nlist1=a,\nq=\"a,b\" , c\n"
      "sp =  spaced  \ncont=ab\\\ncd\ninv=@Invalid()\nba=@ByteArray(xyz)\nstr=@String(abc)\n"
      "oct=\\101\\x41z\ndup=1\ndup=2\nCase=1\nsemi=a;b\nx2=\\x4142\nu=\\u0041\nw=  \"  in \"  \n"
      "at=@\nnl=\"two\nlines\"\n[s]\ncase=2\nnoeq\n  [T]  \nx=1\n[U\ny=2\r\n[%General]\r\ng=3\r\n"
      "[S]\nlater=4\n[Sp%20ace]\nk%41=5\n");
  edited.close();
  QSettings qt(file, QSettings::IniFormat);
  QtSettingsStore store(file);
  const QStringList keys = qt.allKeys();
  ASSERT_GE(keys.size(), 25);
  for (const QString& full : keys) {
    const qsizetype slash = full.indexOf('/');
    const std::string section = slash < 0 ? "" : full.left(slash).toStdString();
    const std::string key = (slash < 0 ? full : full.mid(slash + 1)).toStdString();
    const QVariant value = qt.value(full);
    EXPECT_EQ(store.Read("App", section, key, "<none>"),
              value.isValid() ? value.toString().toStdString() : "<none>")
        << full.toStdString();
  }

  // A change keeps what the station does not understand, and every key reads as before.
  store.Write("App", "S", "dup", "3");
  QFile rewritten(file);
  ASSERT_TRUE(rewritten.open(QIODevice::ReadOnly));
  const QByteArray text = rewritten.readAll();
  for (const char* kept : {"; comment\n", "\n# hash=1\n", "\nnoeq\n", "\n[T]"})
    EXPECT_TRUE(text.contains(kept)) << kept << "\n" << text.toStdString();
  QSettings again(file, QSettings::IniFormat);
  EXPECT_EQ(again.value("S/dup").toString(), "3");
  for (const QString& full : keys) {
    if (full == "S/dup") continue;
    EXPECT_EQ(again.value(full), qt.value(full)) << full.toStdString();
  }
}

// Stations in several processes count into one file: no increment is lost, and nobody's
// ordinary writes undo another's.
TEST(SettingsStore, ProcessesCountingIntoOneFileLoseNothing) {
  QTemporaryDir dir;
  const QString file = dir.filePath("station.ini");
  constexpr int kProcesses = 3;
  constexpr int kIncrements = 150;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      QtSettingsStore store(file);
      for (int i = 1; i <= kIncrements; ++i) {
        const auto counted =
            store.Update("App", "Settings", "Write_OK_Count", [](const std::string& current) {
              return std::to_string(std::atoi(current.c_str()) + 1);
            });
        if (!counted) _exit(1);
        store.Write("App", "Station" + std::to_string(p), "chips", std::to_string(i));
      }
      _exit(0);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  QtSettingsStore store(file);
  EXPECT_EQ(store.Read("App", "Settings", "Write_OK_Count", ""),
            std::to_string(kProcesses * kIncrements));
  for (int p = 0; p < kProcesses; ++p)
    EXPECT_EQ(store.Read("App", "Station" + std::to_string(p), "chips", ""),
              std::to_string(kIncrements));
}

}  // namespace
}  // namespace kvr
