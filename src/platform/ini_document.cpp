#include "platform/ini_document.h"

#include <algorithm>
#include <cstdint>

namespace kvr {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr char32_t kReplacement = 0xFFFD;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c >= 0xD800 && c <= 0xDFFF) c = kReplacement;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// UTF-8 to UTF-16 code units, a malformed sequence as one replacement character.
std::u16string Utf16(std::string_view text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    int length = 0;  // 0: no lead byte of a sequence
    if (lead < 0x80)
      length = 1;
    else if (lead >= 0xC2 && lead < 0xE0)
      length = 2;
    else if (lead >= 0xE0 && lead < 0xF0)
      length = 3;
    else if (lead >= 0xF0 && lead < 0xF5)
      length = 4;
    char32_t c = length == 4 ? lead & 0x07 : length == 3 ? lead & 0x0F : lead & 0x1F;
    bool whole = length > 0 && i + static_cast<std::size_t>(length) <= text.size();
    for (int k = 1; whole && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      whole = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    if (length == 1) c = lead;
    if (!whole || (length == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) ||
        (length == 4 && (c < 0x10000 || c > 0x10FFFF))) {
      out += static_cast<char16_t>(kReplacement);
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += static_cast<std::size_t>(length);
  }
  return out;
}

std::string Utf8(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    AppendUtf8(out, c);
  }
  return out;
}

// One logical line: leading blanks skipped, a line break inside quotes or after a backslash
// continues it; an unquoted ";" ends it. A comment line (";" first) is one line of its own, with
// `comment` set. Finds the first unquoted "=".
bool ReadLine(std::string_view data, std::size_t& pos, std::string_view& line, std::size_t& equals,
              bool& comment) {
  bool inQuotes = false;
  equals = std::string_view::npos;
  comment = false;
  std::size_t start = pos;
  while (start < data.size() && IsSpace(data[start])) ++start;
  std::size_t i = start;
  while (i < data.size()) {
    const char c = data[i++];
    if (c == '=') {
      if (!inQuotes && equals == std::string_view::npos) equals = i - 1 - start;
    } else if (c == '\n' || c == '\r') {
      if (i == start + 1) {
        ++start;
      } else if (!inQuotes) {
        --i;
        break;
      }
    } else if (c == '\\') {
      if (i < data.size()) {
        const char escaped = data[i++];
        if (i < data.size() &&
            ((escaped == '\n' && data[i] == '\r') || (escaped == '\r' && data[i] == '\n')))
          ++i;
      }
    } else if (c == '"') {
      inQuotes = !inQuotes;
    } else if (c == ';') {
      if (i == start + 1) {
        while (i < data.size() && data[i] != '\n' && data[i] != '\r') ++i;
        comment = true;
        equals = std::string_view::npos;
        break;
      }
      if (!inQuotes) {
        --i;
        break;
      }
    }
  }
  pos = i;
  line = data.substr(start, i - start);
  return !line.empty();
}

std::string SectionHeader(const std::string& name) {
  if (name.empty()) return "[General]";
  // A section of that name would be read as the one of keys outside any section.
  if (EqualsIgnoringCase(name, "General")) return "[%" + name + "]";
  return "[" + EscapeIniKey(name) + "]";
}

}  // namespace

std::string EscapeIniKey(std::string_view key) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char16_t c : Utf16(key)) {
    if (c == '/') {
      out += '\\';
    } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-' || c == '.') {
      out += static_cast<char>(c);
    } else if (c <= 0xFF) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += "%U";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(c >> shift) & 0xF];
    }
  }
  return out;
}

std::string UnescapeIniKey(std::string_view escaped) {
  const std::u16string units = Utf16(escaped);
  std::u16string out;
  for (std::size_t i = 0; i < units.size();) {
    const char16_t c = units[i];
    if (c == '\\') {
      out += u'/';
      ++i;
      continue;
    }
    if (c != '%' || i + 1 == units.size()) {
      out += c;
      ++i;
      continue;
    }
    std::size_t first = i + 1;
    std::size_t digits = 2;
    if (units[first] == 'U') {
      ++first;
      digits = 4;
    }
    std::uint32_t value = 0;
    bool ok = first + digits <= units.size();
    for (std::size_t k = 0; ok && k < digits; ++k) {
      const char16_t d = units[first + k];
      const int v = d < 0x80 ? HexValue(static_cast<char>(d)) : -1;
      ok = v >= 0;
      value = value * 16 + static_cast<std::uint32_t>(v < 0 ? 0 : v);
    }
    if (!ok) {
      out += u'%';
      ++i;
      continue;
    }
    out += static_cast<char16_t>(value);
    i = first + digits;
  }
  return Utf8(out);
}

std::string EscapeIniValue(std::string_view value) {
  std::string text = value.starts_with('@') ? "@" + std::string(value) : std::string(value);
  std::string out;
  bool needsQuotes = false;
  bool escapeNextIfDigit = false;
  for (const char c : text) {
    if (c == ';' || c == ',' || c == '=') needsQuotes = true;
    // "\x1" followed by "2" would read as "\x12".
    if (escapeNextIfDigit && HexValue(c) >= 0) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\x";
      if (c >= 16) out += kHex[(c >> 4) & 0xF];
      out += kHex[c & 0xF];
      continue;
    }
    escapeNextIfDigit = false;
    switch (c) {
      case '\0':
        out += "\\0";
        escapeNextIfDigit = true;
        break;
      case '\a':
        out += "\\a";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\v':
        out += "\\v";
        break;
      case '"':
      case '\\':
        out += '\\';
        out += c;
        break;
      default:
        if (static_cast<unsigned char>(c) <= 0x1F) {
          static constexpr char kHex[] = "0123456789abcdef";
          out += "\\x";
          if (c >= 16) out += kHex[(c >> 4) & 0xF];
          out += kHex[c & 0xF];
          escapeNextIfDigit = true;
        } else {
          out += c;
        }
    }
  }
  if (needsQuotes || (!out.empty() && (out.front() == ' ' || out.back() == ' ')))
    out = "\"" + out + "\"";
  return out;
}

std::optional<std::string> UnescapeIniValue(std::string_view raw) {
  std::string result;
  bool isList = false;
  bool inQuotes = false;
  bool quoted = false;
  std::size_t chopLimit = 0;
  std::size_t i = 0;
  auto chopTrailingBlanks = [&] {
    while (result.size() > chopLimit && (result.back() == ' ' || result.back() == '\t'))
      result.pop_back();
  };
  auto skipBlanks = [&] {
    while (i < raw.size() && (raw[i] == ' ' || raw[i] == '\t')) ++i;
    chopLimit = result.size();
  };
  skipBlanks();
  while (i < raw.size()) {
    const char c = raw[i];
    if (c == '\\') {
      if (++i >= raw.size()) break;
      const char e = raw[i++];
      static constexpr std::string_view kCodes = "abfnrtv\"?'\\";
      static constexpr std::string_view kValues = "\a\b\f\n\r\t\v\"?'\\";
      if (const auto k = kCodes.find(e); k != std::string_view::npos) {
        result += kValues[k];
      } else if (e == 'x' || (e >= '0' && e <= '7')) {
        // Hexadecimal or octal digits as long as they come, into one 16-bit character.
        const int base = e == 'x' ? 16 : 8;
        std::uint16_t value = e == 'x' ? 0 : static_cast<std::uint16_t>(e - '0');
        if (e == 'x' && (i >= raw.size() || HexValue(raw[i]) < 0)) {
          chopLimit = result.size();
          continue;
        }
        while (i < raw.size()) {
          const int digit = HexValue(raw[i]);
          if (digit < 0 || digit >= base) break;
          value = static_cast<std::uint16_t>(value * base + digit);
          ++i;
        }
        AppendUtf8(result, value);
      } else if (e == '\n' || e == '\r') {
        if (i < raw.size() && (raw[i] == '\n' || raw[i] == '\r') && raw[i] != e) ++i;
      }
      chopLimit = result.size();
    } else if (c == '"') {
      ++i;
      quoted = true;
      inQuotes = !inQuotes;
      if (!inQuotes) skipBlanks();
    } else if (c == ',' && !inQuotes) {
      if (!quoted) chopTrailingBlanks();
      isList = true;
      result.clear();
      quoted = false;
      ++i;
      skipBlanks();
    } else {
      std::size_t j = i + 1;
      while (j < raw.size() && raw[j] != '\\' && raw[j] != '"' && raw[j] != ',') ++j;
      result.append(raw.substr(i, j - i));
      i = j;
    }
  }
  if (!quoted) chopTrailingBlanks();
  // A list of several strings reads as no string at all.
  if (isList) return std::string();
  if (result.starts_with('@')) {
    const std::string_view text = result;
    if (text == "@Invalid()") return std::nullopt;
    for (const std::string_view typed : {"@ByteArray(", "@String("})
      if (text.starts_with(typed) && text.ends_with(')'))
        return std::string(text.substr(typed.size(), text.size() - typed.size() - 1));
    if (text.starts_with("@@")) return result.substr(1);
  }
  return result;
}

IniDocument IniDocument::Parse(std::string_view text) {
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  IniDocument document;
  std::size_t pos = 0;
  std::string_view line;
  std::size_t equals = 0;
  bool comment = false;
  while (ReadLine(text, pos, line, equals, comment)) {
    Section& current = document.sections_.back();
    if (!comment && line.front() == '[') {
      const std::size_t close = line.find(']');
      const std::string_view name =
          TrimSpaces(line.substr(1, (close == std::string_view::npos ? line.size() : close) - 1));
      std::string section;
      if (EqualsIgnoringCase(name, "%General"))
        section = std::string(name.substr(1));
      else if (!EqualsIgnoringCase(name, "General"))
        section = UnescapeIniKey(name);
      document.sections_.push_back({std::move(section), std::string(line), {}});
      continue;
    }
    std::string_view key =
        comment || equals == std::string_view::npos ? std::string_view() : line.substr(0, equals);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.remove_suffix(1);
    if (key.empty()) {
      current.entries.push_back({{}, std::string(line), {}});
      continue;
    }
    current.entries.push_back(
        {UnescapeIniKey(key), std::string(line.substr(equals + 1)), std::string(key)});
  }
  return document;
}

std::string IniDocument::Serialize(std::string_view lineEnd) const {
  std::string out;
  for (const Section& section : sections_) {
    if (section.header.empty() && section.entries.empty()) continue;
    if (!out.empty()) out += lineEnd;
    if (!section.header.empty()) {
      out += section.header;
      out += lineEnd;
    }
    for (const Entry& entry : section.entries) {
      if (!entry.key.empty()) {
        out += entry.rawKey.empty() ? EscapeIniKey(entry.key) : entry.rawKey;
        out += '=';
      }
      out += entry.raw;
      out += lineEnd;
    }
  }
  return out;
}

const IniDocument::Entry* IniDocument::Find(std::string_view section, std::string_view key) const {
  // A key given twice reads as its last line.
  const Entry* found = nullptr;
  for (const Section& s : sections_) {
    if (s.name != section) continue;
    for (const Entry& entry : s.entries)
      if (!entry.key.empty() && entry.key == key) found = &entry;
  }
  return found;
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
  const Entry* entry = Find(section, key);
  if (entry == nullptr) return std::nullopt;
  return UnescapeIniValue(entry->raw);
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  SetRaw(section, key, EscapeIniValue(value));
}

void IniDocument::SetRaw(std::string_view section, std::string_view key, std::string raw) {
  if (const Entry* entry = Find(section, key)) {
    const_cast<Entry*>(entry)->raw = std::move(raw);
    return;
  }
  // A new key joins the last block of its section: the lines before the first header count as
  // one only when they hold keys already, else a header is written for it.
  Section* last = nullptr;
  for (Section& s : sections_) {
    const bool holdsKeys = std::any_of(s.entries.begin(), s.entries.end(),
                                       [](const Entry& entry) { return !entry.key.empty(); });
    if (s.name == section && (!s.header.empty() || holdsKeys)) last = &s;
  }
  if (last == nullptr) {
    const std::string name(section);
    last = &sections_.emplace_back(Section{name, SectionHeader(name), {}});
  }
  last->entries.push_back({std::string(key), std::move(raw), {}});
}

}  // namespace kvr
