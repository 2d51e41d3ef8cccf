#pragma once

#include <QMainWindow>
#include <cstdint>
#include <string>

#include "app/station.h"
#include "platform/port_map.h"

class QComboBox;
class QCloseEvent;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

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

  // What the log widget shows: the log's text at the revision last drawn.
  std::string shownLog_;
  std::uint64_t shownRevision_ = 0;
  bool logShown_ = false;
};

}  // namespace kvr
