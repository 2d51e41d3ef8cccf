#pragma once

#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "platform/platform.h"
#include "platform/virtual/virtual_platform.h"

namespace kvr::fuzz {

// Message boxes and dialogs that answer themselves: information boxes are acknowledged, questions
// take the next answer of a 32-bit supply (bit 0 first, 1 = Yes), file dialogs are cancelled.
class AnsweringDialogs : public Dialogs {
 public:
  void SetAnswers(std::uint32_t answers) { answers_ = answers; }

  void Information(const std::string& text, const std::string&) override {
    informations.push_back(text);
  }
  bool Question(const std::string& text, const std::string&) override {
    const bool yes = (answers_ >> (questions.size() % 32) & 1) != 0;
    questions.push_back(text);
    answered.push_back(yes);
    return yes;
  }
  std::string OpenFile(const FileDialogRequest&) override { return {}; }
  std::string SaveFile(const FileDialogRequest&) override { return {}; }

  std::vector<std::string> informations;
  std::vector<std::string> questions;
  std::vector<bool> answered;

 private:
  std::uint32_t answers_ = 0;
};

// The virtual platform with those dialogs.
struct FuzzPlatform {
  VirtualClock clock;
  VirtualEventPump pump{clock};
  VirtualTimerFactory timers{clock};
  VirtualSerialPort port{clock};
  AnsweringDialogs dialogs;
  MemorySettingsStore settings;
  BeepCounter beeper{clock};
  VirtualWallClock wallClock{clock};
  Platform platform{port, pump, timers, dialogs, settings, beeper, &wallClock};

  // Runs what is pending, as the window does between two actions of the operator (the deferred
  // save, above all). Every timer is a one-shot, so this ends.
  void Settle() {
    for (int events = 0; clock.HasPending(); ++events) {
      KVR_FUZZ_CHECK(events < 10000);
      clock.RunNext();
    }
  }
};

}  // namespace kvr::fuzz
