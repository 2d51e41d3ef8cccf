// The files whose survival matters, on the real file system: names are followed through their
// links, nothing but a regular file is read or written (and nothing blocks on what is not one),
// a read-only file is never replaced, and an append is whole or not there at all.

#include "platform/durable_file.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#undef ReplaceFile  // the system's, a macro; the station's is meant here
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <csignal>
#endif
#include <unistd.h>

#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>

#include "support/test_files.h"

namespace kvr {
namespace {

namespace fs = std::filesystem;

// Whether another holder has "<file>.lck" locked: asked without waiting, through a handle of
// its own, as another station would ask.
bool LockedElsewhere(const fs::path& file) {
  fs::path lock = file;
  lock += ".lck";
#ifdef _WIN32
  const HANDLE handle = CreateFileW(lock.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED whole{};
  const bool taken = !LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                                 MAXDWORD, MAXDWORD, &whole);
  CloseHandle(handle);  // also drops a lock it got
  return taken;
#else
  const int fd = ::open(lock.c_str(), O_RDWR);
  if (fd < 0) return false;
  const bool taken = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
  ::close(fd);
  return taken;
#endif
}

class DurableFileTest : public ::testing::Test {
 protected:
  DurableFileTest()
      : dir_(fs::temp_directory_path() /
             ("kvr-durable-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    test::RemoveFolder(dir_);
    fs::create_directories(dir_);
  }
  ~DurableFileTest() override { test::RemoveFolder(dir_); }

  fs::path Write(const std::string& name, const std::string& content) {
    std::ofstream(dir_ / name, std::ios::binary) << content;
    return dir_ / name;
  }
  static std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::size_t Entries() const {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }

  fs::path dir_;
};

// Held, the lock keeps other stations out; let go, it is theirs.
TEST_F(DurableFileTest, ALockKeepsOthersOutUntilItsHolderLetsGo) {
  const fs::path file = dir_ / "line.ini";
  {
    const FileLock lock(file);
    ASSERT_TRUE(lock.Held()) << lock.Error();
    EXPECT_TRUE(LockedElsewhere(file));
  }
  EXPECT_FALSE(LockedElsewhere(file));
}

#ifndef _WIN32
TEST_F(DurableFileTest, NamesStandForTheFileAtTheEndOfTheirLinks) {
  const fs::path real = Write("line.ini", "old");
  fs::create_directories(dir_ / "sub");
  fs::create_symlink("line.ini", dir_ / "via");
  fs::create_symlink("../via", dir_ / "sub" / "via2");
  EXPECT_EQ(ResolveLinks(dir_ / "sub" / "via2"), dir_ / "sub" / ".." / "line.ini");

  ASSERT_TRUE(ReplaceFile(dir_ / "sub" / "via2", "new", TempName::Locked).Done());
  EXPECT_EQ(Contents(real), "new");
  EXPECT_TRUE(fs::is_symlink(dir_ / "via")) << "the link stays a link";
  EXPECT_TRUE(fs::is_symlink(dir_ / "sub" / "via2"));
  std::string read;
  ASSERT_TRUE(ReadWholeFile(dir_ / "sub" / "via2", 100, read).Done());
  EXPECT_EQ(read, "new");

  // A lock taken through a link is the real file's: one taken through its own name waits.
  {
    const FileLock viaLink(ResolveLinks(dir_ / "via"));
    ASSERT_TRUE(viaLink.Held());
    EXPECT_TRUE(LockedElsewhere(real));
  }

  // A link to a file not yet made makes it where the link points.
  fs::create_symlink("later.csv", dir_ / "report");
  AppendFile report(dir_ / "report");
  ASSERT_TRUE(report.Opened().Done()) << report.Opened().reason;
  ASSERT_TRUE(report.Append("a\n").Done());
  EXPECT_EQ(Contents(dir_ / "later.csv"), "a\n");
  EXPECT_TRUE(fs::is_symlink(dir_ / "report"));
}

#endif

// Folders, FIFOs, sockets, devices and read-only files, named directly or through a link:
// refused before anything is opened or made beside them, and left as they were.
TEST_F(DurableFileTest, OnlyARegularFileIsReadOrWritten) {
  fs::create_directories(dir_ / "folder");
  const fs::path readOnly = Write("read-only.csv", "kept\n");
  fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read);
  struct Case {
    fs::path name;
    FileRefusal refusal;
    std::string reason;
  };
  std::vector<Case> cases = {{dir_ / "folder", FileRefusal::Folder, "it is a folder"},
                             {readOnly, FileRefusal::ReadOnly, "it is read-only"}};
#ifdef _WIN32
  // Names the system keeps for its devices, in any folder and with any extension: the C library
  // calls them missing, and opening one opens the device (COM9.bin is a serial port).
  for (const char* device : {"NUL", "nul.csv", "COM9.bin", "LPT1.ini", "CON"})
    cases.push_back({dir_ / device, FileRefusal::NotRegular, "it is a device"});
#else
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0666), 0);
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = (dir_ / "socket").string();
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  fs::create_symlink("fifo", dir_ / "to-fifo");
  cases.push_back({dir_ / "fifo", FileRefusal::NotRegular, "it is a FIFO"});
  cases.push_back({dir_ / "to-fifo", FileRefusal::NotRegular, "it is a FIFO"});
  cases.push_back({dir_ / "socket", FileRefusal::NotRegular, "it is a socket"});
  // A device node of our own (the null device's numbers), never the system's.
  if (::mknod((dir_ / "device").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
    cases.push_back({dir_ / "device", FileRefusal::NotRegular, "it is a device"});
#endif
  const std::size_t entries = Entries();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name.string());
    const FileOutcome replaced = ReplaceFile(c.name, "new");
    EXPECT_EQ(replaced.refusal, c.refusal);
    EXPECT_EQ(replaced.reason, c.reason);
    EXPECT_EQ(CheckWritable(ResolveLinks(c.name)).refusal, c.refusal);
    AppendFile append(c.name);
    EXPECT_EQ(append.Opened().refusal, c.refusal);
    EXPECT_FALSE(append.Append("record\n").Done());
    std::string content = "stale";
    const FileOutcome read = ReadWholeFile(c.name, 1000, content);
    if (c.refusal == FileRefusal::ReadOnly) {
      EXPECT_TRUE(read.Done());
      EXPECT_EQ(content, "kept\n");
    } else {
      EXPECT_EQ(read.refusal, c.refusal);
      EXPECT_EQ(content, "");
    }
    EXPECT_EQ(Entries(), entries) << "something was made beside it";
  }
  EXPECT_EQ(Contents(readOnly), "kept\n");
#ifndef _WIN32
  EXPECT_TRUE(fs::is_fifo(dir_ / "fifo"));
  EXPECT_TRUE(fs::is_socket(dir_ / "socket"));
  ::close(sock);
#endif
}

TEST_F(DurableFileTest, ReadingAMissingOrOverlongFile) {
  std::string content = "stale";
  bool missing = false;
  ASSERT_TRUE(ReadWholeFile(dir_ / "none.ini", 100, content, &missing).Done());
  EXPECT_TRUE(missing);
  EXPECT_EQ(content, "");
  const fs::path big = Write("big.ini", std::string(101, 'x'));
  EXPECT_EQ(ReadWholeFile(big, 100, content, &missing).refusal, FileRefusal::TooLarge);
  EXPECT_FALSE(missing);
  EXPECT_EQ(content, "");
}

// A record is on the disk whole or not at all, and the next one starts on a line of its own.
TEST_F(DurableFileTest, AnAppendIsWholeOrNotThereAtAll) {
  const fs::path file = Write("report.csv", "header\nrecord 1\n");
  {
    AppendFile report(file);
    ASSERT_TRUE(report.Opened().Done());
    EXPECT_FALSE(report.Empty());
#ifndef _WIN32
    // The disk fills up in the middle of the record.
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit small{fs::file_size(file) + 10, limit.rlim_max};
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const FileOutcome full = report.Append("record 2 that does not fit\n");
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(full.refusal, FileRefusal::Failed);
    EXPECT_EQ(full.reason, "File too large");
    EXPECT_EQ(Contents(file), "header\nrecord 1\n") << "cut back to where it was";
#endif
    ASSERT_TRUE(report.Append("record 3\n").Done());
  }
  EXPECT_EQ(Contents(file), "header\nrecord 1\nrecord 3\n");

  // A line something else left unfinished (a writer cut off by a power cut) stays apart.
  std::ofstream(file, std::ios::app) << "broken";
  AppendFile again(file);
  ASSERT_TRUE(again.Append("record 4\n").Done());
  EXPECT_EQ(Contents(file), "header\nrecord 1\nrecord 3\nbroken\nrecord 4\n");
  AppendFile fresh(dir_ / "new.csv");
  EXPECT_TRUE(fresh.Empty());
}

// Another station reading the file (its settings, outside the lock) never stops a replacement,
// and sees the old file or the new one, whole. Each round it reads in a burst while the file is
// replaced once.
TEST_F(DurableFileTest, AFileIsReplacedWhileOthersReadIt) {
  const fs::path file = Write("line.ini", "0");
  constexpr int kRounds = 30;
  constexpr int kReadsPerRound = 20;
  std::mutex mutex;
  std::condition_variable changed;
  int started = 0;  // the round the replacing side began
  int read = 0;     // the last round the reading side finished
  int badReads = 0;
  std::thread reader([&] {
    for (int round = 1; round <= kRounds; ++round) {
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return started >= round; });
      }
      for (int i = 0; i < kReadsPerRound; ++i) {
        std::string content;
        if (!ReadWholeFile(file, 100, content).Done() ||
            (content != std::to_string(round - 1) && content != std::to_string(round)))
          ++badReads;
      }
      const std::lock_guard lock(mutex);
      read = round;
      changed.notify_all();
    }
  });
  int failed = 0;
  for (int round = 1; round <= kRounds; ++round) {
    {
      const std::lock_guard lock(mutex);
      started = round;
      changed.notify_all();
    }
    if (!ReplaceFile(file, std::to_string(round), TempName::Locked).Done()) ++failed;
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return read >= round; });
  }
  reader.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(badReads, 0);
  EXPECT_EQ(Contents(file), std::to_string(kRounds));
}

// A replacement keeps the file's permissions; under the lock, what a writer cut off left beside
// the file is its own to replace.
TEST_F(DurableFileTest, ReplacingKeepsPermissionsAndClearsWhatACutOffWriterLeft) {
  const fs::path file = Write("keep.ini", "old contents");
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  Write("keep.ini.new", "leftover");
  ASSERT_TRUE(ReplaceFile(file, "new", TempName::Locked).Done());
  EXPECT_EQ(Contents(file), "new");
#ifndef _WIN32
  EXPECT_EQ(fs::status(file).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
  EXPECT_EQ(Entries(), 1U);
}

}  // namespace
}  // namespace kvr
