#include "simulator/pty_server.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>

#include <fcntl.h>
#include <unistd.h>

// Windows has no pseudo-terminals: there the server opens nothing and says so, and only the
// in-process simulator answers (the tests, the virtual platform).
#ifndef _WIN32
#include <poll.h>
#include <termios.h>
#if defined(__APPLE__) || defined(__FreeBSD__) || defined(__OpenBSD__) || defined(__NetBSD__)
#include <util.h>
#else
#include <pty.h>
#endif
#endif

namespace kvr::sim {

namespace {

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

#ifndef _WIN32
// Replies nobody reads pile up once the pseudo-terminal is full; beyond this they are dropped.
constexpr std::size_t kMaxQueuedBytes = 1 << 20;

std::int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string ErrnoText(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

bool SetFlags(int fd) {
  const int fl = fcntl(fd, F_GETFL);
  const int fd_flags = fcntl(fd, F_GETFD);
  return fl >= 0 && fd_flags >= 0 && fcntl(fd, F_SETFL, fl | O_NONBLOCK) == 0 &&
         fcntl(fd, F_SETFD, fd_flags | FD_CLOEXEC) == 0;
}

struct Outgoing {
  std::int64_t dueUs;
  Bytes bytes;
  std::size_t sent = 0;
};
#endif

}  // namespace

PtyServer::PtyServer(WriterConfig config) : simulator_(std::move(config)) {
  simulator_.SetFrameObserver([this](const Bytes& frame) {
    // Runs inside Receive(), so mutex_ is held.
    if (log_ != nullptr) *log_ << ToHexLine(frame) << std::endl;
  });
}

PtyServer::~PtyServer() {
  Stop();
  CloseFd(master_);
  CloseFd(slave_);
  CloseFd(wakeRead_);
  CloseFd(wakeWrite_);
}

bool PtyServer::Open(std::string* error) {
  auto fail = [&](const std::string& what) {
    if (error != nullptr) *error = what;
    CloseFd(master_);
    CloseFd(slave_);
    CloseFd(wakeRead_);
    CloseFd(wakeWrite_);
    path_.clear();
    return false;
  };
  if (master_ >= 0) return fail("the pseudo-terminal is already open");
#ifdef _WIN32
  return fail("there are no pseudo-terminals on Windows");
#else
  if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return fail(ErrnoText("openpty"));
  // Raw before anyone else opens the slave: no echo, no line editing, no CR/LF mangling.
  termios tio{};
  if (tcgetattr(slave_, &tio) != 0) return fail(ErrnoText("tcgetattr"));
  cfmakeraw(&tio);
  cfsetispeed(&tio, B115200);
  cfsetospeed(&tio, B115200);
  if (tcsetattr(slave_, TCSANOW, &tio) != 0) return fail(ErrnoText("tcsetattr"));

  std::array<char, 256> name{};
  if (ttyname_r(slave_, name.data(), name.size()) != 0) return fail("ttyname_r failed");
  path_ = name.data();

  int pipeFds[2];
  if (pipe(pipeFds) != 0) return fail(ErrnoText("pipe"));
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  if (!SetFlags(master_) || !SetFlags(slave_) || !SetFlags(wakeRead_) || !SetFlags(wakeWrite_)) {
    return fail(ErrnoText("fcntl"));
  }
  return true;
#endif
}

void PtyServer::Fail(const std::string& what) {
  const std::lock_guard lock(mutex_);
  error_ = what;
}

void PtyServer::Serve() {
  if (master_ < 0) {
    Fail("the pseudo-terminal is not open");
    return;
  }
#ifndef _WIN32
  std::deque<Outgoing> queue;
  std::size_t queuedBytes = 0;
  std::array<std::uint8_t, 4096> buffer{};
  auto enqueue = [&](std::vector<Transmission> replies, std::int64_t at) {
    for (auto& t : replies) {
      if (queuedBytes + t.bytes.size() > kMaxQueuedBytes) continue;
      queuedBytes += t.bytes.size();
      queue.push_back({at + t.delayUs, std::move(t.bytes)});
    }
  };
  while (true) {
    bool blocked = false;  // the pseudo-terminal takes no more bytes for now
    const std::int64_t now = NowUs();
    {
      // A writer that talks on its own (streaming) keeps talking while nobody writes to it.
      const std::lock_guard lock(mutex_);
      if (!peer_) enqueue(simulator_.Unprompted(now), now);
    }
    while (!queue.empty() && queue.front().dueUs <= now) {
      Outgoing& out = queue.front();
      const ssize_t n = write(master_, out.bytes.data() + out.sent, out.bytes.size() - out.sent);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        blocked = true;
        break;
      }
      if (n < 0) return Fail(ErrnoText("write"));
      out.sent += static_cast<std::size_t>(n);
      if (out.sent == out.bytes.size()) {
        queuedBytes -= out.bytes.size();
        queue.pop_front();
      }
    }

    // To the microsecond: a millisecond's rounding on every reply would add up over a run.
    timespec timeout{};
    const timespec* wait = nullptr;
    if (!queue.empty() && !blocked) {
      const std::int64_t us = std::clamp<std::int64_t>(queue.front().dueUs - now, 0, 60'000'000);
      timeout.tv_sec = static_cast<time_t>(us / 1'000'000);
      timeout.tv_nsec = static_cast<long>(us % 1'000'000 * 1000);
      wait = &timeout;
    }
    std::array<pollfd, 2> fds{};
    fds[0] = {master_, static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0};
    fds[1] = {wakeRead_, POLLIN, 0};
    if (ppoll(fds.data(), fds.size(), wait, nullptr) < 0) {
      if (errno == EINTR) continue;
      return Fail(ErrnoText("poll"));
    }
    if (fds[1].revents != 0) {
      while (read(wakeRead_, buffer.data(), buffer.size()) > 0) {
      }
      return;
    }
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;

    const ssize_t n = read(master_, buffer.data(), buffer.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    // With our own slave fd open this does not happen; leave rather than spin on it.
    if (n <= 0) return Fail(n == 0 ? "the pseudo-terminal closed" : ErrnoText("read"));
    const std::int64_t received = NowUs();
    std::vector<Transmission> replies;
    {
      const std::lock_guard lock(mutex_);
      replies = peer_ ? peer_(buffer.data(), static_cast<std::size_t>(n), received)
                      : simulator_.Receive(buffer.data(), static_cast<std::size_t>(n), received);
    }
    enqueue(std::move(replies), received);
  }
#endif
}

void PtyServer::Start() {
  const std::lock_guard lock(threadMutex_);
  if (thread_.joinable()) return;
  thread_ = std::thread([this] { Serve(); });
}

void PtyServer::Stop() {
  if (wakeWrite_ >= 0) {
    const std::uint8_t wake = 1;
    // A full pipe already holds a wake-up.
    while (write(wakeWrite_, &wake, 1) < 0 && errno == EINTR) {
    }
  }
  const std::lock_guard lock(threadMutex_);
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

std::vector<Bytes> PtyServer::Frames() const {
  const std::lock_guard lock(mutex_);
  return simulator_.ReceivedFrames();
}

void PtyServer::SetFrameLog(std::ostream* out) {
  const std::lock_guard lock(mutex_);
  log_ = out;
}

void PtyServer::Configure(const std::function<void(WriterConfig&)>& change) {
  const std::lock_guard lock(mutex_);
  change(simulator_.Config());
}

void PtyServer::Access(const std::function<void(WriterSimulator&)>& use) {
  const std::lock_guard lock(mutex_);
  use(simulator_);
}

void PtyServer::SetPeer(Peer peer) {
  const std::lock_guard lock(mutex_);
  peer_ = std::move(peer);
}

std::string PtyServer::Error() const {
  const std::lock_guard lock(mutex_);
  return error_;
}

}  // namespace kvr::sim
