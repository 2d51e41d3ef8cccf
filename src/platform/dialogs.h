#pragma once

#include <string>
#include <vector>

namespace kvr {

struct FileFilter {
  std::string description;  // "Hex files"
  std::string pattern;      // "*.hex;*.HEX"
};

struct FileDialogRequest {
  std::string title;
  std::vector<FileFilter> filters;
  std::string initialDirectory;
  std::string initialName;
  // A save dialog asks before an existing file is chosen, unless the file is only added to.
  bool confirmOverwrite = true;
};

// Message boxes and file dialogs. A box has no title unless one is given.
class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual void Information(const std::string& text, const std::string& title = {}) = 0;
  // An information box whose lines stand in columns: a fixed-pitch font keeps them there.
  virtual void InformationInColumns(const std::string& text, const std::string& title = {}) {
    Information(text, title);
  }
  // Yes/No with No preselected; true for Yes.
  virtual bool Question(const std::string& text, const std::string& title = {}) = 0;
  // Existing files only; empty when cancelled.
  virtual std::string OpenFile(const FileDialogRequest& request) = 0;
  // Asks before overwriting; empty when cancelled.
  virtual std::string SaveFile(const FileDialogRequest& request) = 0;
};

}  // namespace kvr
