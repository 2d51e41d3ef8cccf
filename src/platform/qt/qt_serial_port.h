#pragma once

#include <QSerialPort>
#include <string>

#include "platform/port_map.h"
#include "platform/serial_port.h"

namespace kvr {

// What has arrived on an open port (nothing on a closed one).
Bytes ReadAvailable(QSerialPort& port);
// Hands `bytes` to the line at once; false when the port is closed or refuses them.
bool WriteNow(QSerialPort& port, const Bytes& bytes);

// The serial port on QSerialPort; COMn is resolved through the port map when it is selected.
// On Linux an opened port is asked for low-latency mode, and a port that fails under the station
// (its USB adapter pulled out) is closed and reported lost.
class QtSerialPort : public SerialPort {
 public:
  explicit QtSerialPort(const PortMap& ports);

  bool SelectPort(int number) override;
  bool SetParameters(int baud) override;
  bool Open() override;
  void Close() override;
  bool IsOpen() const override { return port_.isOpen(); }
  bool ClearInput() override;
  bool ClearOutput() override;
  std::size_t BytesWaiting() const override;
  Bytes ReadAll() override;
  bool Write(const Bytes& bytes) override;
  void SetDataReceivedHandler(std::function<void()> handler) override;
  OpenFailure LastOpenFailure() const override { return lastFailure_; }
  void SetLostHandler(std::function<void()> handler) override { lostHandler_ = std::move(handler); }

  // Told once, the first time a driver refuses low-latency mode: a sentence naming the device and
  // the reason.
  void SetLowLatencyNote(std::function<void(const std::string&)> note) {
    lowLatencyNote_ = std::move(note);
  }

 private:
  bool ApplyParameters();
  void OnError(QSerialPort::SerialPortError error);
  void AskForLowLatency();

  const PortMap& ports_;
  QSerialPort port_;
  std::string device_;
  int baud_ = 115200;
  std::function<void()> handler_;
  std::function<void()> lostHandler_;
  std::function<void(const std::string&)> lowLatencyNote_;
  bool lowLatencyNoted_ = false;
  OpenFailure lastFailure_;
  // Counts opens and closes, so that a loss reported late is not taken for the next opening's.
  unsigned session_ = 0;
  bool lossPending_ = false;
};

}  // namespace kvr
