#pragma once

#include <QMainWindow>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/station.h"
#include "platform/port_map.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QCloseEvent;
class QFrame;
class QGroupBox;
class QLabel;
class QLayout;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace kvr {

// The station's window: one widget per control, named as the control. It draws the station's
// control state (Sync) and turns the operator's events into data changes plus handler calls.
class MainWindow : public QMainWindow {
 public:
  MainWindow(Station& station, const PortMap& ports, QWidget* parent = nullptr);

  // Copies the station's control state into the widgets; cheap when nothing changed, so it can
  // run before every wait of a run.
  void Sync();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildWidgets();
  void BuildLayout();
  void Connect();
  void SyncLog();
  void SyncFunctions();
  void SyncList(QComboBox* box, const ListControl& list, bool showTargets);
  QString PortEntryText(const std::string& entry) const;

  // Model choice, option panel and the lower tab strip (main_window_device.cpp).
  void BuildDeviceWidgets();
  QLayout* BuildDeviceLayout();
  QWidget* BuildReadBack();
  QWidget* BuildTabStrip();
  void ConnectDevice();
  void SyncDevice();
  void SyncDeviceTree();
  void RebuildDeviceTree();
  void ShowDeviceTree();
  void SyncOptionRows();
  void AlignOptionRows();
  void SyncTabs();
  void ChooseTreeNode(QTreeWidgetItem* item);
  bool RowEnabled(int row) const;

  Station& station_;
  const PortMap& ports_;

  QPlainTextEdit* textMsg_ = nullptr;
  QPushButton* comDownload_ = nullptr;
  QPushButton* comStop_Download_ = nullptr;
  QListWidget* txtFuction_ = nullptr;
  QComboBox* combCommPort_ = nullptr;
  QComboBox* Combo1_ = nullptr;
  QProgressBar* ProgressBar1_ = nullptr;
  QLabel* labKbyte_ = nullptr;

  static constexpr int kRows = OptionPanelControls::kRows;
  QComboBox* txtDevice_ = nullptr;
  QTreeWidget* treeDevice_ = nullptr;
  QComboBox* combMcuModel_ = nullptr;
  QLabel* selectedDevice_ = nullptr;
  std::array<QGroupBox*, 2> Frame1_{};
  std::array<QFrame*, kRows> Picture2_{};
  std::array<QLabel*, kRows> LabOptionE_{};
  std::array<QLabel*, kRows> LabOptionC_{};
  std::array<QWidget*, kRows> Option_{};
  std::array<QButtonGroup*, kRows> optionChoices_{};
  QComboBox* Combo2_ = nullptr;
  QLineEdit* Text4_ = nullptr;
  std::array<QLabel*, OptionPanelControls::kReadBackLabels> read_Option_{};
  QComboBox* AP_size_ = nullptr;
  QLabel* labAP_size_ = nullptr;
  QComboBox* comWDT_Prescalar_ = nullptr;
  QLabel* labWDT_Prescalar_ = nullptr;
  QFrame* Picture8_ = nullptr;
  QLabel* labPicture8_ = nullptr;
  std::array<QCheckBox*, OptionPanelControls::kPeripherals> function_enable_{};
  QTabWidget* TabStrip2_ = nullptr;
  QCheckBox* cheAuto_Increase_ = nullptr;

  // What the tree widget holds: the nodes it was built from and the node it shows selected.
  std::vector<TreeNode> shownNodes_;
  std::optional<std::string> shownTreeKey_;
  bool treeBuilt_ = false;

  // What the log widget shows: the log's text at the revision last drawn.
  std::string shownLog_;
  std::uint64_t shownRevision_ = 0;
  bool logShown_ = false;
};

}  // namespace kvr
