// The file frame, the region display, the buffer view with its editing overlay, the upper tab
// strip with its pages and the export and serial-number pages of the lower one.

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

#include "app/captions.h"
#include "gui/main_window.h"
#include "gui/widget_sync.h"

namespace kvr {

namespace {

// Widget position of a station offset; an offset inside a line break stands before it. The
// view's text is plain ASCII, so positions convert by counting line breaks only.
int DisplayPosition(const std::string& text, std::size_t offset) {
  offset = std::min(offset, text.size());
  int position = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      if (i + 1 == offset) break;
      ++i;
    }
    ++position;
  }
  return position;
}

// Station offset of a widget position, a line break counting as both its characters.
std::size_t StationOffset(const std::string& text, int position) {
  std::size_t offset = 0;
  for (int shown = 0; shown < position && offset < text.size(); ++shown) {
    if (text[offset] == '\r' && offset + 1 < text.size() && text[offset + 1] == '\n') ++offset;
    ++offset;
  }
  return offset;
}

// The editing overlay: it shows the station's text and selection and never changes either
// itself. Every event goes to the station, which decides what a key or a click does.
class BufferOverlay : public QPlainTextEdit {
 public:
  std::function<void(int)> onPress;
  std::function<void(char)> onKey;
  std::function<void(Station::ViewKey)> onPage;
  std::function<void()> onFocus;
  QWidget* wheelTarget = nullptr;

  BufferOverlay() {
    setReadOnly(true);
    // The caret shows where a digit would go; the keys themselves never move it.
    setTextInteractionFlags(Qt::TextSelectableByKeyboard);
    setContextMenuPolicy(Qt::NoContextMenu);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setTabChangesFocus(true);
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFocusPolicy(Qt::StrongFocus);
  }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && onPress)
      onPress(cursorForPosition(event->position().toPoint()).position());
    event->accept();
  }
  void mouseMoveEvent(QMouseEvent* event) override { event->accept(); }
  void mouseReleaseEvent(QMouseEvent* event) override { event->accept(); }
  void mouseDoubleClickEvent(QMouseEvent* event) override { event->accept(); }

  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) {
      QPlainTextEdit::keyPressEvent(event);
      return;
    }
    event->accept();
    if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown) {
      if (onPage)
        onPage(event->key() == Qt::Key_PageUp ? Station::ViewKey::PageUp
                                              : Station::ViewKey::PageDown);
      return;
    }
    const QString text = event->text();
    if (text.size() != 1 || (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) return;
    const char16_t ch = text.front().unicode();
    if (ch >= 0x20 && ch < 0x7F && onKey) onKey(static_cast<char>(ch));
  }

  // The operator moving to the view, not the window or a message box giving focus back.
  void focusInEvent(QFocusEvent* event) override {
    QPlainTextEdit::focusInEvent(event);
    const Qt::FocusReason reason = event->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason && onFocus)
      onFocus();
  }

  // The widget shows one drawn window of the buffer; the wheel moves the window.
  void wheelEvent(QWheelEvent* event) override {
    if (wheelTarget != nullptr)
      QCoreApplication::sendEvent(wheelTarget, event);
    else
      event->ignore();
  }
};

// A read-only box of the automatic sequence; a click on it highlights it.
class SlotBox : public QLineEdit {
 public:
  std::function<void()> onClick;

  SlotBox() {
    setReadOnly(true);
    setFocusPolicy(Qt::NoFocus);
  }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && onClick) onClick();
    event->accept();
  }
};

// A group box whose title, the loaded file's path, may be longer than the box: the title is
// shortened in the middle, and the box's sizes are those of its contents.
class ElidedGroupBox : public QGroupBox {
 public:
  void SetFullTitle(const QString& title) {
    if (title == full_) return;
    full_ = title;
    setToolTip(title);
    Elide();
  }
  QString FullTitle() const { return full_; }

  QSize sizeHint() const override { return QWidget::sizeHint(); }
  QSize minimumSizeHint() const override { return QWidget::minimumSizeHint(); }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QGroupBox::resizeEvent(event);
    Elide();
  }

 private:
  void Elide() {
    const int room = std::max(width() - fontMetrics().averageCharWidth() * 4, 0);
    const QString shown = fontMetrics().elidedText(full_, Qt::ElideMiddle, room);
    if (title() != shown) setTitle(shown);
  }

  QString full_;
};

QLineEdit* ReadOnlyBox(const QString& name, int chars) {
  auto* box = new QLineEdit;
  box->setObjectName(name);
  box->setReadOnly(true);
  box->setFocusPolicy(Qt::ClickFocus);
  box->setMinimumWidth(box->fontMetrics().averageCharWidth() * (chars + 2));
  return box;
}

// Sets the checked button of an exclusive group, which may have none checked.
void SyncChecked(QAbstractButton* button, bool checked) {
  if (button->isChecked() == checked) return;
  QButtonGroup* group = button->group();
  const bool exclusive = group != nullptr && group->exclusive();
  if (exclusive) group->setExclusive(false);
  button->setChecked(checked);
  if (exclusive) group->setExclusive(true);
}

void SyncCaption(QAbstractButton* button, const std::string& caption) {
  const QString text = QString::fromStdString(caption);
  if (button->text() != text) button->setText(text);
}

void SyncHighlight(QLineEdit* box, bool highlighted) {
  if (box->property("highlighted").toBool() == highlighted) return;
  box->setProperty("highlighted", highlighted);
  // An empty palette inherits everything again.
  QPalette palette;
  if (highlighted) {
    palette = box->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Highlight));
    palette.setColor(QPalette::Text, palette.color(QPalette::HighlightedText));
  }
  box->setPalette(palette);
}

QButtonGroup* GroupOf(QWidget* owner, std::initializer_list<QAbstractButton*> buttons) {
  auto* group = new QButtonGroup(owner);
  int id = 0;
  for (QAbstractButton* button : buttons) group->addButton(button, id++);
  return group;
}

}  // namespace

QString MainWindow::CaptionText(const std::string& key) const {
  // The blanks in front of some captions lined them up in a fixed layout; the layouts do that.
  const auto found = station_.Captions.find(key);
  return found == station_.Captions.end() ? QString()
                                          : QString::fromStdString(found->second).trimmed();
}

QLabel* MainWindow::CaptionLabel(const char* key) {
  auto* label = new QLabel;
  label->setObjectName(QString::fromLatin1(key));
  Caption(key, [label](const QString& text) { label->setText(text); });
  return label;
}

void MainWindow::BuildImageWidgets() {
  comReDownload_ = new QPushButton;
  comReDownload_->setObjectName(QStringLiteral("comReDownload"));

  for (int slot = 0; slot < Station::kAutoSlots; ++slot) {
    auto* box = new SlotBox;
    box->setObjectName(ElementName("txtAuto", slot));
    box->onClick = [this, slot] {
      station_.OnAutoSlotClick(slot);
      Sync();
    };
    txtAuto_[static_cast<std::size_t>(slot)] = box;
  }
  for (std::size_t i = 0; i < comAuto_.size(); ++i) {
    comAuto_[i] = new QPushButton;
    comAuto_[i]->setObjectName(ElementName("comAuto", static_cast<int>(i)));
  }
  comDalay_ReDownLoad_ = new QComboBox;
  comDalay_ReDownLoad_->setObjectName(QStringLiteral("comDalay_ReDownLoad"));
  optBeepYes_ = new QRadioButton;
  optBeepYes_->setObjectName(QStringLiteral("optBeepYes"));
  optBeepNo_ = new QRadioButton;
  optBeepNo_->setObjectName(QStringLiteral("optBeepNo"));
  GroupOf(this, {optBeepYes_, optBeepNo_});
  txtWrite_OK_Count_ = ReadOnlyBox(QStringLiteral("txtWrite_OK_Count"), 8);
  comClearOkCount_ = new QPushButton;
  comClearOkCount_->setObjectName(QStringLiteral("comClearOkCount"));
  txtReportFile_ = new QLineEdit;
  txtReportFile_->setObjectName(QStringLiteral("txtReportFile"));
  Caption("reportHint", [this](const QString& text) { txtReportFile_->setPlaceholderText(text); });
  comReportFile_ = new QPushButton;
  comReportFile_->setObjectName(QStringLiteral("comReportFile"));
  comReportFile_->setFixedWidth(
      comReportFile_->fontMetrics().horizontalAdvance(QStringLiteral("...")) +
      comReportFile_->fontMetrics().averageCharWidth() * 4);
  txtReportFile_->setMinimumWidth(txtReportFile_->fontMetrics().averageCharWidth() * 16);
  for (std::size_t i = 0; i < optReportFormat_.size(); ++i) {
    optReportFormat_[i] = new QRadioButton;
    optReportFormat_[i]->setObjectName(ElementName("optReportFormat", static_cast<int>(i)));
  }
  GroupOf(this, {optReportFormat_[0], optReportFormat_[1]});
  txtJobProduct_ = new QLineEdit;
  txtJobProduct_->setObjectName(QStringLiteral("txtJobProduct"));
  txtJobNote_ = new QLineEdit;
  txtJobNote_->setObjectName(QStringLiteral("txtJobNote"));
  txtLineDatabase_ = new QLineEdit;
  txtLineDatabase_->setObjectName(QStringLiteral("txtLineDatabase"));
  Caption("lineDbHint",
          [this](const QString& text) { txtLineDatabase_->setPlaceholderText(text); });
  txtLineDatabase_->setMinimumWidth(txtReportFile_->minimumWidth());
  labLineDatabase_ = new QLabel;
  labLineDatabase_->setObjectName(QStringLiteral("labLineDatabase"));
  labLineDatabase_->setWordWrap(true);

  comLoadFile_ = new QPushButton;
  comLoadFile_->setObjectName(QStringLiteral("comLoadFile"));
  Check6_ = new QCheckBox;
  Check6_->setObjectName(QStringLiteral("Check6"));
  cekReloadFile_ = new QCheckBox;
  cekReloadFile_->setObjectName(QStringLiteral("cekReloadFile"));
  for (int i = 0; i < 2; ++i) {
    optFillbyte_[static_cast<std::size_t>(i)] = new QRadioButton;
    optFillbyte_[static_cast<std::size_t>(i)]->setObjectName(ElementName("optFillbyte", i));
  }
  GroupOf(this, {optFillbyte_[0], optFillbyte_[1]});
  txtFileCheckSum_ = ReadOnlyBox(QStringLiteral("txtFileCheckSum"), 16);
  for (int i = 0; i < 4; ++i) {
    QLineEdit* box = ReadOnlyBox(ElementName("txtISP_reange", i), 5);
    box->setMaximumWidth(box->minimumWidth() + box->fontMetrics().averageCharWidth() * 2);
    txtISP_reange_[static_cast<std::size_t>(i)] = box;
  }
  txtFileCheckSum_->setMaximumWidth(txtFileCheckSum_->minimumWidth());

  auto* frame = new ElidedGroupBox;
  Frame7_ = frame;
  Frame7_->setObjectName(QStringLiteral("Frame7"));
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  txtBuffer_ = new QPlainTextEdit(this);
  txtBuffer_->setObjectName(QStringLiteral("txtBuffer"));
  txtBuffer_->setReadOnly(true);
  txtBuffer_->hide();
  auto* overlay = new BufferOverlay;
  txtBuffer2_ = overlay;
  txtBuffer2_->setObjectName(QStringLiteral("txtBuffer2"));
  txtBuffer2_->setFont(fixed);
  // The bar beside the view is the only one: it moves the drawn window of the buffer.
  txtBuffer2_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  txtBuffer2_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  const QFontMetrics metrics(fixed);
  // A narrow pane scrolls the lines sideways rather than cutting them.
  txtBuffer2_->setMinimumSize(
      metrics.horizontalAdvance(QString(30, QLatin1Char('0'))) + 2 * txtBuffer2_->frameWidth() + 8,
      metrics.lineSpacing() * 6);
  VScroll1_ = new QScrollBar(Qt::Vertical);
  VScroll1_->setObjectName(QStringLiteral("VScroll1"));
  overlay->wheelTarget = VScroll1_;

  txt_Start_Address_ = new QLineEdit;
  txt_Start_Address_->setObjectName(QStringLiteral("txt_Start_Address"));
  txt_length_ = new QLineEdit;
  txt_length_->setObjectName(QStringLiteral("txt_length"));
  for (QLineEdit* field : {txt_Start_Address_, txt_length_})
    field->setMaximumWidth(field->fontMetrics().averageCharWidth() * 12);
  comStoreFile_ = new QPushButton;
  comStoreFile_->setObjectName(QStringLiteral("comStoreFile"));
  for (int i = 0; i < 4; ++i) {
    auto* field = new QLineEdit;
    field->setObjectName(ElementName("texAuto_Increase", i));
    field->setMaximumWidth(field->fontMetrics().averageCharWidth() * 14);
    texAuto_Increase_[static_cast<std::size_t>(i)] = field;
  }
  for (int i = 0; i < 3; ++i) {
    optAuto_Increase_[static_cast<std::size_t>(i)] = new QRadioButton;
    optAuto_Increase_[static_cast<std::size_t>(i)]->setObjectName(
        ElementName("optAuto_Increase", i));
  }
  GroupOf(this, {optAuto_Increase_[0], optAuto_Increase_[1], optAuto_Increase_[2]});
}

QWidget* MainWindow::BuildFileFrame() {
  auto* frame = new QGroupBox;
  frame->setObjectName(QStringLiteral("framFile"));
  Caption("framFile", [frame](const QString& text) { frame->setTitle(text); });
  auto* grid = new QGridLayout(frame);
  // One control a row where the captions are long: the pane beside the operator's column
  // stays narrow in either language.
  grid->addWidget(comLoadFile_, 0, 0);
  grid->addWidget(cekReloadFile_, 0, 1, 1, 4);
  grid->addWidget(Check6_, 1, 0, 1, 5);
  auto* fill = new QHBoxLayout;
  fill->addWidget(CaptionLabel("labFillByte"));
  fill->addWidget(optFillbyte_[0]);
  fill->addWidget(optFillbyte_[1]);
  fill->addStretch(1);
  grid->addLayout(fill, 2, 0, 1, 5);
  auto* sum = new QHBoxLayout;
  sum->addWidget(CaptionLabel("labCheckSum"));
  sum->addWidget(txtFileCheckSum_);
  sum->addStretch(1);
  grid->addLayout(sum, 3, 0, 1, 5);
  grid->addWidget(CaptionLabel("labRanges"), 4, 0, 1, 5);
  auto* ranges = new QHBoxLayout;
  for (std::size_t i = 0; i < txtISP_reange_.size(); ++i) {
    ranges->addWidget(txtISP_reange_[i]);
    // Each pair reads as a range, the AP pair and the ISP pair apart.
    if (i % 2 == 0) ranges->addWidget(new QLabel(QStringLiteral("\u2013")));
    if (i == 1) ranges->addSpacing(fontMetrics().averageCharWidth() * 3);
  }
  ranges->addStretch(1);
  grid->addLayout(ranges, 5, 0, 1, 5);
  grid->setColumnStretch(4, 1);
  return frame;
}

QWidget* MainWindow::BuildBufferView() {
  auto* layout = new QHBoxLayout(Frame7_);
  layout->setSpacing(0);
  layout->addWidget(txtBuffer2_, 1);
  layout->addWidget(VScroll1_);
  return Frame7_;
}

QWidget* MainWindow::BuildUpperTabStrip(QLayout* devicePage) {
  TabStrip1_ = new QTabWidget;
  TabStrip1_->setObjectName(QStringLiteral("TabStrip1"));
  for (const Tab& tab : station_.TabStrip1.tabs) {
    auto* page = new QWidget;
    if (tab.key == "MCU_type") {
      page->setLayout(devicePage);
    } else {
      QWidget* content = nullptr;
      if (tab.key == "COMM_port_baud") content = BuildPortPage();
      if (tab.key == "Set_Auto") content = BuildSequencePage();
      auto* layout = new QVBoxLayout(page);
      if (content != nullptr) layout->addWidget(content);
      layout->addStretch(1);
    }
    TabStrip1_->addTab(ScrollingPage(page, tab.key), QString::fromStdString(tab.caption));
  }
  return TabStrip1_;
}

QWidget* MainWindow::BuildPortPage() {
  auto* page = new QWidget;
  auto* grid = new QGridLayout(page);
  QLabel* port = CaptionLabel("labPort");
  port->setBuddy(combCommPort_);
  QLabel* baud = CaptionLabel("labBaud");
  baud->setBuddy(Combo1_);
  grid->addWidget(port, 0, 0);
  grid->addWidget(combCommPort_, 0, 1);
  grid->addWidget(baud, 1, 0);
  grid->addWidget(Combo1_, 1, 1);
  grid->setColumnStretch(2, 1);
  return page;
}

QWidget* MainWindow::BuildSequencePage() {
  auto* page = new QWidget;
  auto* grid = new QGridLayout(page);
  grid->setVerticalSpacing(2);
  constexpr int kHalf = Station::kFirstSequenceSlot;
  for (int row = 0; row < kHalf; ++row) {
    grid->addWidget(txtAuto_[static_cast<std::size_t>(row)], row, 0);
    grid->addWidget(txtAuto_[static_cast<std::size_t>(row + kHalf)], row, 2);
  }
  auto* buttons = new QVBoxLayout;
  buttons->addStretch(1);
  for (QPushButton* button : comAuto_) buttons->addWidget(button);
  buttons->addStretch(1);
  grid->addLayout(buttons, 0, 1, kHalf, 1);

  auto* settings = new QGridLayout;
  settings->setHorizontalSpacing(fontMetrics().averageCharWidth() * 2);
  QLabel* delay = CaptionLabel("labRepeatDelay");
  delay->setBuddy(comDalay_ReDownLoad_);
  settings->addWidget(delay, 0, 0);
  settings->addWidget(comDalay_ReDownLoad_, 0, 1);
  settings->addWidget(CaptionLabel("labSound"), 1, 0);
  auto* beep = new QHBoxLayout;
  beep->addWidget(optBeepYes_);
  beep->addWidget(optBeepNo_);
  beep->addStretch(1);
  settings->addLayout(beep, 1, 1);
  settings->addWidget(CaptionLabel("labOkCount"), 2, 0);
  auto* countRow = new QHBoxLayout;
  countRow->addWidget(txtWrite_OK_Count_);
  countRow->addWidget(comClearOkCount_);
  countRow->addStretch(1);
  settings->addLayout(countRow, 2, 1);
  QLabel* report = CaptionLabel("labReport");
  report->setBuddy(txtReportFile_);
  settings->addWidget(report, 3, 0);
  auto* reportRow = new QHBoxLayout;
  reportRow->addWidget(txtReportFile_, 1);
  reportRow->addWidget(comReportFile_);
  settings->addLayout(reportRow, 3, 1, 1, 2);
  auto* formatRow = new QHBoxLayout;
  for (QRadioButton* format : optReportFormat_) formatRow->addWidget(format);
  formatRow->addStretch(1);
  settings->addLayout(formatRow, 4, 1, 1, 2);
  // What a job saved from here is called, and why.
  const std::pair<const char*, QLineEdit*> jobFields[] = {{"labJobProduct", txtJobProduct_},
                                                          {"labJobNote", txtJobNote_}};
  int row = 5;
  for (const auto& [key, field] : jobFields) {
    QLabel* label = CaptionLabel(key);
    label->setBuddy(field);
    settings->addWidget(label, row, 0);
    settings->addWidget(field, row++, 1, 1, 2);
  }
  QLabel* lineDb = CaptionLabel("labLineDb");
  lineDb->setBuddy(txtLineDatabase_);
  settings->addWidget(lineDb, row, 0);
  settings->addWidget(txtLineDatabase_, row++, 1, 1, 2);
  settings->addWidget(labLineDatabase_, row, 1, 1, 2);
  settings->setColumnStretch(2, 1);
  grid->addLayout(settings, kHalf, 0, 1, 3);
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(2, 1);
  return page;
}

QWidget* MainWindow::BuildExportPage() {
  auto* page = new QWidget;
  auto* grid = new QGridLayout(page);
  grid->setContentsMargins(0, 0, 0, 0);
  QLabel* start = CaptionLabel("labExportStart");
  start->setBuddy(txt_Start_Address_);
  QLabel* length = CaptionLabel("labExportLength");
  length->setBuddy(txt_length_);
  grid->addWidget(start, 0, 0);
  grid->addWidget(txt_Start_Address_, 0, 1);
  grid->addWidget(length, 1, 0);
  grid->addWidget(txt_length_, 1, 1);
  grid->addWidget(comStoreFile_, 0, 2, 2, 1, Qt::AlignVCenter);
  grid->setColumnStretch(3, 1);
  return page;
}

QWidget* MainWindow::BuildSerialPage() {
  auto* page = new QWidget;
  auto* grid = new QGridLayout(page);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->addWidget(cheAuto_Increase_, 0, 0, 1, 4);
  for (int i = 0; i < 4; ++i) {
    const std::string key = "labAutoIncrease" + std::to_string(i);
    QLabel* label = CaptionLabel(key.c_str());
    label->setBuddy(texAuto_Increase_[static_cast<std::size_t>(i)]);
    grid->addWidget(label, 1 + i / 2, (i % 2) * 2);
    grid->addWidget(texAuto_Increase_[static_cast<std::size_t>(i)], 1 + i / 2, (i % 2) * 2 + 1);
  }
  auto* mode = new QHBoxLayout;
  mode->addWidget(CaptionLabel("labAutoIncreaseMode"));
  for (QRadioButton* button : optAuto_Increase_) mode->addWidget(button);
  mode->addStretch(1);
  grid->addLayout(mode, 3, 0, 1, 4);
  grid->setColumnStretch(4, 1);
  return page;
}

void MainWindow::ConnectImage() {
  connect(comLoadFile_, &QPushButton::clicked, this, [this] {
    if (station_.comLoadFile.enabled) station_.OnLoadFileClick();
    Sync();
  });
  connect(Check6_, &QCheckBox::clicked, this, [this](bool checked) {
    if (station_.Check6.enabled) station_.Check6.checked = checked;
    Sync();
  });
  connect(cekReloadFile_, &QCheckBox::clicked, this, [this](bool checked) {
    if (station_.cekReloadFile.enabled) station_.OnReloadFileClick(checked);
    Sync();
  });
  connect(optFillbyte_[0]->group(), &QButtonGroup::idClicked, this, [this](int index) {
    if (station_.optFillbyte.enabled) station_.OnFillByteClick(index);
    Sync();
  });

  auto* overlay = static_cast<BufferOverlay*>(txtBuffer2_);
  overlay->onPress = [this](int position) {
    if (station_.txtBuffer2.enabled)
      station_.OnBufferMouseDown(StationOffset(station_.txtBuffer2.text, position));
    Sync();
  };
  overlay->onKey = [this](char key) {
    if (station_.txtBuffer2.enabled) station_.OnBufferKeyPress(key);
    Sync();
  };
  overlay->onPage = [this](Station::ViewKey key) {
    if (station_.txtBuffer2.enabled && station_.VScroll1.enabled) station_.OnBufferKeyDown(key);
    Sync();
  };
  overlay->onFocus = [this] {
    if (station_.txtBuffer2.enabled) station_.OnBufferFocus();
    Sync();
  };
  connect(VScroll1_, &QScrollBar::valueChanged, this, [this](int value) {
    if (station_.VScroll1.enabled && value != station_.VScroll1.value) {
      station_.VScroll1.value = value;
      station_.OnScrollChange();
    }
    Sync();
  });

  connect(txt_Start_Address_, &QLineEdit::textEdited, this, [this](const QString& text) {
    if (station_.txt_Start_Address.enabled) {
      station_.txt_Start_Address.text = text.toStdString();
      station_.OnExportFieldChange();
    }
    Sync();
  });
  connect(txt_length_, &QLineEdit::textEdited, this, [this](const QString& text) {
    if (station_.txt_length.enabled) {
      station_.txt_length.text = text.toStdString();
      station_.OnExportFieldChange();
    }
    Sync();
  });
  connect(comStoreFile_, &QPushButton::clicked, this, [this] {
    if (station_.comStoreFile.enabled) station_.BinExport();
    Sync();
  });

  connect(cheAuto_Increase_, &QCheckBox::clicked, this, [this](bool checked) {
    if (station_.cheAuto_Increase.enabled) {
      station_.cheAuto_Increase.checked = checked;
      station_.OnAutoIncreaseClick();
    }
    Sync();
  });
  for (std::size_t i = 0; i < texAuto_Increase_.size(); ++i) {
    connect(texAuto_Increase_[i], &QLineEdit::textEdited, this, [this, i](const QString& text) {
      if (station_.texAuto_Increase[i].enabled) {
        station_.texAuto_Increase[i].text = text.toStdString();
        station_.OnSerialFieldChange();
      }
      Sync();
    });
  }
  connect(optAuto_Increase_[0]->group(), &QButtonGroup::idClicked, this, [this](int index) {
    if (station_.optAuto_Increase.enabled) {
      station_.optAuto_Increase.selected = index;
      station_.OnSerialFieldChange();
    }
    Sync();
  });

  connect(TabStrip1_, &QTabWidget::currentChanged, this, [this](int index) {
    if (index >= 0 && index != station_.TabStrip1.selected) {
      station_.TabStrip1.selected = index;
      station_.OnTabStrip1Click();
    }
    Sync();
  });
  connect(comDalay_ReDownLoad_, &QComboBox::activated, this, [this](int index) {
    if (station_.comDalay_ReDownLoad.enabled) station_.OnRepeatDelayChange(index);
    Sync();
  });
  connect(optBeepYes_->group(), &QButtonGroup::idClicked, this, [this](int id) {
    const bool yes = id == 0;
    if ((yes ? station_.optBeepYes : station_.optBeepNo).enabled) station_.OnBeepClick(yes);
    Sync();
  });

  for (std::size_t i = 0; i < comAuto_.size(); ++i) {
    connect(comAuto_[i], &QPushButton::clicked, this, [this, i] {
      if (station_.comAuto[i].enabled) station_.EditAutoSequence(static_cast<int>(i));
      Sync();
    });
  }
  connect(comReDownload_, &QPushButton::clicked, this, [this] {
    if (!station_.comReDownload.enabled) return;
    station_.RepeatRun();
    Sync();
  });
  connect(comClearOkCount_, &QPushButton::clicked, this, [this] {
    if (station_.comClearOkCount.enabled) station_.ClearOkCount();
    Sync();
  });
  connect(comReportFile_, &QPushButton::clicked, this, [this] {
    station_.OnReportFileClick();
    Sync();
  });
  connect(txtReportFile_, &QLineEdit::textEdited, this, [this](const QString& text) {
    if (station_.txtReportFile.enabled) station_.txtReportFile.text = text.toStdString();
  });
  connect(txtReportFile_, &QLineEdit::editingFinished, this, [this] {
    if (station_.txtReportFile.enabled) station_.OnReportFileChange();
    Sync();
  });
  connect(txtLineDatabase_, &QLineEdit::textEdited, this, [this](const QString& text) {
    if (station_.txtLineDatabase.enabled) station_.txtLineDatabase.text = text.toStdString();
  });
  connect(txtLineDatabase_, &QLineEdit::editingFinished, this, [this] {
    if (station_.txtLineDatabase.enabled) station_.OnLineDatabaseChange();
    Sync();
  });
  connect(optReportFormat_[0]->group(), &QButtonGroup::idClicked, this, [this](int index) {
    station_.OnReportFormatClick(index);
    Sync();
  });
  for (auto [field, box] : {std::pair{txtJobProduct_, &station_.txtJobProduct},
                            std::pair{txtJobNote_, &station_.txtJobNote}})
    connect(field, &QLineEdit::textEdited, this, [box](const QString& text) {
      if (box->enabled) box->text = text.toStdString();
    });
}

void MainWindow::SyncImage() {
  if (station_.BusyPointer != busyCursorShown_) {
    if (station_.BusyPointer)
      QApplication::setOverrideCursor(Qt::WaitCursor);
    else
      QApplication::restoreOverrideCursor();
    busyCursorShown_ = station_.BusyPointer;
  }

  const QString program = QString::fromStdString(station_.framStep.caption);
  if (framStep_->title() != program) framStep_->setTitle(program);
  SetVisible(framStep_, station_.framStep.visible);
  SyncButton(comReDownload_, station_.comReDownload);
  SyncTabs(TabStrip1_, station_.TabStrip1);

  for (std::size_t i = 0; i < txtAuto_.size(); ++i) {
    const TextEntry& entry = station_.txtAuto[i];
    const QString text = QString::fromStdString(OperationCaption(entry.text, station_.UseEnglish));
    if (txtAuto_[i]->text() != text) txtAuto_[i]->setText(text);
    SyncHighlight(txtAuto_[i], entry.highlighted);
    SetEnabled(txtAuto_[i], entry.enabled);
  }
  for (std::size_t i = 0; i < comAuto_.size(); ++i) SyncButton(comAuto_[i], station_.comAuto[i]);
  SyncList(comDalay_ReDownLoad_, station_.comDalay_ReDownLoad);
  for (auto [button, box] :
       {std::pair{optBeepYes_, &station_.optBeepYes}, std::pair{optBeepNo_, &station_.optBeepNo}}) {
    SyncCaption(button, box->caption);
    SyncChecked(button, box->checked);
    SetEnabled(button, box->enabled);
    SetVisible(button, box->visible);
  }
  SyncTextBox(txtWrite_OK_Count_, station_.txtWrite_OK_Count);
  SyncButton(comClearOkCount_, station_.comClearOkCount);
  // The operator's typing stands until it is finished.
  if (!txtReportFile_->hasFocus()) SyncTextBox(txtReportFile_, station_.txtReportFile);
  SyncButton(comReportFile_, station_.comReportFile);
  for (auto [field, box] : {std::pair{txtJobProduct_, &station_.txtJobProduct},
                            std::pair{txtJobNote_, &station_.txtJobNote}})
    if (!field->hasFocus() || !box->enabled) SyncTextBox(field, *box);
  if (!txtLineDatabase_->hasFocus()) SyncTextBox(txtLineDatabase_, station_.txtLineDatabase);
  SyncLabel(labLineDatabase_, station_.labLineDatabase);
  for (std::size_t i = 0; i < optReportFormat_.size(); ++i) {
    SyncCaption(optReportFormat_[i], station_.optReportFormat.captions[i]);
    SyncChecked(optReportFormat_[i], station_.optReportFormat.selected == static_cast<int>(i));
    SetEnabled(optReportFormat_[i], station_.optReportFormat.enabled);
  }

  SyncCaption(comLoadFile_, station_.comLoadFile.caption);
  SetEnabled(comLoadFile_, station_.comLoadFile.enabled);
  SetVisible(comLoadFile_, station_.comLoadFile.visible);
  SyncCheckBox(Check6_, station_.Check6);
  SyncCheckBox(cekReloadFile_, station_.cekReloadFile);
  for (int i = 0; i < 2; ++i) {
    QRadioButton* button = optFillbyte_[static_cast<std::size_t>(i)];
    SyncCaption(button, station_.optFillbyte.captions[i]);
    SyncChecked(button, station_.optFillbyte.selected == i);
    SetEnabled(button, station_.optFillbyte.enabled);
  }
  SyncTextBox(txtFileCheckSum_, station_.txtFileCheckSum);
  for (std::size_t i = 0; i < txtISP_reange_.size(); ++i)
    SyncTextBox(txtISP_reange_[i], station_.txtISP_reange[i]);

  static_cast<ElidedGroupBox*>(Frame7_)->SetFullTitle(
      QString::fromStdString(station_.Frame7.caption));
  SetEnabled(Frame7_, station_.Frame7.enabled);
  SetVisible(Frame7_, station_.Frame7.visible);
  SyncBufferView();

  SyncTextBox(txt_Start_Address_, station_.txt_Start_Address);
  SyncTextBox(txt_length_, station_.txt_length);
  SyncCaption(comStoreFile_, station_.comStoreFile.caption);
  SetEnabled(comStoreFile_, station_.comStoreFile.enabled);
  SetVisible(comStoreFile_, station_.comStoreFile.visible);
  for (std::size_t i = 0; i < texAuto_Increase_.size(); ++i)
    SyncTextBox(texAuto_Increase_[i], station_.texAuto_Increase[i]);
  const OptionGroup& mode = station_.optAuto_Increase;
  for (std::size_t i = 0; i < optAuto_Increase_.size(); ++i) {
    QRadioButton* button = optAuto_Increase_[i];
    const bool offered = i < mode.captions.size();
    if (offered) SyncCaption(button, mode.captions[i]);
    SetVisible(button, offered);
    SyncChecked(button, mode.selected == static_cast<int>(i));
    SetEnabled(button, mode.enabled);
  }
}

void MainWindow::SyncBufferView() {
  if (station_.txtBuffer.text != shownUnder_) {
    txtBuffer_->setPlainText(ToDisplay(station_.txtBuffer.text));
    shownUnder_ = station_.txtBuffer.text;
  }

  const SelectableText& overlay = station_.txtBuffer2;
  const bool redrawn = !bufferShown_ || overlay.text != shownBuffer_;
  if (redrawn) {
    txtBuffer2_->setPlainText(ToDisplay(overlay.text));
    shownBuffer_ = overlay.text;
    bufferShown_ = true;
  }
  const std::size_t selStart = std::min(overlay.selStart, overlay.text.size());
  const std::size_t selEnd = std::min(selStart + overlay.selLength, overlay.text.size());
  const int anchor = DisplayPosition(overlay.text, selStart);
  const int position = DisplayPosition(overlay.text, selEnd);
  QTextCursor cursor = txtBuffer2_->textCursor();
  if (redrawn || cursor.anchor() != anchor || cursor.position() != position) {
    cursor.setPosition(anchor);
    cursor.setPosition(position, QTextCursor::KeepAnchor);
    txtBuffer2_->setTextCursor(cursor);
    // A redraw starts at the top of the drawn window; an edit keeps its digit in sight.
    if (redrawn) txtBuffer2_->verticalScrollBar()->setValue(0);
    if (selEnd > selStart || !redrawn) txtBuffer2_->ensureCursorVisible();
  }
  SetEnabled(txtBuffer2_, overlay.enabled);

  const ScrollBar& bar = station_.VScroll1;
  const QSignalBlocker blocker(VScroll1_);
  const int maximum = std::max(bar.maximum, bar.minimum);
  if (VScroll1_->minimum() != bar.minimum || VScroll1_->maximum() != maximum)
    VScroll1_->setRange(bar.minimum, maximum);
  const int page = std::max(bar.largeChange, 1);
  if (VScroll1_->pageStep() != page) VScroll1_->setPageStep(page);
  const int value = std::clamp(bar.value, bar.minimum, maximum);
  if (VScroll1_->value() != value) VScroll1_->setValue(value);
  SetEnabled(VScroll1_, bar.enabled);
}

}  // namespace kvr
