#pragma once

#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "simulator/writer_simulator.h"

namespace kvr::sim {

// The writer simulator behind a pseudo-terminal, so the station can open it like a serial port.
class PtyServer {
 public:
  explicit PtyServer(WriterConfig config = {});
  ~PtyServer();  // stops and joins a running thread
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  // Creates the pseudo-terminal, its slave in raw mode at once.
  bool Open(std::string* error);
  // The slave path, e.g. /dev/pts/5; empty before Open().
  const std::string& DevicePath() const { return path_; }

  // Poll loop until Stop(), or until the pseudo-terminal fails (see Error()); blocks.
  // A Stop() issued before Serve() starts ends it at once.
  void Serve();
  void Start();  // Serve() on a thread of its own
  void Stop();   // thread-safe; joins the thread Start() made

  std::vector<Bytes> Frames() const;  // thread-safe copy of the received frames
  // Each received frame as one line of hex bytes, flushed per line; nullptr: no log.
  void SetFrameLog(std::ostream* out);
  void Configure(const std::function<void(WriterConfig&)>& change);  // thread-safe
  // Thread-safe access to the whole simulator: its chip, its fault record.
  void Access(const std::function<void(WriterSimulator&)>& use);
  // Why Serve() ended by itself; empty when it did not.
  std::string Error() const;

  // Another protocol peer answers on the line instead of the writer simulator (the offline
  // board); it is called under the same lock as the simulator.
  using Peer =
      std::function<std::vector<Transmission>(const std::uint8_t*, std::size_t, std::int64_t)>;
  void SetPeer(Peer peer);

 private:
  void Fail(const std::string& what);

  mutable std::mutex mutex_;  // guards simulator_, peer_, log_ and error_
  WriterSimulator simulator_;
  Peer peer_;
  std::ostream* log_ = nullptr;
  std::string error_;

  std::string path_;
  int master_ = -1;
  int slave_ = -1;  // held open so the master never sees a hang-up between station sessions
  int wakeRead_ = -1;
  int wakeWrite_ = -1;

  std::mutex threadMutex_;
  std::thread thread_;
};

}  // namespace kvr::sim
