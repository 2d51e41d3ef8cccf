#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/controls.h"
#include "catalogue/selected_device.h"
#include "link/message_log.h"
#include "link/writer_link.h"
#include "platform/platform.h"

namespace kvr {

// The main-window object: every control as data, the link, the run flags and the handlers the
// window (or a test, or the command line) calls. One station serves one writer; nothing in it is
// shared with another station except the settings store.
class Station {
 public:
  static constexpr const char* kApplication = "KVR Programmer for VXAxx";
  static constexpr int kFunctions = 9;
  static constexpr int kBeepSpacingMs = 150;

  explicit Station(Platform& platform);
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Language of the window's messages: English when set.
  bool UseEnglish = true;
  SelectedDeviceFields SelectedDevice;

  // Controls.
  MessageLog textMsg;
  CommandButton comDownload{"Program"};
  CommandButton comStop_Download{"Stop", false};
  std::array<TextEntry, kFunctions> txtFuction;
  ListControl combCommPort;
  ListControl Combo1;
  ProgressBar ProgressBar1;
  Label labKbyte;

  // Run flags.
  bool SingleRun = false;
  bool IspDemoMode = false;
  bool RepeatStop = false;

  WriterLink link;

  // What the last run came to, for front ends that report it (the command line's exit code).
  struct RunRecord {
    bool connected = false;
    // The operation's result; empty when no operation ran or the entry has none yet.
    std::optional<std::int16_t> result;
    std::string function;
  };
  RunRecord LastRun;

  // Operator events.
  void OnProgramClick();
  void OnStopClick() { StopRun(); }
  void OnFunctionClick(int index);
  void OnFunctionDoubleClick(int index);

  // One run against the writer: connect, the selected operation, close down.
  void OperationDriver();
  void StopRun();
  bool RunInProgress() const { return runDepth_ > 0; }
  // Trimmed text of the highlighted function entry; empty when none is highlighted.
  std::string SelectedFunction() const;
  // Whether an operation exists behind the function entry of this name.
  static bool OperationBuilt(const std::string& name);

  void WaitMs(int milliseconds);
  void BeepThrice();

  // The controls a Program-button run disables.
  void LockSettings();
  void UnlockSettings();

 private:
  std::optional<std::int16_t> RunOperation(const std::string& name);

  Platform& platform_;
  std::unique_ptr<Timer> timer10_;
  std::unique_ptr<Timer> timerBeep_;
  std::vector<bool*> lockedControls_;
  int runDepth_ = 0;
};

}  // namespace kvr
