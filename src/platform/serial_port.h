#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kvr {

using Bytes = std::vector<std::uint8_t>;

// Why a port could not be opened, as far as the platform can tell, for a line to the operator.
struct OpenFailure {
  enum class Cause {
    Unknown,       // nothing better known; `detail` may hold the system's words
    Missing,       // no such device: the adapter is not plugged in, or the path is wrong
    InUse,         // another program holds the port
    NoPermission,  // the user may not open the device
  };
  Cause cause = Cause::Unknown;
  std::string device;  // the device as opened, e.g. "/dev/ttyUSB0"
  std::string detail;  // Unknown: the system's error text
  // InUse: the program holding the port and its process id; empty and 0 when not found.
  std::string holder;
  int holderPid = 0;
  // NoPermission: the group whose members may use the device (empty when no group may), and
  // whether the user is listed in it already, so that only a new login is missing.
  std::string group;
  bool listedInGroup = false;
};

// The serial line as the link uses it: nothing more, nothing less.
class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Port number 1..8 (COM1..COM8); false when the number cannot be used.
  virtual bool SelectPort(int number) = 0;
  // Baud rate with no parity, 8 data bits, 1 stop bit.
  virtual bool SetParameters(int baud) = 0;
  // Fails when the port is missing or in use.
  virtual bool Open() = 0;
  // Nothing happens on a closed port.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Discard everything received and not yet read; false on a closed port, where ReadAll gives
  // nothing.
  virtual bool ClearInput() = 0;
  // Discard everything queued by the station and not yet handed to the line.
  virtual bool ClearOutput() = 0;
  virtual std::size_t BytesWaiting() const = 0;
  // Every waiting byte, raw: NUL bytes stay, no text conversion.
  virtual Bytes ReadAll() = 0;
  // Queues the bytes for sending in one write; false when the port is closed or the write failed.
  virtual bool Write(const Bytes& bytes) = 0;
  // Raised whenever at least one byte is waiting.
  virtual void SetDataReceivedHandler(std::function<void()> handler) = 0;

  // Why the last Open failed; Cause::Unknown where the platform cannot tell.
  virtual OpenFailure LastOpenFailure() const { return {}; }
  // Raised once when an open port stops working under the station (a USB adapter pulled out).
  // The port is closed by then. It runs from the event loop, inside a wait, never from inside
  // another call on the port.
  virtual void SetLostHandler(std::function<void()> handler) { (void)handler; }
};

}  // namespace kvr
