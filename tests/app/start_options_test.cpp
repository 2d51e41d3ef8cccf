#include <gtest/gtest.h>

#include "app/start_options.h"
#include "platform/virtual/virtual_platform.h"

namespace kvr {
namespace {

TEST(StartOptions, CommandLineOptions) {
  const StartOptions options = ParseStartOptions({"--port",
                                                  "COM3",
                                                  "--function",
                                                  "Read MCU ID",
                                                  "--yes",
                                                  "--log-out",
                                                  "run.log",
                                                  "--simulate",
                                                  "--port-map",
                                                  "COM2=/dev/ttyUSB7",
                                                  "--settings",
                                                  "/tmp/s.ini",
                                                  "--model",
                                                  "VXB03H",
                                                  "--list-model",
                                                  "VXE01L",
                                                  "--show-extra-families",
                                                  "--sim-chip",
                                                  "10f4",
                                                  "--line-db",
                                                  "postgresql://kvr@db:5432/line",
                                                  "--line",
                                                  "VXA01H board"},
                                                 Program::CommandLine);
  EXPECT_TRUE(options.errors.empty());
  EXPECT_EQ(options.port, "COM3");
  EXPECT_EQ(options.function, "Read MCU ID");
  EXPECT_EQ(options.answer, true);
  EXPECT_EQ(options.logOut, "run.log");
  EXPECT_TRUE(options.simulate);
  EXPECT_EQ(options.portMap, std::vector<std::string>{"COM2=/dev/ttyUSB7"});
  EXPECT_EQ(options.settingsFile, "/tmp/s.ini");
  EXPECT_EQ(options.treeModel, "VXB03H");
  EXPECT_EQ(options.listModel, "VXE01L");
  EXPECT_TRUE(options.showExtraFamilies);
  EXPECT_EQ(options.simulatedChip, 0x10F4);
  EXPECT_EQ(options.lineDatabase, "postgresql://kvr@db:5432/line");
  EXPECT_EQ(options.lineName, "VXA01H board");
  // A password in the URL would end up in logs and scripts: refused, and never repeated.
  const StartOptions password =
      ParseStartOptions({"--line-db", "postgresql://kvr:secret@db/line"}, Program::Window);
  ASSERT_EQ(password.errors.size(), 1U);
  EXPECT_EQ(password.errors[0].find("secret"), std::string::npos) << password.errors[0];
  EXPECT_EQ(ParseStartOptions({"--line", ""}, Program::CommandLine).errors.size(), 1U);
  for (const char* bad : {"F1", "F1011", "G101", ""}) {
    const StartOptions chip = ParseStartOptions({"--sim-chip", bad}, Program::Window);
    EXPECT_EQ(chip.errors.size(), 1U) << bad;
  }
}

TEST(StartOptions, TheWindowTakesOnlyItsOwn) {
  // A word that is no option is the FILE to open; one at most.
  const StartOptions window = ParseStartOptions({"--port", "fw.hex"}, Program::Window);
  EXPECT_EQ(window.errors, (std::vector<std::string>{"unknown option \"--port\" (see --help)"}));
  EXPECT_EQ(window.load, "fw.hex");
  EXPECT_EQ(ParseStartOptions({"a.hex", "b.hex"}, Program::Window).errors,
            (std::vector<std::string>{"kvr-station opens one FILE, not 2"}));
  EXPECT_EQ(ParseStartOptions({"--port-map", "COM0=/dev/x"}, Program::Window).errors.size(), 1U);
  // A job names its image.
  EXPECT_EQ(ParseStartOptions({"--job", "line.kvrjob", "fw.hex"}, Program::Window).errors,
            (std::vector<std::string>{
                "kvr-station opens a FILE or a --job, not both: the job names its image"}));
  EXPECT_EQ(ParseStartOptions({"--locked"}, Program::Window).errors,
            (std::vector<std::string>{"--locked belongs to --job"}));
  const StartOptions production =
      ParseStartOptions({"--job", "line.kvrjob", "--locked"}, Program::Window);
  EXPECT_TRUE(production.errors.empty());
  EXPECT_TRUE(production.locked);
  const StartOptions verbose = ParseStartOptions({"-v", "--language=zh"}, Program::Window);
  EXPECT_TRUE(verbose.errors.empty());
  EXPECT_EQ(verbose.verbosity, Verbosity::Verbose);
  EXPECT_FALSE(verbose.english);
}

TEST(PortMap, DefaultsStoredOverridesAndOptionsInThatOrder) {
  MemorySettingsStore settings;
  settings.Write("KVR Programmer for VXAxx", "Ports", "COM2", "/dev/ttyS9");
  settings.Write("KVR Programmer for VXAxx", "Ports", "COM3", "/dev/ttyUSB5");
  StartOptions options;
  options.portMap = {"COM3=/dev/pts/4"};
  PortMap ports;
  ApplyPortOptions(ports, settings, options, "/dev/pts/9");
  EXPECT_EQ(ports.Target(1), "/dev/pts/9");
  EXPECT_EQ(ports.Target(2), "/dev/ttyS9");
  EXPECT_EQ(ports.Target(3), "/dev/pts/4");
  EXPECT_EQ(ports.Target(4), PortMap::DefaultTarget(4));
  EXPECT_EQ(ports.Target(0), "");
  EXPECT_EQ(ports.Target(9), "");
}

TEST(PortMap, PortNames) {
  EXPECT_EQ(PortMap::ParsePortName("COM1"), 1);
  EXPECT_EQ(PortMap::ParsePortName("com8"), 8);
  EXPECT_EQ(PortMap::ParsePortName("COM9"), 0);
  EXPECT_EQ(PortMap::ParsePortName("COM10"), 0);
  EXPECT_EQ(PortMap::ParsePortName("/dev/ttyUSB0"), 0);
  PortMap ports;
  EXPECT_FALSE(ports.ApplyOption("COM1="));
  EXPECT_FALSE(ports.ApplyOption("COM1"));
  EXPECT_TRUE(ports.ApplyOption("COM1=/dev/a=b"));
  EXPECT_EQ(ports.Target(1), "/dev/a=b");
}

}  // namespace
}  // namespace kvr
