// The tab page of the ISP demo: its parameters, the baud-rate error and the three commands.

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <functional>

#include "gui/main_window.h"
#include "gui/widget_sync.h"

namespace kvr {

namespace {

// A colour of the station's encoding: a system colour (high bit set) or blue-green-red.
QColor ColourOf(std::uint32_t code, const QPalette& palette) {
  if ((code & 0x80000000U) != 0) {
    switch (code & 0xFFU) {
      case 0x0F:
        return palette.color(QPalette::Button);
      case 0x12:
        return palette.color(QPalette::ButtonText);
      default:
        return palette.color(QPalette::Window);
    }
  }
  return QColor(static_cast<int>(code & 0xFF), static_cast<int>((code >> 8) & 0xFF),
                static_cast<int>((code >> 16) & 0xFF));
}

QLabel* NamedLabel(const char* name) {
  auto* label = new QLabel;
  label->setObjectName(QString::fromLatin1(name));
  return label;
}

QComboBox* NamedList(const QString& name) {
  auto* box = new QComboBox;
  box->setObjectName(name);
  box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  return box;
}

// Two option buttons named as the elements 0 and 1 of the pair, in a row, and their group.
QWidget* OptionPairWidget(const char* name, QButtonGroup*& group) {
  auto* pair = new QWidget;
  pair->setObjectName(QString::fromLatin1(name));
  group = new QButtonGroup(pair);
  auto* row = new QHBoxLayout(pair);
  row->setContentsMargins(0, 0, 0, 0);
  for (int choice = 0; choice < 2; ++choice) {
    auto* button = new QRadioButton;
    button->setObjectName(ElementName(name, choice));
    group->addButton(button, choice);
    row->addWidget(button);
  }
  row->addStretch(1);
  return pair;
}

void SyncPair(QButtonGroup* group, const OptionPair& pair) {
  for (int choice = 0; choice < 2; ++choice) {
    QAbstractButton* button = group->button(choice);
    const QString caption = QString::fromStdString(pair.captions[choice]);
    if (button->text() != caption) button->setText(caption);
    if (button->isChecked() != (pair.selected == choice)) {
      group->setExclusive(false);
      button->setChecked(pair.selected == choice);
      group->setExclusive(true);
    }
    SetEnabled(button, pair.enabled);
  }
}

}  // namespace

QWidget* MainWindow::BuildIspDemoPage() {
  comb_oscillate_frequency_ = NamedList(QStringLiteral("comb_oscillate_frequency"));
  comb_oscillate_frequency_->setEditable(true);
  comb_oscillate_frequency_->setInsertPolicy(QComboBox::NoInsert);
  comb_ISP_buad_ = NamedList(QStringLiteral("comb_ISP_buad"));
  for (int i = 0; i < 2; ++i) {
    comb_ISP_DEMO_WDT_[static_cast<std::size_t>(i)] =
        NamedList(ElementName("comb_ISP_DEMO_WDT", i));
    comb_485_pin_[static_cast<std::size_t>(i)] = NamedList(ElementName("comb_485_pin", i));
  }
  Lab_BAUD_ERR_ = NamedLabel("Lab_BAUD_ERR");
  Lab_BAUD_ERR_->setAutoFillBackground(true);
  Lab_BAUD_ERR_->setMinimumWidth(Lab_BAUD_ERR_->fontMetrics().horizontalAdvance("-00.00%") +
                                 Lab_BAUD_ERR_->fontMetrics().averageCharWidth() * 2);
  ispDemoLabels_ = {{{&station_.Lab_oscillate_frequency, NamedLabel("Lab_oscillate_frequency")},
                     {&station_.Lab_ISP_buad, NamedLabel("Lab_ISP_buad")},
                     {&station_.Lab_ISP_DEMO_parity, NamedLabel("Lab_ISP_DEMO_parity")},
                     {&station_.labISP_DEMO_erase_data, NamedLabel("LabISP_DEMO_erase_data")},
                     {&station_.Lab_ISP_DEMO_WDT, NamedLabel("Lab_ISP_DEMO_WDT")},
                     {&station_.Lab_485_pin, NamedLabel("Lab_485_pin")},
                     {&station_.Lab__485_logic, NamedLabel("Lab__485_logic")}}};
  com_write_ISP_demo_ = new QPushButton;
  com_write_ISP_demo_->setObjectName(QStringLiteral("com_write_ISP_demo"));
  com_re_write_ISP_demo_ = new QPushButton;
  com_re_write_ISP_demo_->setObjectName(QStringLiteral("com_re_write_ISP_demo"));
  com_ISP_demo_stop_ = new QPushButton;
  com_ISP_demo_stop_->setObjectName(QStringLiteral("com_ISP_demo_stop"));

  auto* page = new QWidget;
  auto* grid = new QGridLayout(page);
  grid->setContentsMargins(0, 0, 0, 0);
  auto label = [this](int i) { return ispDemoLabels_[static_cast<std::size_t>(i)].second; };
  auto pins = [](QComboBox* port, QComboBox* bit) {
    auto* row = new QHBoxLayout;
    row->addWidget(port);
    row->addWidget(bit);
    row->addStretch(1);
    return row;
  };
  auto* baud = new QHBoxLayout;
  baud->addWidget(comb_ISP_buad_);
  baud->addWidget(Lab_BAUD_ERR_);
  baud->addStretch(1);

  grid->addWidget(label(0), 0, 0);
  grid->addWidget(comb_oscillate_frequency_, 0, 1);
  grid->addWidget(label(1), 1, 0);
  grid->addLayout(baud, 1, 1);
  grid->addWidget(label(2), 2, 0);
  grid->addWidget(OptionPairWidget("opt_ISP_DEMO_parity", opt_ISP_DEMO_parity_), 2, 1);
  grid->addWidget(label(3), 3, 0);
  grid->addWidget(OptionPairWidget("optISP_DEMO_erase_data", optISP_DEMO_erase_data_), 3, 1);
  grid->addWidget(label(4), 4, 0);
  grid->addWidget(OptionPairWidget("opt_ISP_DEMO_WDT", opt_ISP_DEMO_WDT_), 4, 1);
  grid->addLayout(pins(comb_ISP_DEMO_WDT_[0], comb_ISP_DEMO_WDT_[1]), 4, 2);
  grid->addWidget(label(5), 5, 0);
  grid->addWidget(OptionPairWidget("opt_485_pin", opt_485_pin_), 5, 1);
  grid->addLayout(pins(comb_485_pin_[0], comb_485_pin_[1]), 5, 2);
  grid->addWidget(label(6), 6, 0);
  grid->addWidget(OptionPairWidget("opt_485_logic", opt_485_logic_), 6, 1, 1, 2);
  // The commands under the parameters: the page stands in a narrow pane.
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(com_write_ISP_demo_);
  buttons->addWidget(com_re_write_ISP_demo_);
  buttons->addWidget(com_ISP_demo_stop_);
  buttons->addStretch(1);
  grid->addLayout(buttons, 7, 0, 1, 3);
  grid->setColumnStretch(2, 1);
  return page;
}

void MainWindow::ConnectIspDemo() {
  connect(comb_oscillate_frequency_, &QComboBox::editTextChanged, this,
          [this](const QString& text) {
            // The station's own text coming back through Sync is no change.
            if (text.toStdString() != station_.comb_oscillate_frequency.text)
              station_.OnCrystalChange(text.toStdString());
            Sync();
          });
  connect(comb_oscillate_frequency_, &QComboBox::activated, this, [this](int index) {
    const auto& entries = station_.comb_oscillate_frequency.entries;
    if (index >= 0 && index < static_cast<int>(entries.size()))
      station_.OnCrystalChange(entries[static_cast<std::size_t>(index)]);
    Sync();
  });
  connect(comb_ISP_buad_, &QComboBox::activated, this, [this](int index) {
    station_.OnIspBaudChange(index);
    Sync();
  });
  for (int i = 0; i < 2; ++i) {
    connect(comb_ISP_DEMO_WDT_[static_cast<std::size_t>(i)], &QComboBox::activated, this,
            [this, i](int index) {
              station_.OnIspDemoWdtPinChange(i, index);
              Sync();
            });
    connect(comb_485_pin_[static_cast<std::size_t>(i)], &QComboBox::activated, this,
            [this, i](int index) {
              station_.On485PinChange(i, index);
              Sync();
            });
  }
  auto pair = [this](QButtonGroup* group, std::function<void(Station&, int)> handler) {
    connect(group, &QButtonGroup::idClicked, this, [this, handler](int choice) {
      handler(station_, choice);
      Sync();
    });
  };
  pair(opt_ISP_DEMO_parity_, &Station::OnIspDemoParityClick);
  pair(optISP_DEMO_erase_data_, &Station::OnIspDemoEraseDataClick);
  pair(opt_ISP_DEMO_WDT_, &Station::OnIspDemoWdtClick);
  pair(opt_485_pin_, &Station::On485PinClick);
  pair(opt_485_logic_, &Station::On485LogicClick);
  auto button = [this](QPushButton* widget, std::function<void(Station&)> handler) {
    connect(widget, &QPushButton::clicked, this, [this, handler] {
      handler(station_);
      Sync();
    });
  };
  button(com_write_ISP_demo_, &Station::OnWriteIspDemoClick);
  button(com_re_write_ISP_demo_, &Station::OnRewriteIspDemoClick);
  button(com_ISP_demo_stop_, &Station::OnIspDemoStopClick);
}

void MainWindow::SyncIspDemo() {
  const Station::EditableList& crystal = station_.comb_oscillate_frequency;
  {
    const QSignalBlocker blocker(comb_oscillate_frequency_);
    if (comb_oscillate_frequency_->count() != static_cast<int>(crystal.entries.size())) {
      comb_oscillate_frequency_->clear();
      for (const std::string& entry : crystal.entries)
        comb_oscillate_frequency_->addItem(QString::fromStdString(entry));
    }
    const QString text = QString::fromStdString(crystal.text);
    if (comb_oscillate_frequency_->currentText() != text) {
      if (crystal.index >= 0) comb_oscillate_frequency_->setCurrentIndex(crystal.index);
      comb_oscillate_frequency_->setEditText(text);
    }
  }
  SetEnabled(comb_oscillate_frequency_, crystal.enabled);
  SyncList(comb_ISP_buad_, station_.comb_ISP_buad);
  for (std::size_t i = 0; i < 2; ++i) {
    SyncList(comb_ISP_DEMO_WDT_[i], station_.comb_ISP_DEMO_WDT[i]);
    SyncList(comb_485_pin_[i], station_.comb_485_pin[i]);
  }
  SyncPair(opt_ISP_DEMO_parity_, station_.opt_ISP_DEMO_parity);
  SyncPair(optISP_DEMO_erase_data_, station_.optISP_DEMO_erase_data);
  SyncPair(opt_ISP_DEMO_WDT_, station_.opt_ISP_DEMO_WDT);
  SyncPair(opt_485_pin_, station_.opt_485_pin);
  SyncPair(opt_485_logic_, station_.opt_485_logic);
  for (const auto& [label, widget] : ispDemoLabels_) SyncLabel(widget, *label);

  const Station::ColourLabel& error = station_.Lab_BAUD_ERR;
  SetText(Lab_BAUD_ERR_, error.caption);
  SetEnabled(Lab_BAUD_ERR_, error.enabled);
  QPalette palette = Lab_BAUD_ERR_->palette();
  const QPalette system = Lab_BAUD_ERR_->parentWidget() != nullptr
                              ? Lab_BAUD_ERR_->parentWidget()->palette()
                              : QPalette();
  const QColor back = ColourOf(error.backColour, system);
  const QColor fore = ColourOf(error.foreColour, system);
  if (palette.color(QPalette::Window) != back || palette.color(QPalette::WindowText) != fore) {
    palette.setColor(QPalette::Window, back);
    palette.setColor(QPalette::WindowText, fore);
    Lab_BAUD_ERR_->setPalette(palette);
  }

  SyncButton(com_write_ISP_demo_, station_.com_write_ISP_demo);
  SyncButton(com_re_write_ISP_demo_, station_.com_re_write_ISP_demo);
  SyncButton(com_ISP_demo_stop_, station_.com_ISP_demo_stop);
}

}  // namespace kvr
