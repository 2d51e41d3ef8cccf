#pragma once

#include <array>
#include <string>

#include "platform/settings_store.h"

namespace kvr {

// Where each entry COM1..COM8 of the port list points. On Windows COMn is the system port of
// that name; elsewhere each entry maps to a device path, overridable per port in the settings
// store (section "Ports", key "COMn") and by a start option.
class PortMap {
 public:
  static constexpr int kPorts = 8;

  PortMap();

  // Device path or system port name of COMn, n = 1..8; empty for any other n.
  std::string Target(int number) const;
  void SetTarget(int number, const std::string& target);

  // Applies the overrides stored under section "Ports".
  void LoadOverrides(SettingsStore& settings, const std::string& application);

  // "COM2=/dev/ttyUSB3"; false (map unchanged) when the text is not of that form.
  bool ApplyOption(const std::string& assignment);

  // "COMn" -> n, or 0 when the text is no port name of the list.
  static int ParsePortName(const std::string& name);

  static std::string DefaultTarget(int number);

 private:
  std::array<std::string, kPorts> targets_;
};

}  // namespace kvr
