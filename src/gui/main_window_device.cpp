// The model choice (box, drop-down tree, model list), the option panel and the lower tab strip.

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <map>

#include "gui/main_window.h"
#include "gui/widget_sync.h"

namespace kvr {

namespace {

constexpr int kKeyRole = Qt::UserRole;
constexpr int kTreeRowsShown = 16;

bool SameNodes(const std::vector<TreeNode>& a, const std::vector<TreeNode>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const TreeNode& x, const TreeNode& y) {
                      return x.key == y.key && x.text == y.text && x.parentKey == y.parentKey;
                    });
}

std::string NodeKey(const QTreeWidgetItem* item) {
  return item->data(0, kKeyRole).toString().toStdString();
}

QString Hex(std::int32_t value) {
  return QString::asprintf("%04X", static_cast<unsigned>(value));
}

// The box showing the chosen model. It looks and reacts like a drop-down list, but what drops
// down is the station's tree, so opening it is the station's decision.
class DropDownBox : public QComboBox {
 public:
  std::function<void()> onOpen;

  void showPopup() override {
    if (onOpen) onOpen();
  }
  void hidePopup() override {}
};

// The device tree as a pop-up under the box. Return chooses the current node, Escape or a click
// elsewhere closes it without a choice.
class DeviceTreePopup : public QTreeWidget {
 public:
  explicit DeviceTreePopup(QWidget* owner) : QTreeWidget(owner) {
    setWindowFlags(Qt::Popup);
    setHeaderHidden(true);
    setRootIsDecorated(true);
    setExpandsOnDoubleClick(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  }

  std::function<void(QTreeWidgetItem*)> onChoose;
  std::function<void()> onHidden;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentItem()) {
      if (onChoose) onChoose(currentItem());
      return;
    }
    if (event->key() == Qt::Key_Escape) {
      hide();
      return;
    }
    QTreeWidget::keyPressEvent(event);
  }

  void hideEvent(QHideEvent* event) override {
    QTreeWidget::hideEvent(event);
    if (onHidden) onHidden();
  }
};

}  // namespace

void MainWindow::BuildDeviceWidgets() {
  auto* box = new DropDownBox;
  txtDevice_ = box;
  txtDevice_->setObjectName(QStringLiteral("txtDevice"));
  txtDevice_->setMinimumContentsLength(10);
  txtDevice_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  txtDevice_->addItem(QString());

  treeDevice_ = new DeviceTreePopup(this);
  treeDevice_->setObjectName(QStringLiteral("treeDevice"));

  combMcuModel_ = new QComboBox;
  combMcuModel_->setObjectName(QStringLiteral("combMcuModel"));
  combMcuModel_->setMinimumContentsLength(10);
  combMcuModel_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  combMcuModel_->setMaxVisibleItems(20);
  Caption("modelListHint",
          [this](const QString& text) { combMcuModel_->setPlaceholderText(text); });

  selectedDevice_ = new QLabel;
  selectedDevice_->setObjectName(QStringLiteral("SelectedDevice"));
  selectedDevice_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  const char* frameTitles[2] = {"framOptions", "framAreas"};
  for (int i = 0; i < 2; ++i) {
    QGroupBox* frame = new QGroupBox;
    frame->setObjectName(ElementName("Frame1", i));
    Caption(frameTitles[i], [frame](const QString& text) { frame->setTitle(text); });
    Frame1_[static_cast<std::size_t>(i)] = frame;
  }

  for (int row = 0; row < kRows; ++row) {
    const auto i = static_cast<std::size_t>(row);
    Picture2_[i] = new QFrame;
    Picture2_[i]->setObjectName(ElementName("Picture2", row));
    LabOptionE_[i] = new QLabel;
    LabOptionE_[i]->setObjectName(ElementName("LabOptionE", row));
    LabOptionC_[i] = new QLabel;
    LabOptionC_[i]->setObjectName(ElementName("LabOptionC", row));
    Option_[i] = new QWidget;
    Option_[i]->setObjectName(ElementName("Option", row));
    optionChoices_[i] = new QButtonGroup(Option_[i]);
    auto* choices = new QHBoxLayout(Option_[i]);
    choices->setContentsMargins(0, 0, 0, 0);
    for (int choice = 0; choice < 2; ++choice) {
      auto* button = new QRadioButton;
      button->setObjectName(ElementName(Option_[i]->objectName().toLatin1().constData(), choice));
      optionChoices_[i]->addButton(button, choice);
      choices->addWidget(button);
    }
    auto* line = new QHBoxLayout(Picture2_[i]);
    line->setContentsMargins(2, 0, 2, 0);
    line->addWidget(LabOptionE_[i]);
    line->addWidget(LabOptionC_[i]);
    line->addStretch(1);
    line->addWidget(Option_[i]);
  }

  Combo2_ = new QComboBox;
  Combo2_->setObjectName(QStringLiteral("Combo2"));
  Text4_ = new QLineEdit;
  Text4_->setObjectName(QStringLiteral("Text4"));
  Text4_->setMaxLength(8);
  Text4_->setMaximumWidth(Text4_->fontMetrics().horizontalAdvance(QStringLiteral("00000000")) +
                          Text4_->fontMetrics().averageCharWidth() * 3);

  for (int i = 0; i < OptionPanelControls::kReadBackLabels; ++i) {
    read_Option_[static_cast<std::size_t>(i)] = new QLabel;
    read_Option_[static_cast<std::size_t>(i)]->setObjectName(ElementName("read_Option", i));
  }

  AP_size_ = new QComboBox;
  AP_size_->setObjectName(QStringLiteral("AP_size"));
  labAP_size_ = new QLabel;
  labAP_size_->setObjectName(QStringLiteral("labAP_size"));
  labAP_size_->setBuddy(AP_size_);
  comWDT_Prescalar_ = new QComboBox;
  comWDT_Prescalar_->setObjectName(QStringLiteral("comWDT_Prescalar"));
  labWDT_Prescalar_ = new QLabel;
  labWDT_Prescalar_->setObjectName(QStringLiteral("labWDT_Prescalar"));
  labWDT_Prescalar_->setBuddy(comWDT_Prescalar_);
  Picture8_ = new QFrame;
  Picture8_->setObjectName(QStringLiteral("Picture8"));
  labPicture8_ = new QLabel;
  labPicture8_->setObjectName(QStringLiteral("labPicture8"));
  auto* peripherals = new QHBoxLayout(Picture8_);
  peripherals->setContentsMargins(6, 4, 6, 4);
  for (int i = 0; i < OptionPanelControls::kPeripherals; ++i) {
    auto* check = new QCheckBox;
    check->setObjectName(ElementName("function_enable", i));
    function_enable_[static_cast<std::size_t>(i)] = check;
    peripherals->addWidget(check);
  }

  cheAuto_Increase_ = new QCheckBox;
  cheAuto_Increase_->setObjectName(QStringLiteral("cheAuto_Increase"));
}

QLayout* MainWindow::BuildDeviceLayout() {
  QLabel* modelLabel = CaptionLabel("labMcuType");
  modelLabel->setBuddy(txtDevice_);
  QLabel* listLabel = CaptionLabel("labModelList");
  listLabel->setBuddy(combMcuModel_);
  auto* device = new QGroupBox;
  Caption("framDevice", [device](const QString& text) { device->setTitle(text); });
  auto* deviceGrid = new QGridLayout(device);
  deviceGrid->addWidget(modelLabel, 0, 0);
  deviceGrid->addWidget(txtDevice_, 0, 1);
  deviceGrid->addWidget(listLabel, 1, 0);
  deviceGrid->addWidget(combMcuModel_, 1, 1);
  deviceGrid->setColumnStretch(2, 1);
  deviceGrid->addWidget(selectedDevice_, 2, 0, 1, 3);

  auto* rows = new QVBoxLayout(Frame1_[0]);
  rows->setSpacing(2);
  for (QFrame* row : Picture2_) rows->addWidget(row);

  QLabel* ispLabel = CaptionLabel("labIspSize");
  ispLabel->setBuddy(Combo2_);
  QLabel* startLabel = CaptionLabel("labBufferStart");
  startLabel->setBuddy(Text4_);
  auto* areas = new QGridLayout(Frame1_[1]);
  areas->addWidget(ispLabel, 0, 0);
  areas->addWidget(Combo2_, 0, 1);
  areas->addWidget(startLabel, 0, 3);
  areas->addWidget(Text4_, 0, 4);
  areas->addWidget(labAP_size_, 1, 0);
  areas->addWidget(AP_size_, 1, 1);
  areas->addWidget(labWDT_Prescalar_, 1, 3);
  areas->addWidget(comWDT_Prescalar_, 1, 4);
  areas->addWidget(labPicture8_, 2, 0);
  areas->addWidget(Picture8_, 2, 1, 1, 4);
  areas->setColumnMinimumWidth(2, fontMetrics().averageCharWidth() * 2);
  areas->setColumnStretch(5, 1);
  areas->setRowStretch(3, 1);

  QLabel* note = CaptionLabel("labOptionNote");
  note->setWordWrap(true);
  auto* column = new QVBoxLayout;
  column->addWidget(device);
  column->addWidget(Frame1_[0]);
  column->addWidget(BuildReadBack());
  column->addWidget(Frame1_[1]);
  column->addWidget(note);
  column->addStretch(1);
  return column;
}

QWidget* MainWindow::BuildReadBack() {
  auto* readBack = new QGroupBox;
  readBack->setObjectName(QStringLiteral("framReadBack"));
  Caption("framReadBack", [readBack](const QString& text) { readBack->setTitle(text); });
  // Two columns: the labels are short, the pane is narrow.
  auto* layout = new QGridLayout(readBack);
  layout->setVerticalSpacing(2);
  for (std::size_t i = 0; i < read_Option_.size(); ++i)
    layout->addWidget(read_Option_[i], static_cast<int>(i) / 2, static_cast<int>(i) % 2);
  return readBack;
}

QWidget* MainWindow::BuildTabStrip() {
  TabStrip2_ = new QTabWidget;
  TabStrip2_->setObjectName(QStringLiteral("TabStrip2"));
  TabStrip2_->setDocumentMode(true);
  // The tabs are the station's; their pages fill in as their functions arrive.
  for (const Tab& tab : station_.TabStrip2.tabs) {
    auto* page = new QWidget;
    QWidget* content = nullptr;
    if (tab.key == "auto_increase") content = BuildSerialPage();
    if (tab.key == "save_file") content = BuildExportPage();
    if (tab.key == "TJSL") content = BuildOfflinePage();
    if (tab.key == "Down_ISP_demo") content = BuildIspDemoPage();
    if (content != nullptr) {
      auto* layout = new QVBoxLayout(page);
      layout->setContentsMargins(6, 6, 6, 6);
      layout->addWidget(content);
      layout->addStretch(1);
    }
    TabStrip2_->addTab(ScrollingPage(page, tab.key), QString::fromStdString(tab.caption));
  }
  return TabStrip2_;
}

QScrollArea* MainWindow::ScrollingPage(QWidget* content, const std::string& key) {
  auto* page = new QScrollArea;
  page->setObjectName(QString::fromStdString(key));
  content->setObjectName(QString::fromStdString(key) + QStringLiteral("Page"));
  page->setWidgetResizable(true);
  page->setFrameShape(QFrame::NoFrame);
  page->setWidget(content);
  return page;
}

void MainWindow::ConnectDevice() {
  static_cast<DropDownBox*>(txtDevice_)->onOpen = [this] {
    if (station_.txtDevice.enabled) station_.OnDeviceTextClick();
    Sync();
  };
  auto* tree = static_cast<DeviceTreePopup*>(treeDevice_);
  tree->onChoose = [this](QTreeWidgetItem* item) { ChooseTreeNode(item); };
  // Closed without a choice: the tree is no longer shown.
  tree->onHidden = [this] { station_.treeDevice.visible = false; };
  connect(treeDevice_, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem* item) { ChooseTreeNode(item); });

  connect(combMcuModel_, &QComboBox::activated, this, [this](int index) {
    // A run reads the chosen model in every frame it sends, and the list is not among the
    // controls a run locks.
    if (station_.combMcuModel.enabled && !station_.RunInProgress()) {
      station_.combMcuModel.index = index;
      station_.OnModelListClick();
    }
    Sync();
  });

  connect(Combo2_, &QComboBox::activated, this, [this](int index) {
    if (station_.Combo2.enabled && station_.Frame1[1].enabled) {
      station_.Combo2.index = index;
      station_.OnIspSizeChange();
    }
    Sync();
  });
  auto listChoice = [this](QComboBox* box, ListControl& list) {
    connect(box, &QComboBox::activated, this, [this, &list](int index) {
      if (list.enabled && station_.Frame1[1].enabled) list.index = index;
      Sync();
    });
  };
  listChoice(AP_size_, station_.AP_size);
  connect(comWDT_Prescalar_, &QComboBox::activated, this, [this](int index) {
    if (station_.comWDT_Prescalar.enabled && station_.Frame1[1].enabled)
      station_.OnWdtPrescalarChange(index);
    Sync();
  });

  connect(Text4_, &QLineEdit::textEdited, this, [this](const QString& text) {
    if (station_.Text4.enabled && station_.Frame1[1].enabled)
      station_.Text4.text = text.toStdString();
    Sync();
  });

  for (int row = 0; row < kRows; ++row) {
    connect(optionChoices_[static_cast<std::size_t>(row)], &QButtonGroup::idClicked, this,
            [this, row](int choice) {
              if (RowEnabled(row)) station_.Option[static_cast<std::size_t>(row)].selected = choice;
              Sync();
            });
  }

  for (std::size_t i = 0; i < function_enable_.size(); ++i) {
    connect(function_enable_[i], &QCheckBox::clicked, this, [this, i](bool checked) {
      if (station_.function_enable[i].enabled && station_.Picture8.enabled &&
          station_.Frame1[1].enabled)
        station_.function_enable[i].checked = checked;
      Sync();
    });
  }

  connect(TabStrip2_, &QTabWidget::currentChanged, this, [this](int index) {
    if (index >= 0 && index != station_.TabStrip2.selected) {
      station_.TabStrip2.selected = index;
      station_.OnTabStrip2Click();
    }
    Sync();
  });
}

void MainWindow::ChooseTreeNode(QTreeWidgetItem* item) {
  // The tree belongs to the box: while the box is locked, so is the choice of a model. A run
  // started from the function list locks nothing, and the model must not change under it.
  if (item == nullptr || !station_.txtDevice.enabled || station_.RunInProgress()) return;
  if (item->childCount() > 0) item->setExpanded(!item->isExpanded());
  station_.OnTreeNodeClick(NodeKey(item));
  Sync();
}

bool MainWindow::RowEnabled(int row) const {
  const auto i = static_cast<std::size_t>(row);
  return station_.Option[i].enabled && station_.Picture2[i].enabled &&
         station_.Picture2[i].visible && station_.Frame1[0].enabled;
}

void MainWindow::SyncDevice() {
  {
    const QSignalBlocker blocker(txtDevice_);
    const QString name = QString::fromStdString(station_.txtDevice.text);
    if (txtDevice_->itemText(0) != name) txtDevice_->setItemText(0, name);
    SetEnabled(txtDevice_, station_.txtDevice.enabled);
    SetVisible(txtDevice_, station_.txtDevice.visible);
  }
  SyncList(combMcuModel_, station_.combMcuModel);
  SyncDeviceTree();

  const SelectedDeviceFields& device = station_.SelectedDevice;
  const QString info =
      device.DeviceClassCode == 0
          ? CaptionText("noModel")
          : CaptionText("deviceInfo")
                .arg(device.DeviceClassCode)
                .arg(QString::fromStdString(device.IdentityCode), Hex(device.ApStart),
                     Hex(device.ApEnd), Hex(device.IspStart), Hex(device.IspEnd));
  if (selectedDevice_->text() != info) selectedDevice_->setText(info);

  for (std::size_t i = 0; i < Frame1_.size(); ++i) {
    const Frame& frame = station_.Frame1[i];
    if (Frame1_[i]->isFlat() == frame.border) Frame1_[i]->setFlat(!frame.border);
    SetEnabled(Frame1_[i], frame.enabled);
    SetVisible(Frame1_[i], frame.visible);
  }
  SyncOptionRows();

  SyncList(Combo2_, station_.Combo2);
  const QString start = QString::fromStdString(station_.Text4.text);
  if (Text4_->text() != start) Text4_->setText(start);
  SetEnabled(Text4_, station_.Text4.enabled);
  SetVisible(Text4_, station_.Text4.visible);

  for (std::size_t i = 0; i < read_Option_.size(); ++i)
    SyncLabel(read_Option_[i], station_.read_Option[i]);

  SyncList(AP_size_, station_.AP_size);
  SyncLabel(labAP_size_, station_.labAP_size);
  SyncList(comWDT_Prescalar_, station_.comWDT_Prescalar);
  SyncLabel(labWDT_Prescalar_, station_.labWDT_Prescalar);
  SyncFrame(Picture8_, station_.Picture8);
  SyncLabel(labPicture8_, station_.labPicture8);
  for (std::size_t i = 0; i < function_enable_.size(); ++i)
    SyncCheckBox(function_enable_[i], station_.function_enable[i]);

  SyncCheckBox(cheAuto_Increase_, station_.cheAuto_Increase);
  SyncTabs(TabStrip2_, station_.TabStrip2);
}

void MainWindow::SyncDeviceTree() {
  const Station::DeviceTree& tree = station_.treeDevice;
  if (!treeBuilt_ || !SameNodes(shownNodes_, tree.nodes)) RebuildDeviceTree();

  if (shownTreeKey_ != tree.selectedKey) {
    const QSignalBlocker blocker(treeDevice_);
    QTreeWidgetItem* selected = nullptr;
    for (QTreeWidgetItemIterator it(treeDevice_); *it != nullptr && selected == nullptr; ++it)
      if (NodeKey(*it) == tree.selectedKey) selected = *it;
    if (selected != nullptr) {
      for (QTreeWidgetItem* up = selected->parent(); up != nullptr; up = up->parent())
        up->setExpanded(true);
      treeDevice_->setCurrentItem(selected);
    } else {
      treeDevice_->clearSelection();
    }
    shownTreeKey_ = tree.selectedKey;
  }

  SetEnabled(treeDevice_, station_.txtDevice.enabled);
  if (tree.visible && !treeDevice_->isVisible()) {
    ShowDeviceTree();
  } else if (!tree.visible && treeDevice_->isVisible()) {
    treeDevice_->hide();
  }
}

void MainWindow::RebuildDeviceTree() {
  const QSignalBlocker blocker(treeDevice_);
  treeDevice_->clear();
  const std::vector<TreeNode>& nodes = station_.treeDevice.nodes;
  std::vector<QTreeWidgetItem*> items;
  std::map<std::string, QTreeWidgetItem*> byKey;
  for (const TreeNode& node : nodes) {
    auto* item = new QTreeWidgetItem(QStringList(QString::fromStdString(node.text)));
    item->setData(0, kKeyRole, QString::fromStdString(node.key));
    items.push_back(item);
    byKey.emplace(node.key, item);
  }
  // Parents may come after their children in the list; a node whose parent is missing still
  // shows, at the root, rather than being lost.
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const auto parent = byKey.find(nodes[i].parentKey);
    if (nodes[i].parentKey.empty() || parent == byKey.end() || parent->second == items[i])
      treeDevice_->addTopLevelItem(items[i]);
    else
      parent->second->addChild(items[i]);
  }
  shownNodes_ = nodes;
  shownTreeKey_.reset();
  treeBuilt_ = true;
}

void MainWindow::ShowDeviceTree() {
  const int frame = 2 * treeDevice_->frameWidth();
  const int rowHeight = std::max(treeDevice_->sizeHintForRow(0), fontMetrics().height());
  // Wide enough for every node, collapsed or not, so that opening a family does not cut names.
  int rows = 0;
  int widest = 0;
  for (QTreeWidgetItemIterator it(treeDevice_); *it != nullptr; ++it) {
    ++rows;
    int depth = 1;
    for (const QTreeWidgetItem* up = (*it)->parent(); up != nullptr; up = up->parent()) ++depth;
    widest = std::max(widest, treeDevice_->fontMetrics().horizontalAdvance((*it)->text(0)) +
                                  depth * treeDevice_->indentation());
  }
  const int width = std::max(txtDevice_->width(),
                             widest + fontMetrics().averageCharWidth() * 2 +
                                 treeDevice_->verticalScrollBar()->sizeHint().width() + frame);
  const int height = rowHeight * std::clamp(rows, 1, kTreeRowsShown) + frame;

  QPoint at = txtDevice_->mapToGlobal(QPoint(0, txtDevice_->height()));
  if (const QScreen* screen = txtDevice_->screen()) {
    const QRect room = screen->availableGeometry();
    // No room below: open above the box, as a drop-down list does.
    if (at.y() + height > room.bottom() && at.y() - txtDevice_->height() - height >= room.top())
      at.setY(at.y() - txtDevice_->height() - height);
    at.setX(std::clamp(at.x(), room.left(), std::max(room.left(), room.right() - width)));
  }
  treeDevice_->setGeometry(QRect(at, QSize(width, height)));
  treeDevice_->show();
  if (QTreeWidgetItem* current = treeDevice_->currentItem()) treeDevice_->scrollToItem(current);
  treeDevice_->setFocus();
}

void MainWindow::SyncOptionRows() {
  bool captionsChanged = false;
  auto setText = [&captionsChanged](QAbstractButton* button, const std::string& text) {
    const QString caption = QString::fromStdString(text);
    if (button->text() == caption) return;
    button->setText(caption);
    captionsChanged = true;
  };
  for (int row = 0; row < kRows; ++row) {
    const auto i = static_cast<std::size_t>(row);
    const QString english = LabOptionE_[i]->text();
    const QString chinese = LabOptionC_[i]->text();
    SyncFrame(Picture2_[i], station_.Picture2[i]);
    SyncLabel(LabOptionE_[i], station_.LabOptionE[i]);
    SyncLabel(LabOptionC_[i], station_.LabOptionC[i]);
    captionsChanged =
        captionsChanged || english != LabOptionE_[i]->text() || chinese != LabOptionC_[i]->text();

    const OptionPair& pair = station_.Option[i];
    QButtonGroup* group = optionChoices_[i];
    for (int choice = 0; choice < 2; ++choice) {
      QAbstractButton* button = group->button(choice);
      setText(button, pair.captions[choice]);
      if (button->isChecked() != (pair.selected == choice)) {
        // A pair may have neither choice selected; an exclusive group would not let go.
        group->setExclusive(false);
        button->setChecked(pair.selected == choice);
        group->setExclusive(true);
      }
    }
    SetEnabled(Option_[i], pair.enabled);
  }
  if (captionsChanged) AlignOptionRows();
}

void MainWindow::AlignOptionRows() {
  // The rows line up in columns whatever their captions: each column as wide as its widest
  // entry in a visible row.
  // Measured from the text: a label's size hint keeps the width it was last given.
  auto textWidth = [](const QLabel* label) {
    return label->fontMetrics().horizontalAdvance(label->text()) + 2 * label->margin() + 2 +
           label->contentsMargins().left() + label->contentsMargins().right();
  };
  int english = 0, chinese = 0, choice[2] = {0, 0};
  for (std::size_t i = 0; i < Picture2_.size(); ++i) {
    if (!station_.Picture2[i].visible) continue;
    english = std::max(english, textWidth(LabOptionE_[i]));
    if (station_.LabOptionC[i].visible) chinese = std::max(chinese, textWidth(LabOptionC_[i]));
    for (int c = 0; c < 2; ++c)
      choice[c] = std::max(choice[c], optionChoices_[i]->button(c)->sizeHint().width());
  }
  // Fixed rather than minimum widths: the layout goes by the size hints, which lag behind.
  for (std::size_t i = 0; i < Picture2_.size(); ++i) {
    LabOptionE_[i]->setFixedWidth(english);
    LabOptionC_[i]->setFixedWidth(chinese);
    for (int c = 0; c < 2; ++c) optionChoices_[i]->button(c)->setFixedWidth(choice[c]);
  }
}

void MainWindow::SyncTabs(QTabWidget* widget, const TabStrip& strip) {
  const QSignalBlocker blocker(widget);
  const int count = std::min(widget->count(), static_cast<int>(strip.tabs.size()));
  for (int i = 0; i < count; ++i) {
    const bool offered = strip.Offered(static_cast<std::size_t>(i));
    if (offered) {
      const QString caption =
          QString::fromStdString(strip.tabs[static_cast<std::size_t>(i)].caption);
      if (widget->tabText(i) != caption) widget->setTabText(i, caption);
    }
    if (widget->isTabVisible(i) != offered) widget->setTabVisible(i, offered);
  }
  if (strip.selected < count && strip.Offered(static_cast<std::size_t>(strip.selected)) &&
      widget->currentIndex() != strip.selected)
    widget->setCurrentIndex(strip.selected);
}

}  // namespace kvr
