#pragma once

#include <functional>
#include <optional>
#include <string>

namespace kvr {

// Per-user string settings by application, section and key. Several stations (processes) may
// share one store: what they count or hand out together goes through Update.
class SettingsStore {
 public:
  // Gets the stored value ("" when the key is absent) and gives the value to store.
  using Change = std::function<std::string(const std::string& current)>;

  virtual ~SettingsStore() = default;
  virtual std::string Read(const std::string& application, const std::string& section,
                           const std::string& key, const std::string& defaultValue) = 0;
  virtual void Write(const std::string& application, const std::string& section,
                     const std::string& key, const std::string& value) = 0;
  // Reads the key and stores what `change` makes of it as one step that no other writer of the
  // store, in this process or another, can come between; the new value is on the disk when it
  // returns. A value that is stored already is not written again. Returns the value now stored,
  // or nothing when the store could not be changed. `change` runs once at most, must not use
  // the store itself, and should be quick: other stations wait for it.
  virtual std::optional<std::string> Update(const std::string& application,
                                            const std::string& section, const std::string& key,
                                            const Change& change) = 0;
  // Why the store cannot be used at all (its file is a folder, a FIFO, a device, unreadable);
  // empty when it can. Reads then give the defaults and changes store nothing.
  virtual std::string Problem(const std::string& application) {
    (void)application;
    return {};
  }
  // Why the last change stored nothing; empty when it stored or the store cannot tell.
  virtual std::string LastError() const { return {}; }
};

}  // namespace kvr
