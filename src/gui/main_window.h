#pragma once

#include <QMainWindow>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <functional>

#include "app/station.h"
#include "platform/port_map.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QKeyEvent;
class QMimeData;
class QFrame;
class QGroupBox;
class QLabel;
class QLayout;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QMenu;
class QScrollArea;
class QScrollBar;
class QSplitter;
class QTableWidget;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace kvr {

// The port list's box: it refreshes what is present whenever it opens.
QComboBox* NewPortBox(std::function<void()> onOpen);

// The station's window: one widget per control, named as the control. It draws the station's
// control state (Sync) and turns the operator's events into data changes plus handler calls.
class MainWindow : public QMainWindow {
 public:
  MainWindow(Station& station, PortMap& ports, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Copies the station's control state into the widgets; cheap when nothing changed, so it can
  // run before every wait of a run.
  void Sync();

  // What the Help menu tells: the program's version and where its settings are kept.
  void SetAbout(const QString& version, const QString& settingsFile);
  // Shows the window at the size it had when it closed last, else at a size that fits `room`
  // (the screen's available geometry); never larger than `room`.
  void ShowOnScreen(const QRect& room);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildWidgets();
  void BuildLayout();
  void BuildMenus();
  void Connect();
  void SyncLog();
  void SyncFunctions();
  void SyncList(QComboBox* box, const ListControl& list);
  void SyncWindow();
  void SyncMenus();
  // The caption of `key` in the chosen language, set by `apply` now and whenever the language
  // changes.
  void Caption(const char* key, std::function<void(const QString&)> apply);
  void ProgramHighlighted();
  void StopRun();
  void SaveWindowState();
  // The operator's column as wide as its captions in the language shown.
  void FitOperatorPane();
  bool layoutStale_ = true;
  // A local file the window can open from a drop; empty when the drop holds none.
  QString DroppedFile(const QMimeData* data) const;

  // The port list: where each entry points, whether a device is there now, and the devices
  // present that no entry points at (main_window_ports.cpp).
  void RefreshPorts();
  void ChoosePort(int index);
  void SyncPorts();

  // The verdict panel, the good count and next number, and the chips since the start
  // (main_window_verdict.cpp).
  QWidget* BuildVerdictPanel();
  QWidget* BuildHistory();
  void SyncVerdict();
  void SyncHistory();

  // Model choice, option panel and the lower tab strip (main_window_device.cpp).
  void BuildDeviceWidgets();
  QLayout* BuildDeviceLayout();
  QWidget* BuildReadBack();
  QWidget* BuildTabStrip();
  // A tab page whose content scrolls when the pane is too small for it, so that no page
  // widens the pane.
  QScrollArea* ScrollingPage(QWidget* content, const std::string& key);
  void ConnectDevice();
  void SyncDevice();
  void SyncDeviceTree();
  void RebuildDeviceTree();
  void ShowDeviceTree();
  void SyncOptionRows();
  void AlignOptionRows();
  void SyncTabs(QTabWidget* widget, const TabStrip& strip);
  void ChooseTreeNode(QTreeWidgetItem* item);
  bool RowEnabled(int row) const;

  // File frame, region display, buffer view, the upper tab strip and the pages of both tab
  // strips (main_window_image.cpp).
  void BuildImageWidgets();
  QWidget* BuildFileFrame();
  QWidget* BuildBufferView();
  QWidget* BuildUpperTabStrip(QLayout* devicePage);
  QWidget* BuildPortPage();
  QWidget* BuildSequencePage();
  QWidget* BuildExportPage();
  QWidget* BuildSerialPage();
  void ConnectImage();
  void SyncImage();
  void SyncBufferView();
  QString CaptionText(const std::string& key) const;
  QLabel* CaptionLabel(const char* key);

  // The offline board's tab page (main_window_offline.cpp).
  QWidget* BuildOfflinePage();
  void ConnectOffline();
  void SyncOffline();

  // The ISP demo's tab page (main_window_ispdemo.cpp).
  QWidget* BuildIspDemoPage();
  void ConnectIspDemo();
  void SyncIspDemo();

  Station& station_;
  PortMap& ports_;

  QSplitter* panes_ = nullptr;
  QSplitter* setupPanes_ = nullptr;
  QSplitter* viewPanes_ = nullptr;
  QScrollArea* operatorPane_ = nullptr;
  QLabel* verdictState_ = nullptr;
  QLabel* verdictStep_ = nullptr;
  QLabel* verdictReason_ = nullptr;
  QLabel* goodCount_ = nullptr;
  QLabel* nextSerial_ = nullptr;
  QLabel* chipSerial_ = nullptr;
  QLabel* chipIdentity_ = nullptr;
  QTableWidget* history_ = nullptr;
  std::size_t shownHistorySize_ = 0;
  std::uint64_t shownHistoryRuns_ = 0;
  bool historyEnglish_ = true;
  QString shownVerdictStyle_;

  std::array<std::string, PortMap::kPorts> shownPortTargets_{};
  std::optional<bool> portsEnglish_;

  QMenu* recentMenu_ = nullptr;
  std::vector<std::string> shownRecent_;
  std::array<QAction*, Station::kFunctions> functionActions_{};
  QAction* programAction_ = nullptr;
  QAction* stopAction_ = nullptr;
  QAction* openAction_ = nullptr;
  QAction* saveAsAction_ = nullptr;
  std::array<QAction*, 2> languageActions_{};
  QString version_;
  QString settingsFile_;

  // Captions that follow the language, and the language they were last set in.
  std::vector<std::pair<std::string, std::function<void(const QString&)>>> captions_;
  std::optional<bool> captionsEnglish_;
  QString shownTitle_;

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

  QTabWidget* TabStrip1_ = nullptr;
  QGroupBox* framStep_ = nullptr;
  QPushButton* comReDownload_ = nullptr;
  std::array<QLineEdit*, Station::kAutoSlots> txtAuto_{};
  std::array<QPushButton*, 3> comAuto_{};
  QComboBox* comDalay_ReDownLoad_ = nullptr;
  QRadioButton* optBeepYes_ = nullptr;
  QRadioButton* optBeepNo_ = nullptr;
  QLineEdit* txtWrite_OK_Count_ = nullptr;
  QPushButton* comClearOkCount_ = nullptr;
  QLineEdit* txtReportFile_ = nullptr;
  QLineEdit* txtJobProduct_ = nullptr;
  QLineEdit* txtJobNote_ = nullptr;
  QLabel* verdictProduct_ = nullptr;
  QAction* openJobAction_ = nullptr;
  QAction* openJobLockedAction_ = nullptr;
  QAction* saveJobAction_ = nullptr;
  QAction* leaveOperatorAction_ = nullptr;
  QPushButton* comReportFile_ = nullptr;
  std::array<QRadioButton*, 2> optReportFormat_{};
  QLineEdit* txtLineDatabase_ = nullptr;
  QLabel* labLineDatabase_ = nullptr;

  QPushButton* comLoadFile_ = nullptr;
  QCheckBox* Check6_ = nullptr;
  QCheckBox* cekReloadFile_ = nullptr;
  std::array<QRadioButton*, 2> optFillbyte_{};
  QLineEdit* txtFileCheckSum_ = nullptr;
  std::array<QLineEdit*, 4> txtISP_reange_{};
  QGroupBox* Frame7_ = nullptr;
  QPlainTextEdit* txtBuffer_ = nullptr;
  QPlainTextEdit* txtBuffer2_ = nullptr;
  QScrollBar* VScroll1_ = nullptr;

  QLineEdit* txt_Start_Address_ = nullptr;
  QLineEdit* txt_length_ = nullptr;
  QPushButton* comStoreFile_ = nullptr;
  std::array<QLineEdit*, 4> texAuto_Increase_{};
  std::array<QRadioButton*, 3> optAuto_Increase_{};

  QPushButton* comTJXZ_ = nullptr;
  QPushButton* comTJSL_disp_ = nullptr;
  QLineEdit* txt_download_max_ = nullptr;

  QComboBox* comb_oscillate_frequency_ = nullptr;
  QComboBox* comb_ISP_buad_ = nullptr;
  std::array<QComboBox*, 2> comb_ISP_DEMO_WDT_{};
  std::array<QComboBox*, 2> comb_485_pin_{};
  QButtonGroup* opt_ISP_DEMO_parity_ = nullptr;
  QButtonGroup* optISP_DEMO_erase_data_ = nullptr;
  QButtonGroup* opt_ISP_DEMO_WDT_ = nullptr;
  QButtonGroup* opt_485_pin_ = nullptr;
  QButtonGroup* opt_485_logic_ = nullptr;
  QLabel* Lab_BAUD_ERR_ = nullptr;
  std::array<std::pair<const Label*, QLabel*>, 7> ispDemoLabels_{};
  QPushButton* com_write_ISP_demo_ = nullptr;
  QPushButton* com_re_write_ISP_demo_ = nullptr;
  QPushButton* com_ISP_demo_stop_ = nullptr;

  // What the buffer view shows: the overlay's text and the hidden view's, as last drawn.
  std::string shownBuffer_;
  std::string shownUnder_;
  bool bufferShown_ = false;
  bool busyCursorShown_ = false;
  // A close request is being handled: it waits for the deferred save, and a second request
  // arriving meanwhile must not start another.
  bool closing_ = false;

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
