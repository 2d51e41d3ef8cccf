#pragma once

#include <deque>
#include <optional>
#include <ostream>
#include <string>

#include "platform/beeper.h"
#include "platform/dialogs.h"
#include "platform/settings_store.h"

namespace kvr {

// Message boxes on a console: information boxes are printed as they appear, questions are
// printed with the answer given on the command line (or the preselected No).
class ConsoleDialogs : public Dialogs {
 public:
  ConsoleDialogs(std::ostream& out, std::optional<bool> answer) : out_(out), answer_(answer) {}

  void Information(const std::string& text, const std::string& title) override;
  // The title on a line of its own, so that the first line keeps its columns.
  void InformationInColumns(const std::string& text, const std::string& title) override;
  bool Question(const std::string& text, const std::string& title) override;
  // File dialogs answer with the paths the command line queued for them.
  std::string OpenFile(const FileDialogRequest& request) override;
  std::string SaveFile(const FileDialogRequest& request) override;

  void QueueOpenPath(std::string path) { openPaths_.push_back(std::move(path)); }
  void QueueSavePath(std::string path) { savePaths_.push_back(std::move(path)); }

 private:
  void PrintBox(const char* kind, const std::string& text, const std::string& title);

  std::ostream& out_;
  std::optional<bool> answer_;
  std::deque<std::string> openPaths_;
  std::deque<std::string> savePaths_;
};

// The console has no speaker of its own: a bell on the terminal when there is one.
class ConsoleBeeper : public Beeper {
 public:
  explicit ConsoleBeeper(bool audible) : audible_(audible) {}
  void Beep() override;

 private:
  bool audible_;
};

// The window's settings as a production run sees them: every setting is read, but only what a
// run itself moves on (the good-device count and the serial number) is written back, so a
// script's options never change how the window starts. A value that is stored already is not
// written again: a run that moves nothing on leaves the file as it was, and does not wait for
// the disk. The count and the number reach the store through its locked Update, so stations
// sharing it never lose an increment or hand out a number twice.
class ProductionSettings : public SettingsStore {
 public:
  explicit ProductionSettings(SettingsStore& store) : store_(store) {}
  std::string Read(const std::string& application, const std::string& section,
                   const std::string& key, const std::string& defaultValue) override {
    return store_.Read(application, section, key, defaultValue);
  }
  void Write(const std::string& application, const std::string& section, const std::string& key,
             const std::string& value) override;
  // A key the command line does not write back: the change is worked out but not stored.
  std::optional<std::string> Update(const std::string& application, const std::string& section,
                                    const std::string& key, const Change& change) override;
  std::string Problem(const std::string& application) override {
    return store_.Problem(application);
  }
  std::string LastError() const override { return store_.LastError(); }
  // The command line set the automatic sequence: it is saved as the window saves it.
  void AllowSequence() { sequence_ = true; }

 private:
  bool WrittenBack(const std::string& section, const std::string& key) const;

  SettingsStore& store_;
  bool sequence_ = false;
};

}  // namespace kvr
