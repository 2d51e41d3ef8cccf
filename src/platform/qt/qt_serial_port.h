#pragma once

#include <QSerialPort>

#include "platform/port_map.h"
#include "platform/serial_port.h"

namespace kvr {

// The serial port on QSerialPort; COMn is resolved through the port map when it is selected.
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

 private:
  bool ApplyParameters();

  const PortMap& ports_;
  QSerialPort port_;
  int baud_ = 115200;
  std::function<void()> handler_;
};

}  // namespace kvr
