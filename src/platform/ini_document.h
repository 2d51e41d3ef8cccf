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
// A file edited by hand keeps what the station does not understand: comment lines, lines
// without "=", sections without keys and repeated sections are written back where they stood.
class IniDocument {
 public:
  // Reads leniently: what is not a section or a key is kept as it is, and means nothing.
  static IniDocument Parse(std::string_view text);
  // The document's lines, a blank line between sections; `lineEnd` ends each line.
  std::string Serialize(std::string_view lineEnd = "\n") const;

  // The value; nothing when the key is absent or stands for no value ("@Invalid()").
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  void Set(std::string_view section, std::string_view key, std::string_view value);

 private:
  struct Entry {
    std::string key;     // empty: a line kept as it stood (a comment, a line without "=")
    std::string raw;     // the value as the file spells it, kept as it was unless it is set
    std::string rawKey;  // the key as the file spells it; empty for a key set here
  };
  struct Section {
    std::string name;
    std::string header;  // the header line as the file has it; empty before the first one
    std::vector<Entry> entries;
  };
  const Entry* Find(std::string_view section, std::string_view key) const;
  void SetRaw(std::string_view section, std::string_view key, std::string raw);

  // The lines before the first section header come first, without a header of their own.
  std::vector<Section> sections_{Section{}};
};

// The escapes of a key or section name ("Auto VXA/8" -> "Auto%20VXA\8") and back.
std::string EscapeIniKey(std::string_view key);
std::string UnescapeIniKey(std::string_view escaped);
// The escapes of a value, quoted where it needs quotes, and back; a value read back as a list
// (an unquoted comma) is empty, and "@Invalid()" is no value.
std::string EscapeIniValue(std::string_view value);
std::optional<std::string> UnescapeIniValue(std::string_view raw);

}  // namespace kvr
