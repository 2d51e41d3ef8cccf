#include "platform/port_map.h"

#include <cctype>

namespace kvr {

namespace {

// USB adapters first: that is where a writer box sits on most machines without a built-in port.
#ifndef _WIN32
constexpr std::array<const char*, PortMap::kPorts> kDefaultTargets = {
    "/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyACM0", "/dev/ttyACM1",
    "/dev/ttyS0",   "/dev/ttyS1",   "/dev/ttyS2",   "/dev/ttyS3"};
#endif

}  // namespace

PortMap::PortMap() {
  for (int n = 1; n <= kPorts; ++n) targets_[n - 1] = DefaultTarget(n);
}

std::string PortMap::DefaultTarget(int number) {
  if (number < 1 || number > kPorts) return {};
#ifdef _WIN32
  return "COM" + std::to_string(number);
#else
  return kDefaultTargets[number - 1];
#endif
}

std::string PortMap::Target(int number) const {
  if (number < 1 || number > kPorts) return {};
  return targets_[number - 1];
}

void PortMap::SetTarget(int number, const std::string& target) {
  if (number < 1 || number > kPorts || target.empty()) return;
  targets_[number - 1] = target;
}

void PortMap::LoadOverrides(SettingsStore& settings, const std::string& application) {
  for (int n = 1; n <= kPorts; ++n) {
    const std::string key = "COM" + std::to_string(n);
    SetTarget(n, settings.Read(application, "Ports", key, targets_[n - 1]));
  }
}

bool PortMap::ApplyOption(const std::string& assignment) {
  const auto eq = assignment.find('=');
  if (eq == std::string::npos || eq + 1 >= assignment.size()) return false;
  const int number = ParsePortName(assignment.substr(0, eq));
  if (number == 0) return false;
  SetTarget(number, assignment.substr(eq + 1));
  return true;
}

int PortMap::ParsePortName(const std::string& name) {
  if (name.size() != 4) return 0;
  if (std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
      std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
      std::toupper(static_cast<unsigned char>(name[2])) != 'M')
    return 0;
  const char digit = name[3];
  if (digit < '1' || digit > '0' + kPorts) return 0;
  return digit - '0';
}

}  // namespace kvr
