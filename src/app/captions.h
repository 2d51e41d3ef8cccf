#pragma once

#include <map>
#include <string>
#include <vector>

#include "link/message_log.h"

namespace kvr {

// The window's static texts (frame titles, labels, menus, the verdict panel) in the language
// chosen, by key.
std::map<std::string, std::string> WindowCaptions(bool english);

// The name of an operation or automatic step as the window shows it. The names themselves stay
// as they are in both languages: the sequence is stored and logged by them.
std::string OperationCaption(const std::string& name, bool english);

// The legend of the offline board's LEDs: a title and lines whose "@" marks stand under the LED
// numbers of the first line when a Chinese character takes two columns.
struct LedLegend {
  const char* title;
  std::vector<const char*> lines;
};
const LedLegend& OfflineLegend(bool english);

// Columns a text takes in a fixed-pitch font: two for a wide (CJK) character, one otherwise.
std::size_t TextColumns(const std::string& text);

}  // namespace kvr
