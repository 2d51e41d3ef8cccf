#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace kvr {

using Bytes = std::vector<std::uint8_t>;

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
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Discard everything received and not yet read.
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
};

}  // namespace kvr
