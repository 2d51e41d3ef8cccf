#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvr {

// A settings file in the INI form the station's settings have always had: "[Section]" lines and
// "key=value" lines, keys and values escaped the way Qt's QSettings (IniFormat) escapes strings,
// so files written before read the same, and older versions can read what is written now.
// Names and values are UTF-8. Keys outside any section belong to the section named "".
class IniDocument {
 public:
  // Reads leniently: what is not a section, a key or a comment is skipped.
  static IniDocument Parse(std::string_view text);
  // One "key=value" line per key, a blank line between sections; `lineEnd` ends each line.
  std::string Serialize(std::string_view lineEnd = "\n") const;

  // The value; nothing when the key is absent or stands for no value ("@Invalid()").
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  void Set(std::string_view section, std::string_view key, std::string_view value);

 private:
  struct Entry {
    std::string key;
    std::string raw;  // the value as the file spells it; kept as it was unless it is set
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  Section& SectionNamed(std::string_view name);
  void SetRaw(std::string_view section, std::string_view key, std::string raw);

  std::vector<Section> sections_;
};

// The escapes of a key or section name ("Auto VXA/8" -> "Auto%20VXA\8") and back.
std::string EscapeIniKey(std::string_view key);
std::string UnescapeIniKey(std::string_view escaped);
// The escapes of a value, quoted where it needs quotes, and back; a value read back as a list
// (an unquoted comma) is empty, and "@Invalid()" is no value.
std::string EscapeIniValue(std::string_view value);
std::optional<std::string> UnescapeIniValue(std::string_view raw);

}  // namespace kvr
