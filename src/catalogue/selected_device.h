#pragma once

#include <cstdint>
#include <string>

namespace kvr {

// The fields that describe the chosen model. Only the model selection writes them.
struct SelectedDeviceFields {
  std::int16_t DeviceClassCode = 0;  // 0 none, 1, 2, 11, 12, 13
  std::string IdentityCode;          // four hexadecimal digits
  std::int32_t ApStart = 0;
  std::int32_t ApEnd = 0;
  std::int32_t UserEnd = 0;
  std::int32_t IspStart = 0;
  std::int32_t IspEnd = 0;
  bool ApUpToIsp = false;
  std::int16_t BlockSize = 128;
  // Adds the VXC and VXD families to the device tree.
  bool ShowExtraFamilies = false;
};

}  // namespace kvr
