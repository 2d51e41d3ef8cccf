#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "image/image_buffer.h"

namespace kvr {

// The ISP demo tab as the builder reads it: control texts and choices, the model name shown in
// `txtDevice` and the selected model's areas.
struct IspDemoParameters {
  std::string crystal = "11.0592";  // comb_oscillate_frequency, MHz
  std::string baud = "38400";       // comb_ISP_buad
  bool parity = true;               // opt_ISP_DEMO_parity: choice 0 "YES"
  bool eraseData = true;            // optISP_DEMO_erase_data: choice 0 "YES"
  bool watchdog = false;            // opt_ISP_DEMO_WDT: choice 1 "用1个I/O口喂狗"
  std::string watchdogPort = "P0";  // comb_ISP_DEMO_WDT(0)
  std::string watchdogBit = "0";    // comb_ISP_DEMO_WDT(1)
  bool rs485 = false;               // opt_485_pin: choice 1 "用1个I/O口控制"
  std::string rs485Port = "P0";     // comb_485_pin(0)
  std::string rs485Bit = "0";       // comb_485_pin(1)
  bool rs485HighTransmit = true;    // opt_485_logic: choice 0 "高电平发送,低接收"
  std::string model;                // txtDevice
  std::int32_t ispEnd = 0;
  std::int32_t userEnd = 0;
  std::int32_t apEnd = 0;
  bool apUpToIsp = false;
  bool useEnglish = true;
};

enum class BaudErrorColour { Normal, Yellow, Red };

// Background colour of `Lab_BAUD_ERR` in the platform's colour encoding (the button face is a
// system colour); the text is always the button-text colour.
std::uint32_t BaudErrorBackColour(BaudErrorColour colour);
inline constexpr std::uint32_t kBaudErrorTextColour = 0x80000012;

struct BaudReloadResult {
  float n = 0;  // the reload count N; 0 when it cannot be computed
  // Caption and colour of `Lab_BAUD_ERR`; absent when the label is left as it is.
  std::optional<std::string> caption;
  BaudErrorColour colour = BaudErrorColour::Normal;

  // Timer 2 can count N: 65536 - N is a 16-bit reload.
  bool Usable() const { return n >= 1 && n <= 65536; }
};

// The UART reload count for the crystal and baud texts and the baud-rate error label. With a
// crystal but no usable N the label shows no value, in red.
BaudReloadResult BaudReload(std::string_view crystal, std::string_view baud);

struct IspDemoBuildResult {
  bool failed = true;
  // The refusal's message box text; empty when none was shown.
  std::string message;
  // The template was placed: `DemoImageReady` is set and `comStoreFile` disabled.
  bool placed = false;
  std::int32_t base = 0;  // IspDemoBase
  // The label update of the build's own BaudReload run, when the build got that far.
  std::optional<BaudReloadResult> baud;
};

// Copies the template to IspEnd - 1023 and patches it. A refusal leaves the bytes already
// placed in the buffer.
IspDemoBuildResult BuildIspDemo(const IspDemoParameters& parameters, ImageBufferArray& buffer);

// The Timer 2 reload the demo at `base` in the buffer holds, whatever built it.
std::uint16_t PlacedReload(const ImageBufferArray& buffer, std::int32_t base);

// "4005" for VXA05H and the other numbers of the table; "FFFF" for any other name.
std::string ModelNumber(std::string_view model);

// Rounding to the nearest integer, exact halves to the even neighbour.
double CInt(double value);

// The number a text starts with (blanks before it skipped), 0 when it starts with none; the
// point is its decimal sign whatever the locale ("1.5k" is 1.5 everywhere).
double LeadingNumber(std::string_view text);

// A single-precision value as decimal text: up to 7 significant digits, no exponent between
// 1E-05 and 1E+07, "0" for zero, "-" before negatives and no "0" before the point (".1602564",
// "-3.5"); beyond that range mantissa and exponent ("1.234568E+07", "1E-06").
std::string SingleText(float value);

}  // namespace kvr
