#include "gui/main_window.h"
#include "gui/widget_sync.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <string_view>

namespace kvr {

namespace {

bool IsContinuationByte(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// Widget position of a byte offset into the log: a caret inside a character or inside a line
// break stands before it.
int DisplayPosition(const std::string& text, std::size_t caret) {
  caret = std::min(caret, text.size());
  while (caret > 0 && caret < text.size() && IsContinuationByte(text[caret])) --caret;
  if (caret > 0 && caret < text.size() && text[caret - 1] == '\r' && text[caret] == '\n') --caret;
  return static_cast<int>(ToDisplay(std::string_view(text).substr(0, caret)).size());
}

// New log text that only adds to what is shown, and does not start inside a character or
// inside a line break already drawn.
bool ExtendsShown(const std::string& shown, const std::string& text) {
  if (text.size() <= shown.size() || text.compare(0, shown.size(), shown) != 0) return false;
  if (shown.empty()) return true;
  const char next = text[shown.size()];
  return !IsContinuationByte(next) && !(shown.back() == '\r' && next == '\n');
}

// The function list: its highlight is the station's, so the operator changes it only through
// the click handler, never by the view's own selection rules. Moving with the keys is a click
// on the entry moved to.
class FunctionList : public QListWidget {
 public:
  std::function<void(int)> onKeyMove;

 protected:
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex&,
                                                       const QEvent*) const override {
    return QItemSelectionModel::NoUpdate;
  }

  void keyPressEvent(QKeyEvent* event) override {
    const int before = currentRow();
    QListWidget::keyPressEvent(event);
    if (currentRow() != before && currentRow() >= 0 && onKeyMove) onKeyMove(currentRow());
  }
};

}  // namespace

MainWindow::MainWindow(Station& station, const PortMap& ports, QWidget* parent)
    : QMainWindow(parent), station_(station), ports_(ports) {
  setWindowTitle(QStringLiteral("KVR programming station"));
  BuildWidgets();
  BuildLayout();
  Connect();
  Sync();
}

MainWindow::~MainWindow() {
  if (busyCursorShown_) QApplication::restoreOverrideCursor();
}

void MainWindow::BuildWidgets() {
  textMsg_ = new QPlainTextEdit;
  textMsg_->setObjectName(QStringLiteral("textMsg"));
  textMsg_->setReadOnly(true);
  // Read-only, but the caret stays visible and the operator can select and copy.
  textMsg_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  textMsg_->setUndoRedoEnabled(false);
  textMsg_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

  comDownload_ = new QPushButton;
  comDownload_->setObjectName(QStringLiteral("comDownload"));
  comStop_Download_ = new QPushButton;
  comStop_Download_->setObjectName(QStringLiteral("comStop_Download"));
  for (QPushButton* button : {comDownload_, comStop_Download_}) {
    button->setMinimumHeight(button->sizeHint().height() * 3 / 2);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  }

  auto* functions = new FunctionList;
  txtFuction_ = functions;
  txtFuction_->setObjectName(QStringLiteral("txtFuction"));
  txtFuction_->setSelectionMode(QAbstractItemView::SingleSelection);
  txtFuction_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  txtFuction_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  for (const TextEntry& entry : station_.txtFuction)
    txtFuction_->addItem(QString::fromStdString(entry.text));
  // Every entry in sight, whatever the window's size.
  const int frame = 2 * txtFuction_->frameWidth();
  txtFuction_->setFixedHeight(txtFuction_->sizeHintForRow(0) * txtFuction_->count() + frame);
  txtFuction_->setMinimumWidth(txtFuction_->sizeHintForColumn(0) + frame +
                               txtFuction_->fontMetrics().averageCharWidth() * 4);

  combCommPort_ = new QComboBox;
  combCommPort_->setObjectName(QStringLiteral("combCommPort"));
  Combo1_ = new QComboBox;
  Combo1_->setObjectName(QStringLiteral("Combo1"));
  for (QComboBox* box : {combCommPort_, Combo1_})
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);

  ProgressBar1_ = new QProgressBar;
  ProgressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
  labKbyte_ = new QLabel;
  labKbyte_->setObjectName(QStringLiteral("labKbyte"));
  labKbyte_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  // Shown only while an operation runs; the row keeps its place meanwhile.
  for (QWidget* widget : {static_cast<QWidget*>(ProgressBar1_), static_cast<QWidget*>(labKbyte_)}) {
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
  }
  // Room for the largest size, so the bar does not jump as the figure grows.
  labKbyte_->setMinimumWidth(
      labKbyte_->fontMetrics().horizontalAdvance(QStringLiteral("0000.000K")) +
      labKbyte_->fontMetrics().averageCharWidth() * 2);

  BuildDeviceWidgets();
  BuildImageWidgets();
}

void MainWindow::BuildLayout() {
  framStep_ = new QGroupBox;
  framStep_->setObjectName(QStringLiteral("framStep"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(comDownload_);
  buttons->addWidget(comStop_Download_);
  auto* programLayout = new QVBoxLayout(framStep_);
  programLayout->addWidget(txtFuction_);
  programLayout->addLayout(buttons);
  programLayout->addWidget(comReDownload_);
  auto* programColumn = new QVBoxLayout;
  programColumn->addWidget(framStep_);
  programColumn->addWidget(BuildReadBack(), 1);

  auto* message = new QGroupBox(CaptionText("framMsg"));
  message->setObjectName(QStringLiteral("framMsg"));
  auto* messageLayout = new QVBoxLayout(message);
  messageLayout->addWidget(textMsg_);
  auto* rightColumn = new QVBoxLayout;
  rightColumn->addWidget(message, 2);
  rightColumn->addWidget(BuildBufferView(), 3);

  auto* upper = new QHBoxLayout;
  upper->addWidget(BuildUpperTabStrip(BuildDeviceLayout()));
  upper->addLayout(programColumn);
  upper->addLayout(rightColumn, 1);

  auto* lower = new QHBoxLayout;
  lower->addWidget(BuildFileFrame());
  lower->addWidget(BuildTabStrip(), 1);

  auto* progressRow = new QHBoxLayout;
  progressRow->addWidget(ProgressBar1_, 1);
  progressRow->addWidget(labKbyte_);

  auto* central = new QWidget;
  auto* root = new QVBoxLayout(central);
  root->addLayout(upper, 1);
  root->addLayout(lower);
  root->addLayout(progressRow);
  setCentralWidget(central);

  // The log gets what is left beyond everything else's needs.
  textMsg_->setMinimumSize(textMsg_->fontMetrics().averageCharWidth() * 48,
                           textMsg_->fontMetrics().lineSpacing() * 5);
  resize(sizeHint().expandedTo(QSize(1280, 800)));
}

void MainWindow::Connect() {
  connect(comDownload_, &QPushButton::clicked, this, [this] {
    if (!station_.comDownload.enabled) return;
    station_.OnProgramClick();
    Sync();
  });
  connect(comStop_Download_, &QPushButton::clicked, this, [this] {
    if (!station_.comStop_Download.enabled) return;
    station_.OnStopClick();
    Sync();
  });

  auto entryEnabled = [this](int row) {
    return row >= 0 && row < Station::kFunctions &&
           station_.txtFuction[static_cast<std::size_t>(row)].enabled;
  };
  auto click = [this, entryEnabled](int row) {
    if (!entryEnabled(row)) return;
    station_.OnFunctionClick(row);
    Sync();
  };
  static_cast<FunctionList*>(txtFuction_)->onKeyMove = click;
  connect(txtFuction_, &QListWidget::itemClicked, this,
          [this, click](QListWidgetItem* item) { click(txtFuction_->row(item)); });
  connect(txtFuction_, &QListWidget::itemDoubleClicked, this,
          [this, entryEnabled](QListWidgetItem* item) {
            const int row = txtFuction_->row(item);
            if (!entryEnabled(row)) return;
            station_.OnFunctionDoubleClick(row);
            Sync();
          });

  connect(combCommPort_, &QComboBox::activated, this, [this](int index) {
    if (station_.combCommPort.enabled) station_.OnPortChange(index);
    Sync();
  });
  connect(Combo1_, &QComboBox::activated, this, [this](int index) {
    if (station_.Combo1.enabled) station_.OnBaudClick(index);
    Sync();
  });
  ConnectDevice();
  ConnectImage();
  ConnectOffline();
  ConnectIspDemo();
}

void MainWindow::Sync() {
  SyncLog();
  SyncButton(comDownload_, station_.comDownload);
  SyncButton(comStop_Download_, station_.comStop_Download);
  SyncFunctions();
  SyncList(combCommPort_, station_.combCommPort, true);
  SyncList(Combo1_, station_.Combo1, false);
  SyncDevice();
  SyncImage();
  SyncOffline();
  SyncIspDemo();

  const ProgressBar& bar = station_.ProgressBar1;
  // An empty range would turn the bar into a busy indicator; a value outside the range would
  // leave the old one standing.
  const int maximum = std::max(bar.maximum, bar.minimum + 1);
  if (ProgressBar1_->minimum() != bar.minimum || ProgressBar1_->maximum() != maximum)
    ProgressBar1_->setRange(bar.minimum, maximum);
  const int value = std::clamp(bar.value, bar.minimum, maximum);
  if (ProgressBar1_->value() != value) ProgressBar1_->setValue(value);
  if (ProgressBar1_->isHidden() == bar.visible) ProgressBar1_->setVisible(bar.visible);

  const QString size = QString::fromStdString(station_.labKbyte.caption);
  if (labKbyte_->text() != size) labKbyte_->setText(size);
  if (labKbyte_->isHidden() == station_.labKbyte.visible)
    labKbyte_->setVisible(station_.labKbyte.visible);
}

void MainWindow::SyncLog() {
  const MessageLog& log = station_.textMsg;
  if (logShown_ && log.Revision() == shownRevision_) return;
  const std::string& text = log.Text();
  if (text != shownLog_) {
    if (ExtendsShown(shownLog_, text)) {
      QTextCursor end(textMsg_->document());
      end.movePosition(QTextCursor::End);
      end.insertText(ToDisplay(std::string_view(text).substr(shownLog_.size())));
      shownLog_.append(text, shownLog_.size());
    } else {
      textMsg_->setPlainText(ToDisplay(text));
      shownLog_ = text;
    }
  }
  QTextCursor caret = textMsg_->textCursor();
  const int last = textMsg_->document()->characterCount() - 1;
  caret.setPosition(
      log.Caret() >= text.size() ? last : std::min(DisplayPosition(text, log.Caret()), last));
  textMsg_->setTextCursor(caret);
  textMsg_->ensureCursorVisible();
  shownRevision_ = log.Revision();
  logShown_ = true;
}

void MainWindow::SyncFunctions() {
  int highlighted = -1;
  for (int row = 0; row < txtFuction_->count() && row < Station::kFunctions; ++row) {
    const TextEntry& entry = station_.txtFuction[static_cast<std::size_t>(row)];
    QListWidgetItem* item = txtFuction_->item(row);
    const QString text = QString::fromStdString(entry.text);
    if (item->text() != text) item->setText(text);
    // Selectable either way: the station may highlight an entry the operator cannot click.
    const Qt::ItemFlags flags =
        entry.enabled ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::ItemIsSelectable;
    if (item->flags() != flags) item->setFlags(flags);
    if (item->isSelected() != entry.highlighted) item->setSelected(entry.highlighted);
    if (entry.highlighted && highlighted < 0) highlighted = row;
  }
  // The keys move on from the highlighted entry.
  if (highlighted >= 0 && txtFuction_->currentRow() != highlighted)
    txtFuction_->setCurrentRow(highlighted, QItemSelectionModel::NoUpdate);
}

QString MainWindow::PortEntryText(const std::string& entry) const {
  const QString name = QString::fromStdString(entry);
  const std::string target = ports_.Target(PortMap::ParsePortName(entry));
  if (target.empty() || target == entry) return name;
  return name + QStringLiteral("  \u2192  ") + QString::fromStdString(target);
}

void MainWindow::SyncList(QComboBox* box, const ListControl& list, bool showTargets) {
  const QSignalBlocker blocker(box);
  bool same = box->count() == static_cast<int>(list.entries.size());
  for (int i = 0; same && i < box->count(); ++i)
    same = box->itemData(i).toString().toStdString() == list.entries[static_cast<std::size_t>(i)];
  if (!same) {
    box->clear();
    for (const std::string& entry : list.entries)
      box->addItem(showTargets ? PortEntryText(entry) : QString::fromStdString(entry),
                   QString::fromStdString(entry));
  }
  const int index = list.index >= 0 && list.index < box->count() ? list.index : -1;
  if (box->currentIndex() != index) box->setCurrentIndex(index);
  if (box->isEnabledTo(box->parentWidget()) != list.enabled) box->setEnabled(list.enabled);
  if (box->isHidden() == list.visible) box->setVisible(list.visible);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // The first request is still waiting for the deferred save; the window closes when it ends.
  if (closing_) {
    event->ignore();
    return;
  }
  closing_ = true;
  station_.QueryUnload();
  station_.Unload();
  closing_ = false;
  Sync();
  event->accept();
}

}  // namespace kvr
