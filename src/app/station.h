#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/controls.h"
#include "catalogue/catalogue.h"
#include "catalogue/option_panel.h"
#include "catalogue/selected_device.h"
#include "link/message_log.h"
#include "link/writer_link.h"
#include "operations/operation_context.h"
#include "platform/platform.h"

namespace kvr {

// The main-window object: every control as data, the link, the run flags and the handlers the
// window (or a test, or the command line) calls. One station serves one writer; nothing in it is
// shared with another station except the settings store.
class Station : public OptionPanelControls {
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

  // Model choice: the box showing the model, the tree that drops down from it, the model list.
  TextBox txtDevice;
  struct DeviceTree {
    std::vector<TreeNode> nodes;
    bool visible = false;
    std::string selectedKey;
  } treeDevice;
  ListControl combMcuModel;
  TabStrip TabStrip2;
  std::array<Frame, 2> Frame1;  // the option frames
  CheckBox cheAuto_Increase{"Enable Auto_Increase"};
  OptionPair optISP_DEMO_erase_data;
  Label labISP_DEMO_erase_data;

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
  void OnDeviceTextClick();
  void OnTreeNodeClick(const std::string& key);
  void OnModelListClick();
  void OnTabStrip2Click();

  // Tree population; keeps the current selection.
  void BuildDeviceTree();
  // Selects the tree node of this model, or of the fall-back model when no node has that key.
  void RestoreModel(const std::string& name);
  void SetShowExtraFamilies(bool show);

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

  // The deferred settings save.
  Timer& Timer3() { return *timer3_; }

  // The controls a Program-button run disables.
  void LockSettings();
  void UnlockSettings();

 private:
  std::optional<std::int16_t> RunOperation(const std::string& name);
  void UpdateOptionalTabs(bool afterTreeSelection);
  void FinishSelection();
  void ClearSelection();
  void ApplyRow(const DeviceModel& row);

  Platform& platform_;
  OperationContext operations_;
  std::unique_ptr<Timer> timer3_;
  std::unique_ptr<Timer> timer10_;
  std::unique_ptr<Timer> timerBeep_;
  std::vector<bool*> lockedControls_;
  int runDepth_ = 0;
};

}  // namespace kvr
