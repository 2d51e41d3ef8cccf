#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "pty_test_io.h"
#include "test_bytes.h"

extern char** environ;

namespace kvr::sim::test {
namespace {

// kvr-writer-sim with stdout and stderr on one pipe.
struct Child {
  explicit Child(std::vector<std::string> args) {
    args.insert(args.begin(), KVR_WRITER_SIM_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out = fds[0];
  }

  std::string ReadLine() {
    std::string line;
    for (auto b = ReadFor(out, 1); !b.empty() && b[0] != '\n'; b = ReadFor(out, 1)) {
      line += static_cast<char>(b[0]);
    }
    return line;
  }

  // Waits for the output to end, keeping it in `rest`, and reaps the child, killing it when it
  // does not end.
  int ExitCode() {
    char buffer[256];
    pollfd p{out, POLLIN, 0};
    bool ended = false;
    while (!ended && poll(&p, 1, 5000) > 0) {
      const ssize_t n = read(out, buffer, sizeof buffer);
      ended = n <= 0;
      if (n > 0) rest.append(buffer, static_cast<std::size_t>(n));
    }
    close(out);
    if (!ended) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  pid_t pid = -1;
  int out = -1;
  std::string rest;
};

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(WriterSimProgram, ServesUntilSigtermAndCleansUp) {
  const std::string frames = testing::TempDir() + "kvr_sim_frames.txt";
  const std::string link = testing::TempDir() + "kvr_sim_link";
  Child child(
      {"--frames", frames, "--link", link, "--fault-count", "0", "--fault", "bad-end", "-v"});
  ASSERT_GT(child.pid, 0);
  const std::string path = child.ReadLine();
  ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;

  const int fd = OpenRaw(link);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(WriteAll(fd, kHandshake));
  EXPECT_EQ(ReadFor(fd, kAck.size()), kAck);
  close(fd);

  kill(child.pid, SIGTERM);
  EXPECT_EQ(child.ExitCode(), 0);
  // -v: each received frame, besides the log.
  EXPECT_EQ(child.rest, "frame 80, 10 bytes: received\n");
  std::ifstream log(frames);
  std::string line;
  EXPECT_TRUE(std::getline(log, line) && line == "46 B9 6A 00 08 80 02 F0 E4 16") << line;
  struct stat st {};
  EXPECT_NE(lstat(link.c_str(), &st), 0) << "link left behind";
}

TEST(WriterSimProgram, BadOptionValuesExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {{"--fault", "nonsense"},
                                                       {"--version-byte", "1FF"},
                                                       {"--handshake-every", "0"},
                                                       {"--latency-us"},
                                                       {"--bogus"},
                                                       {"--random-faults", "1.5"},
                                                       {"--options", "FF"},
                                                       {"--options", "FF", "1FF"},
                                                       {"--flash-size", "0"},
                                                       {"--flash-size", "1000001"},
                                                       {"--ack", "long"},
                                                       {"--drop-nth", "0"},
                                                       {"--erase-ms", "-1"},
                                                       {"--late-ms", "-1"},
                                                       {"--stream-after", "x"},
                                                       {"--seed", "x"}};
  for (const auto& args : cases) {
    Child child(args);
    ASSERT_GT(child.pid, 0);
    EXPECT_NE(child.ReadLine().find(args[0]), std::string::npos) << args[0];
    EXPECT_EQ(child.ExitCode(), 2) << args[0];
  }
}

TEST(WriterSimProgram, AFlashImageIsServedAndTheFlashDumpedAtTheEnd) {
  const std::string image = testing::TempDir() + "kvr_sim_image.bin";
  const std::string dump = testing::TempDir() + "kvr_sim_dump.bin";
  std::remove(dump.c_str());
  const Bytes content = Pattern(0x4000, 5);
  WriteFile(image, content);
  Child child({"--flash-image", image, "--dump-flash", dump, "--flash-size", "8000", "--options",
               "FD", "FB", "--ack", "short", "--write-us", "100"});
  ASSERT_GT(child.pid, 0);
  const int fd = OpenRaw(child.ReadLine());
  ASSERT_GE(fd, 0);

  ASSERT_TRUE(WriteAll(fd, Hex("46 B9 6A 00 08 01 02 00 75 16")));
  EXPECT_EQ(ReadFor(fd, 8), Hex("68 00 08 01 FD FB 69 16"));
  ASSERT_TRUE(WriteAll(fd, Block(0x00, 0x3FFC, {}, 4)));
  EXPECT_EQ(ReadFor(fd, 16), ReplyFrame(0x00, Cat(Hex("00 00 3F FC 00 04"),
                                                  Bytes(content.end() - 4, content.end()))));
  const Bytes chunk = Pattern(128, 77);
  ASSERT_TRUE(WriteAll(fd, Block(0x04, 0x4000, chunk)));
  EXPECT_EQ(ReadFor(fd, 6), kAck);
  close(fd);

  EXPECT_EQ(ReadFile(dump), Bytes{}) << "written before the end";
  kill(child.pid, SIGTERM);
  EXPECT_EQ(child.ExitCode(), 0) << child.rest;
  Bytes expected(0x8000, 0xFF);
  std::ranges::copy(content, expected.begin());
  std::ranges::copy(chunk, expected.begin() + 0x4000);
  EXPECT_EQ(ReadFile(dump), expected);
  std::remove(image.c_str());
  std::remove(dump.c_str());
}

TEST(WriterSimProgram, FaultOptionsShapeTheAnswersAndAreReportedAtTheEnd) {
  Child child({"--no-blank-result", "--drop-nth", "2", "--dead-after", "3", "--scan-ms", "1"});
  ASSERT_GT(child.pid, 0);
  const int fd = OpenRaw(child.ReadLine());
  ASSERT_GE(fd, 0);
  // Reply 1, the blank check's acknowledge, comes without its result.
  ASSERT_TRUE(WriteAll(fd, kBlankCheck));
  EXPECT_EQ(ReadFor(fd, 16, 200), kAck);
  // Reply 2 (the version) is dropped, reply 3 sent; the fourth frame finds the line dead.
  ASSERT_TRUE(WriteAll(fd, Cat(kVersion, kHandshake)));
  EXPECT_EQ(ReadFor(fd, 13, 200), kAck);
  ASSERT_TRUE(WriteAll(fd, kHandshake));
  EXPECT_EQ(ReadFor(fd, 1, 200), Bytes{});
  close(fd);

  kill(child.pid, SIGTERM);
  EXPECT_EQ(child.ExitCode(), 0);
  EXPECT_EQ(child.rest, "kvr-writer-sim: injected faults: no reply 1, no blank result 1\n");
}

TEST(WriterSimProgram, UnusableFilesAreReportedBeforeServing) {
  const std::string image = testing::TempDir() + "kvr_sim_big.bin";
  WriteFile(image, Bytes(0x101, 0x00));
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--flash-image", testing::TempDir() + "kvr_no_such.bin"}, "cannot read"},
      {{"--flash-image", image, "--flash-size", "100"}, "is larger than the flash (100h bytes)"},
      {{"--dump-flash", testing::TempDir() + "kvr_no_dir/dump.bin"}, "cannot write"},
  };
  for (const auto& [args, message] : cases) {
    Child child(args);
    ASSERT_GT(child.pid, 0);
    const std::string line = child.ReadLine();
    EXPECT_NE(line.find(message), std::string::npos) << line;
    EXPECT_EQ(child.ExitCode(), 1) << line;
  }
  std::remove(image.c_str());
}

}  // namespace
}  // namespace kvr::sim::test
