#pragma once

#include <string>

namespace kvr {

// Per-user string settings by application, section and key.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual std::string Read(const std::string& application, const std::string& section,
                           const std::string& key, const std::string& defaultValue) = 0;
  virtual void Write(const std::string& application, const std::string& section,
                     const std::string& key, const std::string& value) = 0;
};

}  // namespace kvr
