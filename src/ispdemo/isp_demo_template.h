#pragma once

#include <array>

namespace kvr {

inline constexpr int kIspDemoTemplateRows = 64;
inline constexpr int kIspDemoSize = 1024;

// The ISP demo's 1,024 bytes of 8051 code, 16 bytes a row as 32 upper-case hexadecimal digits,
// high digit first. Assembled at build time from template/isp_demo.asm.
extern const std::array<const char*, kIspDemoTemplateRows> IspDemoTemplate;

}  // namespace kvr
