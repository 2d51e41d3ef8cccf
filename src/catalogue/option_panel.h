#pragma once

#include <array>

#include "catalogue/selected_device.h"
#include "controls/controls.h"

namespace kvr {

// The controls of the option panel. Option[i] is the option-button pair `Option<i>` of row i.
struct OptionPanelControls {
  static constexpr int kRows = 9;
  static constexpr int kReadBackLabels = 7;
  static constexpr int kPeripherals = 5;

  OptionPanelControls();

  std::array<Frame, kRows> Picture2;
  std::array<Label, kRows> LabOptionE;
  std::array<Label, kRows> LabOptionC;
  std::array<OptionPair, kRows> Option;
  ListControl Combo2;  // ISP size
  TextBox Text4{"0"};  // buffer start address
  std::array<Label, kReadBackLabels> read_Option;
  // The newer families' extra controls.
  ListControl AP_size;
  Label labAP_size{"AP区大小:"};
  ListControl comWDT_Prescalar;
  Label labWDT_Prescalar{"看门狗预分频数"};
  Frame Picture8;
  Label labPicture8{"配置外设:"};
  std::array<CheckBox, kPeripherals> function_enable;
};

// Rebuilds the panel for the selected model: rows, captions, the ISP size list with its
// default, the default choice of every row and the read-back labels.
void RebuildOptionPanel(OptionPanelControls& panel, const SelectedDeviceFields& device,
                        bool english = true);

// The captions of the rows and of the newer families' controls in a language; the choices
// stay as they are.
void CaptionOptionPanel(OptionPanelControls& panel, std::int16_t classCode, bool english);

// The read-back labels as they stand before the options are read.
void ResetReadBack(OptionPanelControls& panel, std::int16_t classCode, bool english);

}  // namespace kvr
