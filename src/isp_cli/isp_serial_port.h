#pragma once

#include <QSerialPort>

#include <string>

#include "platform/serial_port.h"

namespace kvr {

// The line to a chip running the ISP demo: a device path or system port name, any baud rate,
// 8 data bits with even parity or none, one stop bit.
class IspSerialPort : public SerialPort {
 public:
  IspSerialPort();

  bool OpenLine(const std::string& name, int baud, bool evenParity);
  std::string ErrorText() const { return port_.errorString().toStdString(); }

  // The station's port list means nothing here: OpenLine names the port.
  bool SelectPort(int) override { return false; }
  bool SetParameters(int) override { return false; }
  bool Open() override { return false; }
  void Close() override;
  bool IsOpen() const override { return port_.isOpen(); }
  bool ClearInput() override;
  bool ClearOutput() override;
  std::size_t BytesWaiting() const override;
  Bytes ReadAll() override;
  bool Write(const Bytes& bytes) override;
  void SetDataReceivedHandler(std::function<void()> handler) override;

 private:
  QSerialPort port_;
  std::function<void()> handler_;
};

}  // namespace kvr
