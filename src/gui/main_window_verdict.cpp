// The verdict panel, read from across the bench: PASS, FAIL with the failing step and why, or
// STOPPED; RUNNING with the step during a run; the good count and the next serial number; and
// below it the chips since the start.

#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/captions.h"
#include "gui/main_window.h"
#include "gui/widget_sync.h"

namespace kvr {

namespace {

using State = Station::VerdictState;

const char* StateKey(State state) {
  switch (state) {
    case State::Running:
      return "verdictRunning";
    case State::Pass:
      return "verdictPass";
    case State::Fail:
      return "verdictFail";
    case State::Stopped:
      return "verdictStopped";
    case State::Ready:
      break;
  }
  return "verdictReady";
}

// Background of the verdict: green, red, amber, blue, grey.
const char* StateColour(State state) {
  switch (state) {
    case State::Running:
      return "#1565c0";
    case State::Pass:
      return "#2e7d32";
    case State::Fail:
      return "#c62828";
    case State::Stopped:
      return "#e65100";
    case State::Ready:
      break;
  }
  return "#616161";
}

QLabel* Named(const char* name) {
  auto* label = new QLabel;
  label->setObjectName(QString::fromLatin1(name));
  return label;
}

}  // namespace

QWidget* MainWindow::BuildVerdictPanel() {
  auto* panel = new QGroupBox;
  panel->setObjectName(QStringLiteral("framVerdict"));
  Caption("framVerdict", [panel](const QString& text) { panel->setTitle(text); });
  verdictState_ = Named("verdictState");
  verdictState_->setAlignment(Qt::AlignCenter);
  QFont big = verdictState_->font();
  big.setBold(true);
  big.setPixelSize(std::max(32, fontMetrics().height() * 2));
  verdictState_->setFont(big);
  verdictState_->setMinimumHeight(QFontMetrics(big).height() * 6 / 5);
  verdictStep_ = Named("verdictStep");
  verdictStep_->setAlignment(Qt::AlignCenter);
  QFont bold = verdictStep_->font();
  bold.setBold(true);
  verdictStep_->setFont(bold);
  verdictReason_ = Named("verdictReason");
  verdictReason_->setWordWrap(true);
  verdictReason_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  goodCount_ = Named("verdictGood");
  nextSerial_ = Named("verdictNextSerial");
  chipSerial_ = Named("verdictSerial");
  chipIdentity_ = Named("verdictChip");
  auto* facts = new QGridLayout;
  facts->setHorizontalSpacing(fontMetrics().averageCharWidth() * 2);
  const std::pair<const char*, QLabel*> rows[] = {{"labGood", goodCount_},
                                                  {"labNextSerial", nextSerial_},
                                                  {"labSerial", chipSerial_},
                                                  {"labChip", chipIdentity_}};
  int row = 0;
  for (const auto& [key, value] : rows) {
    auto* label = new QLabel;
    Caption(key, [label](const QString& text) { label->setText(text + QLatin1Char(':')); });
    value->setFont(bold);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Room for an eight-digit number from the start: the column does not grow under the hand.
    value->setMinimumWidth(QFontMetrics(bold).horizontalAdvance(QStringLiteral("00000000")));
    facts->addWidget(label, row / 2, (row % 2) * 2);
    facts->addWidget(value, row / 2, (row % 2) * 2 + 1);
    ++row;
  }
  facts->setColumnStretch(1, 1);
  facts->setColumnStretch(3, 1);

  // The product on the line, when a job set it up.
  verdictProduct_ = Named("verdictProduct");
  verdictProduct_->setAlignment(Qt::AlignCenter);
  verdictProduct_->setFont(bold);
  verdictProduct_->setWordWrap(true);
  verdictProduct_->hide();

  auto* layout = new QVBoxLayout(panel);
  layout->addWidget(verdictProduct_);
  layout->addWidget(verdictState_);
  layout->addWidget(verdictStep_);
  layout->addWidget(verdictReason_);
  layout->addLayout(facts);
  return panel;
}

QWidget* MainWindow::BuildHistory() {
  auto* frame = new QGroupBox;
  frame->setObjectName(QStringLiteral("framHistory"));
  Caption("framHistory", [frame](const QString& text) { frame->setTitle(text); });
  history_ = new QTableWidget(0, 4);
  history_->setObjectName(QStringLiteral("history"));
  history_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  history_->setSelectionBehavior(QAbstractItemView::SelectRows);
  history_->setFocusPolicy(Qt::NoFocus);
  history_->verticalHeader()->hide();
  history_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  history_->horizontalHeader()->setStretchLastSection(true);
  history_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  history_->horizontalHeader()->setSectionResizeMode(3, QHeaderView::Stretch);
  history_->setMinimumHeight(fontMetrics().height() * 3);
  // It takes the height left over: a long list never pushes Program out of sight.
  history_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
  Caption("colTime", [this](const QString&) {
    history_->setHorizontalHeaderLabels({CaptionText("colTime"), CaptionText("colResult"),
                                         CaptionText("colSerial"), CaptionText("colStep")});
  });
  auto* layout = new QVBoxLayout(frame);
  layout->addWidget(history_);
  return frame;
}

void MainWindow::SyncVerdict() {
  const Station::Verdict& verdict = station_.RunVerdict;
  const bool english = station_.UseEnglish;
  const State state = station_.RunInProgress() ? State::Running : verdict.state;
  SetText(verdictState_, CaptionText(StateKey(state)).toStdString());
  SetText(verdictProduct_, station_.JobProductName());
  SetVisible(verdictProduct_, !station_.JobProductName().empty());
  const QString style =
      QStringLiteral("QLabel { background: %1; color: white; border-radius: 6px; }")
          .arg(QLatin1String(StateColour(state)));
  if (style != shownVerdictStyle_) {
    verdictState_->setStyleSheet(style);
    shownVerdictStyle_ = style;
  }

  std::string step;
  if (state == State::Running)
    step = OperationCaption(station_.CurrentOperation, english);
  else if (state == State::Fail || state == State::Stopped)
    step = OperationCaption(verdict.step, english);
  SetText(verdictStep_, step);
  SetText(verdictReason_, state == State::Running ? std::string() : verdict.reason.Pick(english));
  SetVisible(verdictReason_, !verdictReason_->text().isEmpty());

  SetText(goodCount_, Trim(station_.txtWrite_OK_Count.text));
  // The next number is the one the store holds for the next chip; without the stamp there is
  // none.
  SetText(nextSerial_, station_.cheAuto_Increase.checked ? Trim(station_.texAuto_Increase[2].text)
                                                         : std::string("-"));
  SetText(chipSerial_, verdict.serial.empty() ? std::string("-") : verdict.serial);
  SetText(chipIdentity_, verdict.identity.empty() ? std::string("-") : verdict.identity);
}

void MainWindow::SyncHistory() {
  const auto& history = station_.History;
  if (station_.RunsFinished == shownHistoryRuns_ && historyEnglish_ == station_.UseEnglish &&
      shownHistorySize_ == history.size())
    return;
  const bool english = station_.UseEnglish;
  history_->setRowCount(static_cast<int>(history.size()));
  int row = 0;
  // The newest first.
  for (auto it = history.rbegin(); it != history.rend(); ++it, ++row) {
    const Station::HistoryEntry& entry = *it;
    const QString result = CaptionText(StateKey(entry.result));
    const QString cells[4] = {QString::fromStdString(entry.time), result,
                              QString::fromStdString(entry.serial),
                              QString::fromStdString(OperationCaption(entry.failedStep, english))};
    const QString tip =
        QString::fromStdString(OperationCaption(entry.function, english)) +
        (entry.reason.empty()
             ? QString()
             : QStringLiteral(": ") + QString::fromStdString(entry.reason.Pick(english)));
    for (int column = 0; column < 4; ++column) {
      QTableWidgetItem* item = history_->item(row, column);
      if (item == nullptr) {
        item = new QTableWidgetItem;
        history_->setItem(row, column, item);
      }
      item->setText(cells[column]);
      item->setToolTip(tip);
      item->setForeground(column == 1 ? QColor(QLatin1String(StateColour(entry.result)))
                                      : history_->palette().color(QPalette::Text));
    }
  }
  shownHistorySize_ = history.size();
  shownHistoryRuns_ = station_.RunsFinished;
  historyEnglish_ = english;
}

}  // namespace kvr
