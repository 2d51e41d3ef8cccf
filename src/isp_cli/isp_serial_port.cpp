#include "isp_cli/isp_serial_port.h"

#include "platform/qt/qt_serial_port.h"

namespace kvr {

IspSerialPort::IspSerialPort() {
  QObject::connect(&port_, &QSerialPort::readyRead, [this] {
    if (handler_) handler_();
  });
}

bool IspSerialPort::OpenLine(const std::string& name, int baud, bool evenParity) {
  port_.setPortName(QString::fromStdString(name));
  if (!port_.open(QIODevice::ReadWrite)) return false;
  if (port_.setBaudRate(baud) && port_.setDataBits(QSerialPort::Data8) &&
      port_.setParity(evenParity ? QSerialPort::EvenParity : QSerialPort::NoParity) &&
      port_.setStopBits(QSerialPort::OneStop) && port_.setFlowControl(QSerialPort::NoFlowControl))
    return true;
  port_.close();
  return false;
}

void IspSerialPort::Close() {
  if (port_.isOpen()) port_.close();
}

bool IspSerialPort::ClearInput() {
  return port_.isOpen() && port_.clear(QSerialPort::Input);
}

bool IspSerialPort::ClearOutput() {
  return port_.isOpen() && port_.clear(QSerialPort::Output);
}

std::size_t IspSerialPort::BytesWaiting() const {
  return port_.isOpen() ? static_cast<std::size_t>(port_.bytesAvailable()) : 0;
}

Bytes IspSerialPort::ReadAll() {
  return ReadAvailable(port_);
}

bool IspSerialPort::Write(const Bytes& bytes) {
  return WriteNow(port_, bytes);
}

void IspSerialPort::SetDataReceivedHandler(std::function<void()> handler) {
  handler_ = std::move(handler);
}

}  // namespace kvr
