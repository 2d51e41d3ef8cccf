#include "cli/console_dialogs.h"

#include <cstdio>
#include <string_view>

namespace kvr {

namespace {

// Box texts carry the station's CR LF line breaks; the console wants plain ones.
std::string ForConsole(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != '\r') out.push_back(c);
  return out;
}

}  // namespace

void ConsoleDialogs::PrintBox(const char* kind, const std::string& text, const std::string& title) {
  out_ << "[" << kind << (title.empty() ? "" : ": " + ForConsole(title)) << "] " << ForConsole(text)
       << '\n';
}

void ConsoleDialogs::Information(const std::string& text, const std::string& title) {
  PrintBox("box", text, title);
  out_.flush();
}

void ConsoleDialogs::InformationInColumns(const std::string& text, const std::string& title) {
  out_ << "[box" << (title.empty() ? "" : ": " + ForConsole(title)) << "]\n"
       << ForConsole(text) << '\n';
  out_.flush();
}

bool ConsoleDialogs::Question(const std::string& text, const std::string& title) {
  PrintBox("question", text, title);
  const bool yes = answer_.value_or(false);
  out_ << "[answer] " << (yes ? "Yes" : "No") << (answer_ ? "" : " (preselected)") << '\n';
  out_.flush();
  return yes;
}

std::string ConsoleDialogs::OpenFile(const FileDialogRequest& request) {
  (void)request;
  if (openPaths_.empty()) return {};
  std::string path = std::move(openPaths_.front());
  openPaths_.pop_front();
  return path;
}

std::string ConsoleDialogs::SaveFile(const FileDialogRequest& request) {
  (void)request;
  if (savePaths_.empty()) return {};
  std::string path = std::move(savePaths_.front());
  savePaths_.pop_front();
  return path;
}

bool ProductionSettings::WrittenBack(const std::string& section, const std::string& key) const {
  const bool moved =
      section == "Auto_Increase" || (section == "Settings" && key == "Write_OK_Count");
  const bool sequence = sequence_ && section == "Settings" && key.rfind("Auto_VXA_", 0) == 0;
  return moved || sequence;
}

void ProductionSettings::Write(const std::string& application, const std::string& section,
                               const std::string& key, const std::string& value) {
  if (!WrittenBack(section, key)) return;
  // No stored text holds a NUL: an absent key never reads as the value.
  if (store_.Read(application, section, key, std::string(1, '\0')) == value) return;
  store_.Write(application, section, key, value);
}

std::optional<std::string> ProductionSettings::Update(const std::string& application,
                                                      const std::string& section,
                                                      const std::string& key,
                                                      const Change& change) {
  if (WrittenBack(section, key)) return store_.Update(application, section, key, change);
  return change(store_.Read(application, section, key, ""));
}

void ConsoleBeeper::Beep() {
  if (!audible_) return;
  std::fputc('\a', stderr);
  std::fflush(stderr);
}

}  // namespace kvr
