#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace kvr {

// SIGINT and SIGTERM turned into a call on the event loop, where the station may act on them
// (the command line's Stop button). Only one instance may exist at a time.
class QtStopSignals : public QObject {
 public:
  explicit QtStopSignals(std::function<void()> onSignal);
  ~QtStopSignals() override;
  QtStopSignals(const QtStopSignals&) = delete;
  QtStopSignals& operator=(const QtStopSignals&) = delete;

  bool Installed() const { return notifier_ != nullptr; }
  int Received() const { return received_; }

 private:
  std::function<void()> onSignal_;
  QSocketNotifier* notifier_ = nullptr;
  int received_ = 0;
};

}  // namespace kvr
