#include "platform/qt/qt_serial_port.h"

namespace kvr {

QtSerialPort::QtSerialPort(const PortMap& ports) : ports_(ports) {
  QObject::connect(&port_, &QSerialPort::readyRead, [this] {
    if (handler_) handler_();
  });
}

bool QtSerialPort::SelectPort(int number) {
  const std::string target = ports_.Target(number);
  if (target.empty() || port_.isOpen()) return false;
  port_.setPortName(QString::fromStdString(target));
  return true;
}

bool QtSerialPort::ApplyParameters() {
  return port_.setBaudRate(baud_) && port_.setDataBits(QSerialPort::Data8) &&
         port_.setParity(QSerialPort::NoParity) && port_.setStopBits(QSerialPort::OneStop) &&
         port_.setFlowControl(QSerialPort::NoFlowControl);
}

bool QtSerialPort::SetParameters(int baud) {
  if (baud <= 0) return false;
  baud_ = baud;
  // An open port takes them at once; a closed one when it opens.
  return ApplyParameters();
}

bool QtSerialPort::Open() {
  if (port_.isOpen()) return false;
  if (!port_.open(QIODevice::ReadWrite)) {
    port_.clearError();
    return false;
  }
  if (!ApplyParameters()) {
    port_.close();
    return false;
  }
  return true;
}

void QtSerialPort::Close() {
  if (port_.isOpen()) port_.close();
}

bool QtSerialPort::ClearInput() {
  if (!port_.isOpen()) return false;
  return port_.clear(QSerialPort::Input);
}

bool QtSerialPort::ClearOutput() {
  if (!port_.isOpen()) return false;
  // Every write is handed to the line at once; only what is still queued here is discarded, so
  // a frame just written (the stop command) is not taken back from the line.
  if (port_.bytesToWrite() > 0) return port_.clear(QSerialPort::Output);
  return true;
}

std::size_t QtSerialPort::BytesWaiting() const {
  return port_.isOpen() ? static_cast<std::size_t>(port_.bytesAvailable()) : 0;
}

Bytes QtSerialPort::ReadAll() {
  if (!port_.isOpen()) return {};
  const QByteArray data = port_.readAll();
  return Bytes(data.begin(), data.end());
}

bool QtSerialPort::Write(const Bytes& bytes) {
  if (!port_.isOpen()) return false;
  const auto size = static_cast<qint64>(bytes.size());
  if (port_.write(reinterpret_cast<const char*>(bytes.data()), size) != size) return false;
  port_.flush();
  return true;
}

void QtSerialPort::SetDataReceivedHandler(std::function<void()> handler) {
  handler_ = std::move(handler);
}

}  // namespace kvr
