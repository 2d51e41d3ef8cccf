#include "platform/qt/qt_serial_port.h"

#include <QTimer>

#include "platform/qt/port_diagnosis.h"

namespace kvr {

namespace {

OpenRefusal RefusalOf(QSerialPort::SerialPortError error) {
  switch (error) {
    case QSerialPort::DeviceNotFoundError:
      return OpenRefusal::NotFound;
    case QSerialPort::PermissionError:
      return OpenRefusal::Denied;
    default:
      return OpenRefusal::Other;
  }
}

}  // namespace

Bytes ReadAvailable(QSerialPort& port) {
  if (!port.isOpen()) return {};
  const QByteArray data = port.readAll();
  return Bytes(data.begin(), data.end());
}

bool WriteNow(QSerialPort& port, const Bytes& bytes) {
  if (!port.isOpen()) return false;
  const auto size = static_cast<qint64>(bytes.size());
  if (port.write(reinterpret_cast<const char*>(bytes.data()), size) != size) return false;
  port.flush();
  return true;
}

QtSerialPort::QtSerialPort(const PortMap& ports) : ports_(ports) {
  QObject::connect(&port_, &QSerialPort::readyRead, [this] {
    if (handler_) handler_();
  });
  QObject::connect(&port_, &QSerialPort::errorOccurred,
                   [this](QSerialPort::SerialPortError error) { OnError(error); });
}

void QtSerialPort::OnError(QSerialPort::SerialPortError error) {
  // A device that went away shows as one of these, over and over until the port is closed.
  const bool gone = error == QSerialPort::ResourceError || error == QSerialPort::ReadError ||
                    error == QSerialPort::WriteError;
  if (!gone || !port_.isOpen() || lossPending_) return;
  lossPending_ = true;
  // Closed from the event loop: closing inside the signal would delete the notifier raising it.
  QTimer::singleShot(0, &port_, [this, session = session_] {
    lossPending_ = false;
    if (session != session_ || !port_.isOpen()) return;
    Close();
    if (lostHandler_) lostHandler_();
  });
}

bool QtSerialPort::SelectPort(int number) {
  const std::string target = ports_.Target(number);
  lastFailure_ = {};
  if (target.empty() || port_.isOpen()) return false;
  device_ = target;
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
  lastFailure_ = {};
  if (port_.isOpen()) return false;
  bool opened = port_.open(QIODevice::ReadWrite);
  if (!opened) {
    lastFailure_ =
        ExplainOpenFailure(device_, RefusalOf(port_.error()), port_.errorString().toStdString());
    port_.clearError();
    // Held by nobody: the lock of a station that was killed holding the port stands in the way.
    if (lastFailure_.cause == OpenFailure::Cause::InUse && lastFailure_.holderPid == 0 &&
        RemoveStaleLock(device_)) {
      opened = port_.open(QIODevice::ReadWrite);
      if (opened) lastFailure_ = {};
      port_.clearError();
    }
  }
  if (!opened) return false;
  ++session_;
  if (!ApplyParameters()) {
    Close();
    return false;
  }
  AskForLowLatency();
  return true;
}

void QtSerialPort::AskForLowLatency() {
#ifdef Q_OS_LINUX
  const std::string refusal = RequestLowLatency(port_.handle());
  if (refusal.empty() || lowLatencyNoted_ || !lowLatencyNote_) return;
  lowLatencyNoted_ = true;
  lowLatencyNote_(device_ + " refused low-latency mode (" + refusal + ")");
#endif
}

void QtSerialPort::Close() {
  if (!port_.isOpen()) return;
  ++session_;
  port_.close();
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
  return ReadAvailable(port_);
}

bool QtSerialPort::Write(const Bytes& bytes) {
  return WriteNow(port_, bytes);
}

void QtSerialPort::SetDataReceivedHandler(std::function<void()> handler) {
  handler_ = std::move(handler);
}

}  // namespace kvr
