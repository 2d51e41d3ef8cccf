#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "pty_test_io.h"
#include "test_bytes.h"

extern char** environ;

namespace kvr::sim {
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
    for (auto b = test::ReadFor(out, 1); !b.empty() && b[0] != '\n'; b = test::ReadFor(out, 1)) {
      line += static_cast<char>(b[0]);
    }
    return line;
  }

  // Waits for the output to end and reaps the child, killing it when it does not end.
  int ExitCode() {
    char buffer[256];
    pollfd p{out, POLLIN, 0};
    bool ended = false;
    while (!ended && poll(&p, 1, 5000) > 0) ended = read(out, buffer, sizeof buffer) <= 0;
    close(out);
    if (!ended) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  pid_t pid = -1;
  int out = -1;
};

TEST(WriterSimProgram, ServesUntilSigtermAndCleansUp) {
  const std::string frames = testing::TempDir() + "kvr_sim_frames.txt";
  const std::string link = testing::TempDir() + "kvr_sim_link";
  Child child({"--frames", frames, "--link", link, "--fault-count", "0", "--fault", "bad-end"});
  ASSERT_GT(child.pid, 0);
  const std::string path = child.ReadLine();
  ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;

  const int fd = test::OpenRaw(link);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(test::WriteAll(fd, test::kHandshake));
  EXPECT_EQ(test::ReadFor(fd, test::kAck.size()), test::kAck);
  close(fd);

  kill(child.pid, SIGTERM);
  EXPECT_EQ(child.ExitCode(), 0);
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
                                                       {"--bogus"}};
  for (const auto& args : cases) {
    Child child(args);
    ASSERT_GT(child.pid, 0);
    EXPECT_NE(child.ReadLine().find(args[0]), std::string::npos) << args[0];
    EXPECT_EQ(child.ExitCode(), 2) << args[0];
  }
}

}  // namespace
}  // namespace kvr::sim
