// The model choice: device tree, model list, optional tabs and the finish of a selection.

#include "app/station.h"

namespace kvr {

namespace {

bool IsFamilyKey(const std::string& key) {
  return key.rfind(kFamilyKeyPrefix, 0) == 0;
}

}  // namespace

void Station::BuildDeviceTree() {
  treeDevice.nodes = kvr::BuildDeviceTree(SelectedDevice.ShowExtraFamilies);
  treeDevice.visible = false;
}

void Station::SetShowExtraFamilies(bool show) {
  SelectedDevice.ShowExtraFamilies = show;
  const std::string selected = treeDevice.selectedKey;
  BuildDeviceTree();
  treeDevice.selectedKey = selected;
}

void Station::OnDeviceTextClick() {
  if (txtDevice.enabled) treeDevice.visible = true;
}

void Station::RestoreModel(const std::string& name) {
  // A stored family key names no model either: starting without one would leave every frame
  // without a class code.
  const bool known =
      !IsFamilyKey(name) && std::any_of(treeDevice.nodes.begin(), treeDevice.nodes.end(),
                                        [&](const TreeNode& node) { return node.key == name; });
  OnTreeNodeClick(known ? name : kFallbackModel);
}

void Station::ClearSelection() {
  SelectedDevice.ApStart = SelectedDevice.ApEnd = SelectedDevice.UserEnd = 0;
  SelectedDevice.IspStart = SelectedDevice.IspEnd = 0;
  SelectedDevice.ApUpToIsp = false;
  SelectedDevice.IdentityCode.clear();
  txtDevice.text.clear();
}

void Station::ApplyRow(const DeviceModel& row) {
  SelectedDevice.DeviceClassCode = row.family->classCode;
  SelectedDevice.BlockSize = row.blockSize;
  SelectedDevice.ApStart = 0;
  SelectedDevice.ApEnd = row.apEnd;
  SelectedDevice.IspStart = row.ispStart;
  SelectedDevice.IspEnd = row.ispEnd;
  SelectedDevice.UserEnd = row.userEnd;
  SelectedDevice.IdentityCode = row.identity;
  SelectedDevice.ApUpToIsp = row.apUpToIsp;
}

void Station::OnTreeNodeClick(const std::string& key) {
  // The class code travels in every frame of a run: the model cannot change under it.
  if (RunInProgress() || OperatorMode) return;
  const auto node = std::find_if(treeDevice.nodes.begin(), treeDevice.nodes.end(),
                                 [&](const TreeNode& n) { return n.key == key; });
  if (node == treeDevice.nodes.end()) return;
  // A family node only opens or closes; the model in use stays the one remembered for the
  // next start.
  if (IsFamilyKey(key)) return;
  treeDevice.selectedKey = key;
  ClearSelection();
  modelFromList_ = false;
  if (const DeviceModel* row = FindModel(node->parentKey, key)) ApplyRow(*row);
  txtDevice.text = key;
  if (txtDevice.text.empty()) return;
  treeDevice.visible = false;
  lastSelectionByTree_ = true;
  UpdateOptionalTabs(true);
  FinishSelection();
}

void Station::OnModelListClick() {
  if (RunInProgress() || OperatorMode) return;
  SelectedDevice.BlockSize = 128;
  SelectedDevice.ApUpToIsp = false;
  const std::string& name = combMcuModel.Text();
  const DeviceModel* row = FindModel(family::kVXA.key, name);
  if (row == nullptr) row = FindModel(family::kVXE.key, name);
  // A name the catalogue does not hold keeps the earlier model's fields.
  if (row != nullptr) {
    ApplyRow(*row);
    modelFromList_ = true;
  }
  lastSelectionByTree_ = false;
  UpdateOptionalTabs(false);
  FinishSelection();
}

void Station::UpdateOptionalTabs(bool afterTreeSelection) {
  const std::int16_t classCode = SelectedDevice.DeviceClassCode;
  bool withdrawn = false;
  auto offer = [&](const char* key, bool offered, const char* caption) {
    Tab* tab = TabStrip2.Find(key);
    if (tab == nullptr) return;
    tab->caption = offered ? caption : TabStrip::kWithdrawn;
    withdrawn = withdrawn || !offered;
  };

  const bool english = UseEnglish;
  offer("Down_ISP_demo", classCode == 2, english ? "ISP demo" : "烧录 ISP DEMO");
  if (classCode == 2)
    optISP_DEMO_erase_data.enabled = labISP_DEMO_erase_data.enabled = !SelectedDevice.ApUpToIsp;
  offer("TJSL", classCode >= 1 && !english, "脱机烧录");
  const bool moreOptions =
      afterTreeSelection ? (classCode == 12 || classCode == 13) : classCode >= 3;
  offer("more_option", moreOptions, english ? "More options" : "更多烧录选项");
  if (withdrawn) OnTabStrip2Click();
  ApplyOperatorLock();
}

void Station::OnTabStrip2Click() {
  // A withdrawn tab cannot stay selected: the first tab offered takes its place.
  if (TabStrip2.Offered(static_cast<std::size_t>(TabStrip2.selected))) return;
  for (std::size_t i = 0; i < TabStrip2.tabs.size(); ++i) {
    if (TabStrip2.Offered(i)) {
      TabStrip2.selected = static_cast<int>(i);
      return;
    }
  }
}

void Station::FinishSelection() {
  Timer3().SetEnabled(true);
  RebuildOptionPanel(*this, SelectedDevice, UseEnglish);
  readOut_.reset();
  for (Frame& frame : Frame1) frame.enabled = true;
  cheAuto_Increase.enabled = true;
  // A ticked stamp is checked against the new model's limits before it writes again.
  OnAutoIncreaseClick();
  ApplyOperatorLock();
}

}  // namespace kvr
