#pragma once

#include <string>
#include <vector>

namespace kvr {

// Text without the blanks around it.
inline std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Control state kept as plain data; the window draws it and forwards the operator's events.

struct CommandButton {
  std::string caption;
  bool enabled = true;
  bool visible = true;
};

struct Label {
  std::string caption;
  bool visible = true;
  bool enabled = true;
};

// A text entry of a control array whose selection is shown by the highlight colour.
struct TextEntry {
  std::string text;
  bool highlighted = false;
  bool enabled = true;
};

struct ListControl {
  std::vector<std::string> entries;
  int index = -1;  // -1: nothing selected
  bool enabled = true;
  bool visible = true;

  const std::string& Text() const {
    static const std::string empty;
    return index >= 0 && index < static_cast<int>(entries.size())
               ? entries[static_cast<std::size_t>(index)]
               : empty;
  }
};

struct ProgressBar {
  int minimum = 0;
  int maximum = 100;
  int value = 0;
  bool visible = true;
};

}  // namespace kvr

namespace kvr {

struct TextBox {
  std::string text;
  bool enabled = true;
  bool visible = true;
};

struct CheckBox {
  std::string caption;
  bool checked = false;
  bool enabled = true;
  bool visible = true;
};

// Two option buttons of which one is selected.
struct OptionPair {
  std::string captions[2] = {"YES", "NO"};
  int selected = 0;
  bool enabled = true;
};

// A container frame or picture box.
struct Frame {
  bool visible = true;
  bool enabled = true;
  bool border = true;
};

struct Tab {
  std::string key;
  std::string caption;  // "_no_": the tab is not offered
};

struct TabStrip {
  static constexpr const char* kWithdrawn = "_no_";
  std::vector<Tab> tabs;
  int selected = 0;

  bool Offered(std::size_t index) const {
    return index < tabs.size() && tabs[index].caption != kWithdrawn;
  }
  Tab* Find(const std::string& key) {
    for (Tab& tab : tabs)
      if (tab.key == key) return &tab;
    return nullptr;
  }
};

}  // namespace kvr

namespace kvr {

// A multi-line text box whose selection matters (the buffer view and its editing overlay).
struct SelectableText {
  std::string text;
  std::size_t selStart = 0;
  std::size_t selLength = 0;
  bool enabled = true;
};

struct ScrollBar {
  int minimum = 0;
  int maximum = 64;
  int value = 0;
  int largeChange = 1;
  bool enabled = true;
};

// A group of option buttons of which one is selected.
struct OptionGroup {
  std::vector<std::string> captions;
  int selected = 0;
  bool enabled = true;
};

}  // namespace kvr
