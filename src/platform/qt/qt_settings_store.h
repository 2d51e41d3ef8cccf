#pragma once

#include <QString>

#include "platform/settings_store.h"

namespace kvr {

// Settings in an INI file per application: in `directory`, named after the application, or in
// one given file.
class QtSettingsStore : public SettingsStore {
 public:
  // The per-user location.
  QtSettingsStore();
  explicit QtSettingsStore(const QString& file) : file_(file) {}

  std::string Read(const std::string& application, const std::string& section,
                   const std::string& key, const std::string& defaultValue) override;
  void Write(const std::string& application, const std::string& section, const std::string& key,
             const std::string& value) override;

  QString FileFor(const std::string& application) const;

 private:
  QString directory_;
  QString file_;
};

}  // namespace kvr
