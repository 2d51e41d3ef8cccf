#pragma once

#include <string>

#include "platform/serial_port.h"

namespace kvr {

// What the serial port library said when the open failed, in the kinds that matter here.
enum class OpenRefusal {
  NotFound,
  Denied,  // no permission, or busy: the two are told apart by looking
  Other,
};

// Why `device` could not be opened: missing, held by another program (found through /proc), or
// closed to this user (with the group that would let them in).
OpenFailure ExplainOpenFailure(const std::string& device, OpenRefusal refusal,
                               const std::string& systemText);

// Removes the lock file that the serial port library keeps beside a port it has open, when the
// lock is a leftover: no process has `device` open and the file is older than a second. A station
// killed while it held the port leaves one behind, and its process number may belong to another
// station by now, which the library would take for the holder. True when one was removed.
bool RemoveStaleLock(const std::string& device);

// Asks the driver of the open serial port `fd` to hand received bytes on at once instead of
// holding them for its latency timer (up to 16 ms on common USB adapters). Empty when granted, or
// when the port is a pseudo-terminal, which holds nothing back; otherwise why it was refused.
std::string RequestLowLatency(int fd);

}  // namespace kvr
