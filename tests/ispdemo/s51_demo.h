#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image/image_buffer.h"
#include "ispdemo/isp_protocol.h"

namespace kvr::isp::test {

// The 8051 simulator s51 (Debian's sdcc-ucsim) running a built ISP demo with an 11.0592 MHz
// crystal. Its UART is wired to two FIFOs; its command console is driven through pipes.
// Breakpoint scripts stand in for the chip's flash controller (an erase fills its sector with
// FFh, a program writes its byte into the code memory) and print what the demo wrote to the
// flash-control, UART and port registers, so a test can read the demo's actions in order.
class S51Demo {
 public:
  // One register dump the scripts printed: the first register's address and the values.
  // E2h: flash data, address high and low, command, trigger, control, at each trigger.
  // C8h: T2CON, -, RCAP2L, RCAP2H, TL2, TH2; 98h: SCON and the byte sent, at each byte sent.
  // 90h: P1, B0h: P3, at each write of the watched pin; 99h: SBUF, as the demo clears TI.
  struct Event {
    int reg = 0;
    std::vector<std::uint8_t> values;
    long long clks = -1;  // oscillator clocks since reset, where the script told them
  };
  struct Watch {
    bool parity = false;  // the demo uses 9-bit frames: the simulator supplies the ninth bit
    bool sent = true;     // report each byte sent with the timer and UART registers
    bool port1 = false;   // report writes of P1
    bool feed = false;    // report writes of pin P1.7 (watchdog pin)
    // Report writes of pin P3.5 (direction pin), and when bytes go out and TI is cleared.
    bool port3 = false;
  };

  // Path of s51, empty when it is not installed.
  static std::string Find();

  ~S51Demo();
  // Starts the demo lying at `base` in `buffer`; false with `error` when the simulator fails.
  bool Start(const ImageBufferArray& buffer, std::int32_t base, Watch watch, std::string& error);

  // Sends bytes to the demo's UART and collects what it answers until a whole answer frame
  // came or `timeoutMs` passed.
  Bytes Exchange(const Bytes& request, int timeoutMs = 5000);
  // Lets the simulation run until `done` is true of the events so far (or `timeoutMs` passed).
  bool RunUntil(const std::function<bool(const std::vector<Event>&)>& done, int timeoutMs = 5000);

  // Relays the demo's UART to the master side of a pseudo-terminal until `childStdout`
  // closes; returns what the child printed.
  std::string RelayWhile(int ptyMaster, int childStdout, int timeoutMs);

  std::vector<Event> TakeEvents();

 private:
  bool Command(const std::string& command, std::string& error);
  // Serves the console, the UART and, when given, a pseudo-terminal relay and a child's output
  // for at most `ms`, or until `done` says so.
  void Loop(int ms, const std::function<bool()>& done, int ptyMaster = -1, int childOut = -1,
            std::string* childText = nullptr);
  void ParseConsole();

  std::string dir_;
  int pid_ = -1;
  int commandFd_ = -1;
  int consoleFd_ = -1;
  int uartIn_ = -1;
  int uartOut_ = -1;
  std::string console_;
  Bytes received_;
  std::vector<Event> events_;
};

}  // namespace kvr::isp::test
