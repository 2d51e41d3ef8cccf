#pragma once

// The C library's numbers in a locale that writes them with a decimal comma, as on many
// operators' PCs (the Qt programs take the system's locale on Linux), for as long as the object
// lives. Held() is false where the machine has no such locale installed.

#include <clocale>
#include <cstring>
#include <string>

namespace kvr::test {

class DecimalCommaLocale {
 public:
  DecimalCommaLocale() : previous_(std::setlocale(LC_NUMERIC, nullptr)) {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "German_Germany.1252"}) {
      if (std::setlocale(LC_NUMERIC, name) != nullptr &&
          std::strcmp(std::localeconv()->decimal_point, ",") == 0) {
        held_ = true;
        return;
      }
    }
    std::setlocale(LC_NUMERIC, previous_.c_str());
  }
  ~DecimalCommaLocale() { std::setlocale(LC_NUMERIC, previous_.c_str()); }
  DecimalCommaLocale(const DecimalCommaLocale&) = delete;
  DecimalCommaLocale& operator=(const DecimalCommaLocale&) = delete;

  bool Held() const { return held_; }

 private:
  std::string previous_;
  bool held_ = false;
};

}  // namespace kvr::test
