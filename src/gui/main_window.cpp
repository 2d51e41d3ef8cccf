#include "gui/main_window.h"
#include "gui/widget_sync.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QTextCursor>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <string_view>

#include "app/captions.h"

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

MainWindow::MainWindow(Station& station, PortMap& ports, QWidget* parent)
    : QMainWindow(parent), station_(station), ports_(ports) {
  setAcceptDrops(true);
  BuildWidgets();
  BuildLayout();
  BuildMenus();
  Connect();
  Sync();
}

MainWindow::~MainWindow() {
  if (busyCursorShown_) QApplication::restoreOverrideCursor();
}

void MainWindow::SetAbout(const QString& version, const QString& settingsFile) {
  version_ = version;
  settingsFile_ = settingsFile;
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

  combCommPort_ = NewPortBox([this] { RefreshPorts(); });
  combCommPort_->setObjectName(QStringLiteral("combCommPort"));
  Combo1_ = new QComboBox;
  Combo1_->setObjectName(QStringLiteral("Combo1"));
  Combo1_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  // A long device name shows in the open list, not by widening the page.
  combCommPort_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  combCommPort_->setMinimumContentsLength(26);

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

  // The operator's column: the verdict, the functions with Program and Stop, the chips so far.
  auto* operatorColumn = new QWidget;
  auto* operatorLayout = new QVBoxLayout(operatorColumn);
  operatorLayout->setContentsMargins(0, 0, 0, 0);
  operatorLayout->addWidget(BuildVerdictPanel());
  operatorLayout->addWidget(framStep_);
  operatorLayout->addWidget(BuildHistory(), 1);
  operatorPane_ = new QScrollArea;
  operatorPane_->setObjectName(QStringLiteral("operatorPane"));
  operatorPane_->setWidgetResizable(true);
  operatorPane_->setFrameShape(QFrame::NoFrame);
  operatorPane_->setWidget(operatorColumn);

  auto* message = new QGroupBox;
  message->setObjectName(QStringLiteral("framMsg"));
  Caption("framMsg", [message](const QString& text) { message->setTitle(text); });
  auto* messageLayout = new QVBoxLayout(message);
  messageLayout->addWidget(textMsg_);
  auto* fileAndBuffer = new QWidget;
  auto* fileAndBufferLayout = new QVBoxLayout(fileAndBuffer);
  fileAndBufferLayout->setContentsMargins(0, 0, 0, 0);
  fileAndBufferLayout->addWidget(BuildFileFrame());
  fileAndBufferLayout->addWidget(BuildBufferView(), 1);

  setupPanes_ = new QSplitter(Qt::Vertical);
  setupPanes_->setObjectName(QStringLiteral("setupPanes"));
  setupPanes_->addWidget(BuildUpperTabStrip(BuildDeviceLayout()));
  setupPanes_->addWidget(BuildTabStrip());
  setupPanes_->setStretchFactor(0, 3);
  setupPanes_->setStretchFactor(1, 1);
  viewPanes_ = new QSplitter(Qt::Vertical);
  viewPanes_->setObjectName(QStringLiteral("viewPanes"));
  viewPanes_->addWidget(message);
  viewPanes_->addWidget(fileAndBuffer);
  viewPanes_->setStretchFactor(0, 2);
  viewPanes_->setStretchFactor(1, 3);

  // The panes keep the widths they are given: a tab or a caption that needs more scrolls
  // inside its pane instead of pushing the others aside.
  panes_ = new QSplitter(Qt::Horizontal);
  panes_->setObjectName(QStringLiteral("panes"));
  panes_->addWidget(setupPanes_);
  panes_->addWidget(operatorPane_);
  panes_->addWidget(viewPanes_);
  panes_->setStretchFactor(0, 0);
  panes_->setStretchFactor(1, 0);
  panes_->setStretchFactor(2, 1);
  for (QSplitter* splitter : {panes_, setupPanes_, viewPanes_})
    splitter->setChildrenCollapsible(false);

  auto* progressRow = new QHBoxLayout;
  progressRow->addWidget(ProgressBar1_, 1);
  progressRow->addWidget(labKbyte_);

  auto* central = new QWidget;
  auto* root = new QVBoxLayout(central);
  root->addWidget(panes_, 1);
  root->addLayout(progressRow);
  setCentralWidget(central);

  textMsg_->setMinimumSize(textMsg_->fontMetrics().averageCharWidth() * 24,
                           textMsg_->fontMetrics().lineSpacing() * 4);
  // Fits a 1024 x 768 screen with a task bar and a title bar.
  setMinimumSize(QSize(800, 560).expandedTo(minimumSizeHint()).boundedTo(QSize(1000, 640)));
}

void MainWindow::ShowOnScreen(const QRect& room) {
  // Room for the frame the window manager puts around the window.
  const QSize frame = isVisible() ? frameGeometry().size() - geometry().size() : QSize(16, 40);
  const QSize fits = (room.size() - frame).expandedTo(minimumSize());
  const QByteArray stored =
      QByteArray::fromBase64(QByteArray::fromStdString(station_.ReadWindowSetting("Geometry")));
  if (stored.isEmpty() || !restoreGeometry(stored)) {
    resize(QSize(1280, 800).boundedTo(fits));
    // A window's position is its frame's.
    move(room.left() + std::max(room.width() - width() - frame.width(), 0) / 2,
         room.top() + std::max(room.height() - height() - frame.height(), 0) / 2);
    // The set-up pane as wide as its widest page wants, within reason; the operator's column
    // a fifth; the log and the buffer view the rest.
    int pages = 0;
    for (QTabWidget* tabs : {TabStrip1_, TabStrip2_})
      for (int i = 0; i < tabs->count(); ++i)
        if (auto* page = qobject_cast<QScrollArea*>(tabs->widget(i)))
          pages = std::max(pages, page->widget()->sizeHint().width() +
                                      page->verticalScrollBar()->sizeHint().width() + 8);
    const int left = std::clamp(pages, 340, std::max(340, width() * 42 / 100));
    const int middle = std::clamp(width() / 5, operatorPane_->minimumWidth(),
                                  std::max(operatorPane_->minimumWidth(), 320));
    panes_->setSizes({left, middle, std::max(width() - left - middle, 1)});
    // The lower tab strip as tall as its tallest page, up to about half the pane.
    int lower = 0;
    for (int i = 0; i < TabStrip2_->count(); ++i)
      if (auto* page = qobject_cast<QScrollArea*>(TabStrip2_->widget(i)))
        lower = std::max(lower, page->widget()->sizeHint().height());
    const int tall = std::max(height() - menuBar()->sizeHint().height() - 40, 200);
    lower = std::clamp(lower + TabStrip2_->tabBar()->sizeHint().height() + 8, 120, tall * 45 / 100);
    setupPanes_->setSizes({tall - lower, lower});
  } else if (width() > fits.width() || height() > fits.height()) {
    resize(size().boundedTo(fits));
  }
  for (auto [splitter, key] : {std::pair{panes_, "Panes"}, std::pair{setupPanes_, "SetupPanes"},
                               std::pair{viewPanes_, "ViewPanes"}}) {
    const std::string state = station_.ReadWindowSetting(key);
    if (!state.empty())
      splitter->restoreState(QByteArray::fromBase64(QByteArray::fromStdString(state)));
  }
  // Inside the room, also when the stored place was on a screen no longer there.
  QRect place = frameGeometry();
  if (!room.contains(place.topLeft()) || !room.contains(place.bottomRight()))
    move(std::clamp(place.left(), room.left(), std::max(room.left(), room.right() - width())),
         std::clamp(place.top(), room.top(),
                    std::max(room.top(), room.bottom() - height() - frame.height())));
  show();
}

void MainWindow::SaveWindowState() {
  station_.WriteWindowSetting("Geometry", saveGeometry().toBase64().toStdString());
  station_.WriteWindowSetting("Panes", panes_->saveState().toBase64().toStdString());
  station_.WriteWindowSetting("SetupPanes", setupPanes_->saveState().toBase64().toStdString());
  station_.WriteWindowSetting("ViewPanes", viewPanes_->saveState().toBase64().toStdString());
}

void MainWindow::Caption(const char* key, std::function<void(const QString&)> apply) {
  if (captionsEnglish_) apply(CaptionText(key));
  captions_.emplace_back(key, std::move(apply));
}

void MainWindow::BuildMenus() {
  auto* file = menuBar()->addMenu(QString());
  Caption("menuFile", [file](const QString& text) { file->setTitle(text); });
  openAction_ = file->addAction(QString(), this, [this] {
    if (station_.comLoadFile.enabled && !station_.RunInProgress()) station_.OnLoadFileClick();
    Sync();
  });
  openAction_->setShortcut(QKeySequence::Open);
  Caption("actOpen", [this](const QString& text) { openAction_->setText(text); });
  recentMenu_ = file->addMenu(QString());
  Caption("menuRecent", [this](const QString& text) {
    recentMenu_->setTitle(text);
    shownRecent_.clear();  // its "(none)" entry follows the language too
  });
  saveAsAction_ = file->addAction(QString(), this, [this] {
    if (station_.comStoreFile.enabled) station_.BinExport();
    Sync();
  });
  saveAsAction_->setShortcut(QKeySequence::SaveAs);
  Caption("actSaveAs", [this](const QString& text) { saveAsAction_->setText(text); });
  file->addSeparator();
  // Jobs: a setup saved once, opened on every station of the line.
  openJobAction_ = file->addAction(QString(), this, [this] {
    station_.OnOpenJobClick(false);
    Sync();
  });
  Caption("actOpenJob", [this](const QString& text) { openJobAction_->setText(text); });
  openJobLockedAction_ = file->addAction(QString(), this, [this] {
    station_.OnOpenJobClick(true);
    Sync();
  });
  Caption("actOpenJobLocked", [this](const QString& text) { openJobLockedAction_->setText(text); });
  saveJobAction_ = file->addAction(QString(), this, [this] {
    station_.OnSaveJobClick();
    Sync();
  });
  Caption("actSaveJob", [this](const QString& text) { saveJobAction_->setText(text); });
  leaveOperatorAction_ = file->addAction(QString(), this, [this] {
    station_.OnLeaveOperatorModeClick();
    Sync();
  });
  Caption("actLeaveOperatorMode",
          [this](const QString& text) { leaveOperatorAction_->setText(text); });
  file->addSeparator();
  QAction* quit = file->addAction(QString(), this, [this] { close(); });
  quit->setShortcut(QKeySequence::Quit);
  Caption("actQuit", [quit](const QString& text) { quit->setText(text); });

  auto* device = menuBar()->addMenu(QString());
  Caption("menuDevice", [device](const QString& text) { device->setTitle(text); });
  for (int row = 0; row < Station::kFunctions; ++row) {
    functionActions_[static_cast<std::size_t>(row)] =
        device->addAction(QString(), this, [this, row] {
          if (!station_.comDownload.enabled || station_.RunInProgress()) return;
          station_.OnFunctionClick(row);
          ProgramHighlighted();
        });
  }
  device->addSeparator();
  programAction_ = device->addAction(QString(), this, [this] { ProgramHighlighted(); });
  programAction_->setShortcut(Qt::Key_F5);
  stopAction_ = device->addAction(QString(), this, [this] { StopRun(); });
  stopAction_->setShortcut(Qt::Key_Escape);
  Caption("actStop", [this](const QString& text) { stopAction_->setText(text); });

  auto* view = menuBar()->addMenu(QString());
  Caption("menuView", [view](const QString& text) { view->setTitle(text); });
  auto* language = view->addMenu(QString());
  Caption("menuLanguage", [language](const QString& text) { language->setTitle(text); });
  auto* languages = new QActionGroup(this);
  const std::pair<const char*, bool> choices[] = {{"English", true}, {"中文", false}};
  for (std::size_t i = 0; i < languageActions_.size(); ++i) {
    const bool english = choices[i].second;
    QAction* action =
        language->addAction(QString::fromUtf8(choices[i].first), this, [this, english] {
          station_.SetLanguage(english);
          Sync();
        });
    action->setCheckable(true);
    languages->addAction(action);
    languageActions_[i] = action;
  }

  auto* help = menuBar()->addMenu(QString());
  Caption("menuHelp", [help](const QString& text) { help->setTitle(text); });
  auto box = [this](const char* key, std::function<QString(QString)> fill) {
    return [this, key, fill] {
      QMessageBox::information(this, CaptionText("title"), fill(CaptionText(key)));
    };
  };
  QAction* quickHelp =
      help->addAction(QString(), this, box("quickHelp", [](QString text) { return text; }));
  quickHelp->setShortcut(QKeySequence::HelpContents);
  Caption("actQuickHelp", [quickHelp](const QString& text) { quickHelp->setText(text); });
  QAction* where = help->addAction(QString(), this, box("settingsFile", [this](QString text) {
                                     return text.arg(settingsFile_);
                                   }));
  Caption("actSettingsFile", [where](const QString& text) { where->setText(text); });
  QAction* about = help->addAction(
      QString(), this, box("about", [this](QString text) { return text.arg(version_); }));
  Caption("actAbout", [about](const QString& text) { about->setText(text); });

  // The keys, where the hand goes for the buttons.
  Caption("shortcutProgram", [this](const QString& text) { comDownload_->setToolTip(text); });
  Caption("shortcutStop", [this](const QString& text) { comStop_Download_->setToolTip(text); });
  Caption("shortcutOpen", [this](const QString& text) { comLoadFile_->setToolTip(text); });
}

void MainWindow::ProgramHighlighted() {
  if (!station_.comDownload.enabled || station_.RunInProgress()) return;
  station_.OnProgramClick();
  Sync();
}

void MainWindow::StopRun() {
  if (!station_.comStop_Download.enabled) return;
  station_.OnStopClick();
  Sync();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  // Return starts the highlighted function, as a foot switch sending it does, unless it ends
  // the operator's typing.
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  QWidget* focus = QApplication::focusWidget();
  const bool typing =
      qobject_cast<QLineEdit*>(focus) != nullptr ||
      qobject_cast<QAbstractSpinBox*>(focus) != nullptr ||
      (qobject_cast<QComboBox*>(focus) != nullptr && static_cast<QComboBox*>(focus)->isEditable());
  if (enter && event->modifiers() == Qt::NoModifier && !typing) {
    ProgramHighlighted();
    event->accept();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

QString MainWindow::DroppedFile(const QMimeData* data) const {
  if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) return {};
  const QUrl url = data->urls().front();
  if (!url.isLocalFile()) return {};
  const QFileInfo info(url.toLocalFile());
  return info.isFile() ? info.filePath() : QString();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (station_.comLoadFile.enabled && !station_.RunInProgress() &&
      !DroppedFile(event->mimeData()).isEmpty())
    event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QString path = DroppedFile(event->mimeData());
  if (path.isEmpty() || !station_.comLoadFile.enabled || station_.RunInProgress()) return;
  event->acceptProposedAction();
  station_.OpenFileAt(path.toStdString());
  Sync();
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

  connect(combCommPort_, &QComboBox::activated, this, [this](int index) { ChoosePort(index); });
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
  SyncWindow();
  SyncLog();
  SyncButton(comDownload_, station_.comDownload);
  SyncButton(comStop_Download_, station_.comStop_Download);
  SyncFunctions();
  SyncPorts();
  SyncList(Combo1_, station_.Combo1);
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
  SyncVerdict();
  SyncHistory();
  SyncMenus();
  // A caption or a number grown wider widens the column rather than cutting it.
  if (layoutStale_ || operatorPane_->widget()->minimumSizeHint().width() +
                              operatorPane_->verticalScrollBar()->sizeHint().width() >
                          operatorPane_->minimumWidth())
    FitOperatorPane();
}

void MainWindow::SyncWindow() {
  if (captionsEnglish_ != station_.UseEnglish) {
    captionsEnglish_ = station_.UseEnglish;
    for (const auto& [key, apply] : captions_) apply(CaptionText(key));
    layoutStale_ = true;
  }
  QString title = CaptionText("title");
  if (station_.Job) title += QStringLiteral(" - ") + QString::fromStdString(station_.JobTitle());
  if (station_.FileLoaded && !station_.LoadedFileName.empty()) {
    title += QStringLiteral(" - ") +
             QFileInfo(QString::fromStdString(station_.LoadedFileName)).fileName();
    if (station_.BufferChanged) title += QStringLiteral(" *");
  }
  if (title != shownTitle_) {
    setWindowTitle(title);
    shownTitle_ = title;
  }
}

void MainWindow::SyncMenus() {
  const bool idle = !station_.RunInProgress();
  for (int row = 0; row < Station::kFunctions; ++row) {
    QAction* action = functionActions_[static_cast<std::size_t>(row)];
    const TextEntry& entry = station_.txtFuction[static_cast<std::size_t>(row)];
    const QString text = QString::fromStdString(OperationCaption(entry.text, station_.UseEnglish));
    if (action->text() != text) action->setText(text);
    action->setEnabled(idle && station_.comDownload.enabled && entry.enabled);
  }
  const QString program = QString::fromStdString(station_.comDownload.caption);
  if (programAction_->text() != program) programAction_->setText(program);
  programAction_->setEnabled(idle && station_.comDownload.enabled);
  stopAction_->setEnabled(station_.comStop_Download.enabled);
  openAction_->setEnabled(idle && station_.comLoadFile.enabled);
  recentMenu_->setEnabled(idle && station_.comLoadFile.enabled);
  saveAsAction_->setEnabled(idle && station_.comStoreFile.enabled);
  const bool jobs = idle && !station_.OperatorMode;
  for (QAction* action : {openJobAction_, openJobLockedAction_, saveJobAction_})
    action->setEnabled(jobs);
  leaveOperatorAction_->setEnabled(idle && station_.OperatorMode);
  for (std::size_t i = 0; i < languageActions_.size(); ++i) {
    languageActions_[i]->setEnabled(idle);
    const bool chosen = station_.UseEnglish == (i == 0);
    if (languageActions_[i]->isChecked() != chosen) languageActions_[i]->setChecked(chosen);
  }
  if (shownRecent_ != station_.RecentFiles || recentMenu_->isEmpty()) {
    recentMenu_->clear();
    for (const std::string& path : station_.RecentFiles)
      recentMenu_->addAction(QString::fromStdString(path), this, [this, path] {
        station_.OpenFileAt(path);
        Sync();
      });
    if (station_.RecentFiles.empty())
      recentMenu_->addAction(CaptionText("noRecent"))->setEnabled(false);
    shownRecent_ = station_.RecentFiles;
  }
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

void MainWindow::FitOperatorPane() {
  // Every entry of the function list in sight, in either language's font.
  const int frame = 2 * txtFuction_->frameWidth();
  txtFuction_->setFixedHeight(txtFuction_->sizeHintForRow(0) * txtFuction_->count() + frame);
  txtFuction_->setMinimumWidth(txtFuction_->sizeHintForColumn(0) + frame +
                               txtFuction_->fontMetrics().averageCharWidth() * 4);
  operatorPane_->widget()->adjustSize();
  const int need = operatorPane_->widget()->minimumSizeHint().width() +
                   operatorPane_->verticalScrollBar()->sizeHint().width();
  // The log's pane gives up the room; the set-up pane stays as wide as it was.
  QList<int> sizes = panes_->sizes();
  const bool grows = sizes.size() == 3 && sizes[1] > 0 && sizes[1] < need;
  if (grows) {
    sizes[2] = std::max(sizes[2] - (need - sizes[1]), 1);
    sizes[1] = need;
  }
  operatorPane_->setMinimumWidth(need);
  if (grows) panes_->setSizes(sizes);
  layoutStale_ = false;
}

void MainWindow::SyncFunctions() {
  int highlighted = -1;
  for (int row = 0; row < txtFuction_->count() && row < Station::kFunctions; ++row) {
    const TextEntry& entry = station_.txtFuction[static_cast<std::size_t>(row)];
    QListWidgetItem* item = txtFuction_->item(row);
    const QString text = QString::fromStdString(OperationCaption(entry.text, station_.UseEnglish));
    if (item->text() != text) {
      item->setText(text);
      layoutStale_ = true;
    }
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

void MainWindow::SyncList(QComboBox* box, const ListControl& list) {
  const QSignalBlocker blocker(box);
  bool same = box->count() == static_cast<int>(list.entries.size());
  for (int i = 0; same && i < box->count(); ++i)
    same = box->itemText(i).toStdString() == list.entries[static_cast<std::size_t>(i)];
  if (!same) {
    box->clear();
    for (const std::string& entry : list.entries) box->addItem(QString::fromStdString(entry));
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
  SaveWindowState();
  station_.QueryUnload();
  station_.Unload();
  closing_ = false;
  Sync();
  event->accept();
}

}  // namespace kvr
