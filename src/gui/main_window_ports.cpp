// The port list: COM1..COM8 with where each points and whether a device is there now, then the
// serial devices present that no entry points at, one of which the chosen entry can be pointed
// at.

#include <QAbstractItemView>
#include <QComboBox>
#include <QSerialPortInfo>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "gui/main_window.h"
#include "gui/widget_sync.h"

namespace kvr {

namespace {

namespace fs = std::filesystem;

constexpr int kDeviceRole = Qt::UserRole + 1;

// The list refreshes what is present whenever it opens.
class PortBox : public QComboBox {
 public:
  std::function<void()> onOpen;

  void showPopup() override {
    if (onOpen) onOpen();
    QComboBox::showPopup();
  }
};

std::string Canonical(const std::string& path) {
  std::error_code error;
  const fs::path canonical = fs::canonical(fs::path(path), error);
  return error ? path : canonical.string();
}

// The serial devices present now, each under its stable name where the system gives one.
std::map<std::string, std::string> PresentDevices() {
  std::map<std::string, std::string> devices;  // canonical path -> name to show and to use
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    const std::string location = info.systemLocation().toStdString();
    devices.emplace(Canonical(location), location);
  }
#ifndef _WIN32
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator("/dev/serial/by-id", error)) {
    const std::string target = Canonical(entry.path().string());
    if (devices.count(target) != 0) devices[target] = entry.path().string();
  }
#endif
  return devices;
}

bool Present(const std::string& target, const std::map<std::string, std::string>& devices) {
#ifdef _WIN32
  for (const auto& [canonical, name] : devices)
    if (name == target || canonical == target) return true;
  return false;
#else
  std::error_code error;
  return devices.count(Canonical(target)) != 0 || fs::exists(fs::path(target), error);
#endif
}

}  // namespace

QComboBox* NewPortBox(std::function<void()> onOpen) {
  auto* box = new PortBox;
  box->onOpen = std::move(onOpen);
  return box;
}

void MainWindow::RefreshPorts() {
  const std::map<std::string, std::string> devices = PresentDevices();
  const QSignalBlocker blocker(combCommPort_);
  combCommPort_->clear();
  std::set<std::string> mapped;
  for (std::size_t i = 0; i < station_.combCommPort.entries.size(); ++i) {
    const std::string& entry = station_.combCommPort.entries[i];
    const std::string target = ports_.Target(PortMap::ParsePortName(entry));
    QString text = QString::fromStdString(entry);
    if (!target.empty() && target != entry)
      text += QStringLiteral("  \u2192  ") + QString::fromStdString(target);
    text += QStringLiteral("  (") +
            CaptionText(Present(target, devices) ? "portPresent" : "portAbsent") +
            QStringLiteral(")");
    combCommPort_->addItem(text);
    mapped.insert(Canonical(target));
    shownPortTargets_[i] = target;
  }
  bool header = false;
  for (const auto& [canonical, name] : devices) {
    if (mapped.count(canonical) != 0) continue;
    if (!header) {
      combCommPort_->insertSeparator(combCommPort_->count());
      combCommPort_->addItem(CaptionText("portUnmapped"));
      if (auto* model = qobject_cast<QStandardItemModel*>(combCommPort_->model()))
        model->item(combCommPort_->count() - 1)->setEnabled(false);
      header = true;
    }
    QString text = QStringLiteral("    ") + QString::fromStdString(name);
    if (name != canonical) text += QStringLiteral("  (") + QString::fromStdString(canonical) + ")";
    combCommPort_->addItem(text);
    combCommPort_->setItemData(combCommPort_->count() - 1, QString::fromStdString(name),
                               kDeviceRole);
  }
  portsEnglish_ = station_.UseEnglish;
  combCommPort_->view()->setMinimumWidth(combCommPort_->view()->sizeHintForColumn(0) +
                                         combCommPort_->fontMetrics().averageCharWidth() * 4);
  combCommPort_->setCurrentIndex(station_.combCommPort.index);
}

void MainWindow::SyncPorts() {
  bool same = portsEnglish_ == station_.UseEnglish;
  for (std::size_t i = 0; same && i < shownPortTargets_.size(); ++i)
    same = shownPortTargets_[i] == ports_.Target(static_cast<int>(i) + 1);
  if (!same) RefreshPorts();
  const QSignalBlocker blocker(combCommPort_);
  const ListControl& list = station_.combCommPort;
  const int index =
      list.index >= 0 && list.index < static_cast<int>(list.entries.size()) ? list.index : -1;
  if (combCommPort_->currentIndex() != index) combCommPort_->setCurrentIndex(index);
  SetEnabled(combCommPort_, list.enabled);
  SetVisible(combCommPort_, list.visible);
}

void MainWindow::ChoosePort(int index) {
  const ListControl& list = station_.combCommPort;
  if (list.enabled && index >= 0 && index < static_cast<int>(list.entries.size())) {
    station_.OnPortChange(index);
  } else if (list.enabled && list.index >= 0 && !station_.RunInProgress()) {
    // A device no entry points at: the chosen entry points at it from now on.
    const std::string device = combCommPort_->itemData(index, kDeviceRole).toString().toStdString();
    if (!device.empty()) {
      ports_.SetTarget(list.index + 1, device);
      station_.StorePortTarget(list.index + 1, device);
    }
  }
  RefreshPorts();
  Sync();
}

}  // namespace kvr
