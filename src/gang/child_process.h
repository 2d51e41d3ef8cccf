#pragma once

// Starting and ending the line's processes (POSIX).

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace kvr::gang {

struct ChildLaunch {
  std::string program;  // a path, or a name looked up in PATH
  std::vector<std::string> args;
  int stdoutFd = -1;  // -1: /dev/null
  int stderrFd = -1;  // -1: /dev/null
  int statusFd = -1;  // when given, descriptor 3 of the child
};

// Starts a child in a process group of its own, so that a Ctrl-C on the terminal reaches only
// the supervisor, which stops the stations in order. On Linux the child is sent SIGTERM when
// the supervisor dies. Its pid, or -1 and the reason.
pid_t StartChild(const ChildLaunch& child, std::string* error);

struct PipeEnds {
  int read = -1;
  int write = -1;
};
// A pipe whose ends are not inherited, its read end not blocking; false when none was made.
bool MakePipe(PipeEnds& ends);
void CloseFd(int& fd);

// Bytes that arrive in pieces, taken out a whole line at a time.
class LineBuffer {
 public:
  // Reads what `fd` holds now; false at its end (or on an error).
  bool ReadFrom(int fd);
  void Add(const char* bytes, std::size_t count) { pending_.append(bytes, count); }
  // The next whole line without its line break.
  std::optional<std::string> Next();
  // What is left of a last line without a line break.
  std::string Rest();

 private:
  std::string pending_;
  std::size_t start_ = 0;
};

// The folder of the running program, for the programs installed or built beside it.
std::string OwnFolder();
bool IsExecutable(const std::string& path);

// Opens /dev/null on any of descriptors 0 to 2 that is closed, so that no pipe lands there.
void KeepStandardDescriptorsOpen();

}  // namespace kvr::gang
