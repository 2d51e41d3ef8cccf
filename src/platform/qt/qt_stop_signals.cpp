#include "platform/qt/qt_stop_signals.h"

#include <QSocketNotifier>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace kvr {

#ifndef _WIN32
namespace {

// The write end the handler may touch: a signal handler can only write to a descriptor.
int g_signalWriteEnd = -1;

void OnStopSignal(int) {
  const int saved = errno;
  const char byte = 1;
  if (g_signalWriteEnd >= 0) (void)!::write(g_signalWriteEnd, &byte, 1);
  errno = saved;
}

}  // namespace
#endif

QtStopSignals::QtStopSignals(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
#ifndef _WIN32
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return;
  for (int end : ends) ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
  g_signalWriteEnd = ends[1];
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  notifier_ = new QSocketNotifier(ends[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this, readEnd = ends[0]] {
    char bytes[16];
    while (::read(readEnd, bytes, sizeof bytes) > 0) {
    }
    ++received_;
    if (onSignal_) onSignal_();
  });
#endif
}

QtStopSignals::~QtStopSignals() {
#ifndef _WIN32
  if (notifier_ == nullptr) return;
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  const int readEnd = static_cast<int>(notifier_->socket());
  delete notifier_;
  ::close(readEnd);
  ::close(g_signalWriteEnd);
  g_signalWriteEnd = -1;
#endif
}

}  // namespace kvr
