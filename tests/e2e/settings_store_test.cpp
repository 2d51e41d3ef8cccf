// The settings file on disk: a write cut off at any moment leaves a file that reads back whole.

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

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

TEST(SettingsStore, WriterKilledMidWriteLeavesAWholeFile) {
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
  }
}

}  // namespace
}  // namespace kvr
