// The ISP demo as built for a chip, running in the 8051 simulator: its protocol, its flash
// accesses, its line settings and pins, and kvr-isp talking to it over a pseudo-terminal.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <fstream>
#include <memory>

#include "ispdemo/isp_demo_builder.h"
#include "s51_demo.h"

namespace kvr::isp::test {
namespace {

int Parity(std::uint8_t byte) {
  return static_cast<int>(std::bitset<8>(byte).count() & 1);
}

class S51DemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (S51Demo::Find().empty())
      GTEST_SKIP() << "s51 (Debian package sdcc-ucsim) is not installed: the demo cannot run";
  }

  // VXA05H at 11.0592 MHz and 38400 baud: the demo lies at F800 and erases 124 sectors.
  void StartDemo(IspDemoParameters p, S51Demo::Watch watch) {
    p.crystal = "11.0592";
    p.baud = "38400";
    p.model = "VXA05H";
    p.ispEnd = p.userEnd = 0xFBFF;
    p.apEnd = 0x7FFF;
    watch.parity = p.parity;
    const auto built = BuildIspDemo(p, *buffer);
    ASSERT_FALSE(built.failed) << built.message;
    std::string error;
    ASSERT_TRUE(demo.Start(*buffer, 0xF800, watch, error)) << error;
  }

  std::vector<S51Demo::Event> EventsOf(int reg) {
    std::vector<S51Demo::Event> of;
    for (const auto& e : demo.TakeEvents())
      if (e.reg == reg) of.push_back(e);
    return of;
  }

  std::unique_ptr<ImageBufferArray> buffer = std::make_unique<ImageBufferArray>();
  S51Demo demo;
};

const Bytes kIdentity = {0x40, 0x05, 0x10, 124, 0xF8, 64};

TEST_F(S51DemoTest, EightBitFramesIdentifyEraseProgramReadAndRefusals) {
  IspDemoParameters p;
  p.parity = false;
  StartDemo(p, {});

  EXPECT_EQ(demo.Exchange(EncodeRequest(Command::Identify)), EncodeAnswer(1, 0, kIdentity));
  auto events = demo.TakeEvents();
  ASSERT_FALSE(events.empty());
  // Timer 2 clocks the UART from the reload FFF7h; mode 1, 8-bit frames.
  EXPECT_EQ(events[0].reg, 0xc8);
  EXPECT_EQ(events[0].values[0], 0x34);
  EXPECT_EQ(events[0].values[2], 0xF7);
  EXPECT_EQ(events[0].values[3], 0xFF);
  EXPECT_EQ(events[1].reg, 0x98);
  EXPECT_EQ(events[1].values[0] & 0xC0, 0x40);

  EXPECT_EQ(demo.Exchange(EncodeRequest(Command::Erase)), EncodeAnswer(2, 0, {124}));
  auto triggers = EventsOf(0xe2);
  ASSERT_EQ(triggers.size(), 124u);
  for (std::size_t i = 0; i < triggers.size(); ++i) {
    // data, address high, address low, command, trigger, control (wait value 81h)
    EXPECT_EQ(triggers[i].values,
              (Bytes{0xFF, static_cast<std::uint8_t>(2 * i), 0x00, 0x03, 0xA5, 0x81}))
        << "sector " << i;
  }

  const Bytes data = {0x12, 0x34, 0x00, 0xFF, 0x80};
  Bytes program = {0x01, 0x00};
  program.insert(program.end(), data.begin(), data.end());
  EXPECT_EQ(demo.Exchange(EncodeRequest(Command::Program, program)), EncodeAnswer(3, 0));
  triggers = EventsOf(0xe2);
  ASSERT_EQ(triggers.size(), data.size());
  for (std::size_t i = 0; i < data.size(); ++i)
    EXPECT_EQ(triggers[i].values,
              (Bytes{data[i], 0x01, static_cast<std::uint8_t>(i), 0x02, 0xA5, 0x81}));

  EXPECT_EQ(demo.Exchange(EncodeRequest(Command::Read, {0x00, 0xFF, 7})),
            EncodeAnswer(4, 0, {0x00, 0xFF, 0xFF, 0x12, 0x34, 0x00, 0xFF, 0x80, 0xFF}));

  // Refused, never executed: a damaged frame, an address reaching the demo, a bad length, an
  // unknown command, a frame that stops short.
  Bytes damaged = EncodeRequest(Command::Program, program);
  damaged[4] ^= 0x01;
  EXPECT_EQ(demo.Exchange(damaged), EncodeAnswer(3, 0x01));
  EXPECT_EQ(demo.Exchange(EncodeRequest(Command::Program, {0xF7, 0xFF, 0x00, 0x00})),
            EncodeAnswer(3, 0x04));
  EXPECT_EQ(demo.Exchange(EncodeRequest(Command::Erase, {0x00})), EncodeAnswer(2, 0x03));
  EXPECT_EQ(demo.Exchange(EncodeRequest(static_cast<Command>(0x09))), EncodeAnswer(9, 0x02));
  EXPECT_EQ(demo.Exchange({0xA5, 0x03, 0x10, 0x00}), EncodeAnswer(3, 0x09));
  EXPECT_TRUE(EventsOf(0xe2).empty());

  // Programming over programmed bytes reads back different and names the address.
  EXPECT_EQ(demo.Exchange(EncodeRequest(Command::Program, {0x01, 0x00, 0xFF})),
            EncodeAnswer(3, 0x05, {0x01, 0x00}));
}

TEST_F(S51DemoTest, NineBitFramesCarryEvenParity) {
  IspDemoParameters p;
  p.parity = true;
  StartDemo(p, {});
  EXPECT_EQ(demo.Exchange(EncodeRequest(Command::Identify)), EncodeAnswer(1, 0, kIdentity));
  int sent = 0;
  for (const auto& e : EventsOf(0x98)) {
    EXPECT_EQ(e.values[0] & 0xC0, 0xC0);  // mode 3: 9-bit frames
    EXPECT_EQ((e.values[0] >> 3) & 1, Parity(e.values[1])) << "byte " << int(e.values[1]);
    ++sent;
  }
  EXPECT_EQ(sent, 12);

  // The simulator gives a received EEh the wrong ninth bit: the frame is refused.
  EXPECT_EQ(demo.Exchange(EncodeRequest(Command::Program, {0x02, 0x00, 0xEE})),
            EncodeAnswer(3, 0x08));
  EXPECT_TRUE(EventsOf(0xe2).empty());
}

TEST_F(S51DemoTest, WatchdogTogglesAndDirectionPinFramesEachAnswer) {
  IspDemoParameters p;
  p.parity = false;
  p.watchdog = true;
  p.watchdogPort = "P1";
  p.watchdogBit = "7";
  p.rs485 = true;
  p.rs485Port = "P3";
  p.rs485Bit = "5";
  StartDemo(p, {.feed = true, .port3 = true});
  demo.RunUntil([](const auto& events) {
    return std::count_if(events.begin(), events.end(), [](auto& e) { return e.reg == 0x90; }) >= 6;
  });
  auto feeds = EventsOf(0x90);
  ASSERT_GE(feeds.size(), 6u);
  for (std::size_t i = 1; i < feeds.size(); ++i)
    EXPECT_NE(feeds[i].values[0] & 0x80, feeds[i - 1].values[0] & 0x80);

  EXPECT_EQ(demo.Exchange(EncodeRequest(Command::Identify)), EncodeAnswer(1, 0, kIdentity));
  // P3.5 high while the answer goes out, low again once it is out. TI rises as the last byte's
  // stop bit begins: the pin stays until that bit (32 x 9 clocks at 38400 baud) has left.
  std::string order;
  long long lastTi = -1, receiveAgain = -1;
  for (const auto& e : demo.TakeEvents()) {
    if (e.reg == 0xb0) order += (e.values[0] & 0x20) ? 'T' : 'R';
    if (e.reg == 0x98) order += 'b';
    if (e.reg == 0x99 && receiveAgain < 0) lastTi = e.clks;
    if (e.reg == 0xb0 && receiveAgain < 0 && (e.values[0] & 0x20) == 0) receiveAgain = e.clks;
  }
  EXPECT_EQ(order, "TT" + std::string(12, 'b') + "RR");
  ASSERT_GE(lastTi, 0);
  EXPECT_GE(receiveAgain - lastTi, 32 * 9);
}

// 8-bit frames: a pseudo-terminal refuses a parity setting (the 9-bit frames are checked above).
TEST_F(S51DemoTest, KvrIspProgramsVerifiesAndRunsTheApplication) {
  IspDemoParameters p;
  p.parity = false;
  // Only what the test looks at: every stop slows the simulation, and kvr-isp waits in real time.
  StartDemo(p, {.sent = false, .port1 = true});

  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string slave = ptsname(master);
  // Held open for the whole test so the relay never sees the line drop between commands.
  const int keep = open(slave.c_str(), O_RDWR | O_NOCTTY);
  termios raw{};
  tcgetattr(keep, &raw);
  cfmakeraw(&raw);
  tcsetattr(keep, TCSANOW, &raw);

  // The application: MOV P1,#5Ah; SJMP $, and a table behind it.
  const std::string file = ::testing::TempDir() + "isp_app.hex";
  std::ofstream(file) << ":0500000075905A80FE1E\n"
                         ":020000040000FA\n"
                         ":04010000DEADBEEFC3\n"
                         ":00000001FF\n";
  auto kvrIsp = [&](std::vector<std::string> args, std::string& out) {
    int pipeFds[2];
    EXPECT_EQ(pipe(pipeFds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(pipeFds[1], 1);
      dup2(pipeFds[1], 2);
      close(pipeFds[0]);
      std::vector<std::string> all = {KVR_ISP, "--port", slave, "--baud", "38400",
                                      // The simulated chip runs slower than a real one when
                                      // the machine is busy.
                                      "--wait-ms", "5000"};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (auto& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(KVR_ISP, argv.data());
      _exit(127);
    }
    close(pipeFds[1]);
    out = demo.RelayWhile(master, pipeFds[0], 60000);
    close(pipeFds[0]);
    int status = -1;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };

  std::string out;
  ASSERT_EQ(kvrIsp({"program", file}, out), 0) << out;
  EXPECT_NE(out.find("ISP demo 1.0 on model 4005 at F800: erase clears 0000-F7FF (124 sectors)"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Verified 9 bytes, 0000-0103"), std::string::npos) << out;
  ASSERT_EQ(kvrIsp({"verify", file}, out), 0) << out;
  demo.TakeEvents();
  ASSERT_EQ(kvrIsp({"run"}, out), 0) << out;
  EXPECT_NE(out.find("The application at 0000 is running"), std::string::npos) << out;
  // The application writes 5Ah to P1 at once; the demo never does.
  EXPECT_TRUE(demo.RunUntil([](const auto& events) {
    return std::any_of(events.begin(), events.end(),
                       [](auto& e) { return e.reg == 0x90 && e.values[0] == 0x5A; });
  }));

  // No demo answers any more: the tool says so and fails.
  EXPECT_EQ(kvrIsp({"identify"}, out), 1);
  EXPECT_NE(out.find("Failed: identify: no answer"), std::string::npos) << out;
  close(keep);
  close(master);
}

}  // namespace
}  // namespace kvr::isp::test
