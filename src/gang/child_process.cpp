#include "gang/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace kvr::gang {

namespace {

// In the forked child, before exec: only async-signal-safe calls from here on.
[[noreturn]] void ExecChild(const ChildLaunch& child, char* const* argv, int devNull, pid_t parent,
                            int errorPipe) {
  ::setpgid(0, 0);
#ifdef __linux__
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  // The supervisor may have gone before the request was made.
  if (::getppid() != parent) ::_exit(127);
#else
  (void)parent;
#endif
  // The supervisor's dispositions and blocked signals are its own.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGCHLD}) ::sigaction(signal, &action, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);

  ::dup2(devNull, STDIN_FILENO);
  ::dup2(child.stdoutFd >= 0 ? child.stdoutFd : devNull, STDOUT_FILENO);
  ::dup2(child.stderrFd >= 0 ? child.stderrFd : devNull, STDERR_FILENO);
  if (child.statusFd >= 0) {
    if (child.statusFd == 3)
      ::fcntl(3, F_SETFD, 0);  // dup2 onto itself would leave it closing on exec
    else
      ::dup2(child.statusFd, 3);
  }
  if (child.program.find('/') != std::string::npos)
    ::execv(child.program.c_str(), argv);
  else
    ::execvp(child.program.c_str(), argv);
  const int error = errno;
  (void)!::write(errorPipe, &error, sizeof error);
  ::_exit(127);
}

}  // namespace

pid_t StartChild(const ChildLaunch& child, std::string* error) {
  std::vector<std::string> words{child.program};
  words.insert(words.end(), child.args.begin(), child.args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  int errorPipe[2];
  if (devNull < 0 || ::pipe2(errorPipe, O_CLOEXEC) != 0) {
    if (error) *error = std::strerror(errno);
    if (devNull >= 0) ::close(devNull);
    return -1;
  }
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) ExecChild(child, argv.data(), devNull, parent, errorPipe[1]);
  const int forkError = errno;
  ::close(devNull);
  ::close(errorPipe[1]);
  if (pid < 0) {
    ::close(errorPipe[0]);
    if (error) *error = std::strerror(forkError);
    return -1;
  }
  // The pipe closes on a successful exec; otherwise it carries the reason.
  int execError = 0;
  ssize_t n = 0;
  while ((n = ::read(errorPipe[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
  }
  ::close(errorPipe[0]);
  if (n == static_cast<ssize_t>(sizeof execError)) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (error) *error = "cannot run " + child.program + ": " + std::strerror(execError);
    return -1;
  }
  // Also set from here, so that a signal sent right away finds the group.
  ::setpgid(pid, pid);
  return pid;
}

bool MakePipe(PipeEnds& ends) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
  ends.read = fds[0];
  ends.write = fds[1];
  return true;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool LineBuffer::ReadFrom(int fd) {
  char bytes[4096];
  for (;;) {
    const ssize_t n = ::read(fd, bytes, sizeof bytes);
    if (n > 0) {
      Add(bytes, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
}

std::optional<std::string> LineBuffer::Next() {
  const std::size_t end = pending_.find('\n', start_);
  if (end == std::string::npos) {
    // Keep only the unfinished line.
    pending_.erase(0, start_);
    start_ = 0;
    return std::nullopt;
  }
  std::string line = pending_.substr(start_, end - start_);
  start_ = end + 1;
  return line;
}

std::string LineBuffer::Rest() {
  std::string rest = pending_.substr(start_);
  pending_.clear();
  start_ = 0;
  return rest;
}

std::string OwnFolder() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

bool IsExecutable(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

void KeepStandardDescriptorsOpen() {
  for (int fd = 0; fd <= 2; ++fd)
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      // open gives the lowest free descriptor: this one.
      if (::open("/dev/null", O_RDWR) < 0) return;
    }
}

}  // namespace kvr::gang
