#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include "app/station.h"
#include "gui/main_window.h"
#include "platform/port_map.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/virtual/simulated_line.h"
#include "platform/virtual/virtual_platform.h"
#include "simulator/writer_simulator.h"

namespace kvr {
namespace {

constexpr const char* kStopped = "操作被中止!";

// The station on the virtual platform with a simulated writer, drawn by a real window that the
// pump's idle hook keeps in step, as in the program.
class GuiWiringTest : public ::testing::Test {
 protected:
  GuiWiringTest() {
    ConnectSimulatedWriter(vp.port, vp.clock, writer);
    // Long enough that an action scheduled early in a run lands inside it.
    writer.Config().latencyUs = 1000;
    vp.pump.SetIdleHook([this] { window.Sync(); });
    window.show();
  }

  template <typename Widget>
  Widget* Find(const char* name) {
    auto* widget = window.findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QPushButton* Program() { return Find<QPushButton>("comDownload"); }
  QPushButton* Stop() { return Find<QPushButton>("comStop_Download"); }
  QPlainTextEdit* Log() { return Find<QPlainTextEdit>("textMsg"); }
  QListWidget* Functions() { return Find<QListWidget>("txtFuction"); }

  void At(double ms, std::function<void()> action) {
    vp.clock.ScheduleAfter(static_cast<VirtualClock::Micros>(ms * 1000), std::move(action));
  }

  void ExpectIdleWidgets() {
    EXPECT_TRUE(Program()->isEnabled());
    EXPECT_FALSE(Stop()->isEnabled());
  }

  QPoint EntryCentre(int row) {
    return Functions()->visualItemRect(Functions()->item(row)).center();
  }

  // As a mouse delivers it: the double-click event comes between the first click and a release.
  void DoubleClick(int row) {
    QWidget* viewport = Functions()->viewport();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, EntryCentre(row));
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, EntryCentre(row));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, EntryCentre(row));
  }

  static QString Shown(const std::string& log) {
    return QString::fromStdString(log).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  }

  std::vector<int> SelectedRows() {
    std::vector<int> rows;
    for (int row = 0; row < Functions()->count(); ++row)
      if (Functions()->item(row)->isSelected()) rows.push_back(row);
    return rows;
  }

  VirtualPlatform vp;
  sim::WriterSimulator writer;
  Station station{vp.platform};
  PortMap ports;
  MainWindow window{station, ports};
};

TEST_F(GuiWiringTest, EveryControlHasItsWidgetShowingTheStationsState) {
  EXPECT_EQ(window.windowTitle(), "KVR programming station");
  EXPECT_EQ(Program()->text(), "Program");
  ExpectIdleWidgets();
  ASSERT_EQ(Functions()->count(), Station::kFunctions);
  EXPECT_EQ(SelectedRows(), std::vector<int>{0});
  EXPECT_EQ(Find<QComboBox>("Combo1")->currentText(), "115200");
  EXPECT_NE(Find<QProgressBar>("ProgressBar1"), nullptr);
  EXPECT_NE(Find<QLabel>("labKbyte"), nullptr);

  auto* port = Find<QComboBox>("combCommPort");
  ASSERT_EQ(port->count(), 8);
  EXPECT_EQ(port->currentIndex(), 0);
  EXPECT_EQ(port->itemText(0),
            QString::fromUtf8("COM1  \u2192  ") + QString::fromStdString(ports.Target(1)));
}

TEST_F(GuiWiringTest, ProgramOnTheChosenPortShowsTheConnectionInTheLog) {
  emit Find<QComboBox>("combCommPort")->activated(3);
  EXPECT_EQ(station.combCommPort.Text(), "COM4");
  Program()->click();
  EXPECT_EQ(vp.port.SelectedPort(), 4);
  EXPECT_TRUE(station.LastRun.connected);
  EXPECT_EQ(Log()->toPlainText(), "We are connecting...\nWriter Version : 1.3\n\n");
  EXPECT_EQ(Log()->textCursor().position(), Log()->toPlainText().size());
  ExpectIdleWidgets();
}

TEST_F(GuiWiringTest, WidgetsShowTheRunAndTheStopWidgetEndsIt) {
  bool checked = false;
  At(0.5, [&] {
    checked = true;
    EXPECT_FALSE(Program()->isEnabled());
    EXPECT_TRUE(Stop()->isEnabled());
    EXPECT_EQ(Log()->toPlainText(), "We are connecting...\n");
    // A second press cannot start a run inside this one, even if the widget lags behind.
    Program()->setEnabled(true);
    Program()->click();
    Stop()->click();
    ExpectIdleWidgets();
  });
  Program()->click();
  ASSERT_TRUE(checked);
  EXPECT_FALSE(station.LastRun.connected);
  EXPECT_EQ(vp.port.OpenCount(), 1);
  ExpectIdleWidgets();
  EXPECT_TRUE(station.textMsg.Contains(std::string("We are connecting...\r\n\r\n") + kStopped));
  EXPECT_EQ(Log()->toPlainText(), Shown(station.textMsg.Text()));
  // The station puts the caret at the start of the stop line.
  EXPECT_EQ(Log()->textCursor().block().text().toStdString(), kStopped);
  EXPECT_EQ(Log()->textCursor().positionInBlock(), 0);
}

TEST_F(GuiWiringTest, SilentWriterEndsWithProgramEnabledAgain) {
  writer.Config().fault = sim::Fault::Silent;
  Program()->click();
  ExpectIdleWidgets();
  EXPECT_TRUE(Log()->toPlainText().contains("Power on or connect the line please."));
}

TEST_F(GuiWiringTest, ControlsDisabledInTheStationDoNotReact) {
  station.comDownload.enabled = false;  // the widget has not caught up yet
  Program()->click();
  EXPECT_TRUE(writer.ReceivedFrames().empty());
  EXPECT_TRUE(station.textMsg.Text().empty());

  station.comDownload.enabled = true;
  station.txtFuction[5].enabled = false;
  window.Sync();
  QTest::mouseClick(Functions()->viewport(), Qt::LeftButton, {}, EntryCentre(5));
  EXPECT_TRUE(station.txtFuction[0].highlighted);
  EXPECT_FALSE(station.txtFuction[5].highlighted);

  station.combCommPort.enabled = false;
  window.Sync();
  EXPECT_FALSE(Find<QComboBox>("combCommPort")->isEnabled());
  emit Find<QComboBox>("combCommPort")->activated(3);
  EXPECT_EQ(station.combCommPort.index, 0);
  EXPECT_EQ(Find<QComboBox>("combCommPort")->currentIndex(), 0);
}

TEST_F(GuiWiringTest, FunctionListClicksReachTheStation) {
  QTest::mouseClick(Functions()->viewport(), Qt::LeftButton, {}, EntryCentre(3));
  EXPECT_EQ(station.SelectedFunction(), "Check MCU Empty");
  EXPECT_EQ(SelectedRows(), std::vector<int>{3});

  // The keys move the station's highlight, not a selection of the list's own.
  Functions()->setFocus();
  QTest::keyClick(Functions(), Qt::Key_Down);
  EXPECT_EQ(station.SelectedFunction(), "Program File");
  EXPECT_EQ(SelectedRows(), std::vector<int>{4});

  DoubleClick(2);
  EXPECT_EQ(station.LastRun.function, "Read MCU ID");
  EXPECT_EQ(SelectedRows(), std::vector<int>{2});
  EXPECT_EQ(vp.port.OpenCount(), 1);
  ExpectIdleWidgets();
}

TEST_F(GuiWiringTest, LogWidgetFollowsTextAndCaret) {
  // Multi-byte text before the caret: the widget counts characters, the log bytes.
  station.textMsg.Replace("ab\r\n中文\r\ncd");
  station.textMsg.MoveCaretToLastLineStart();
  window.Sync();
  EXPECT_EQ(Log()->toPlainText(), QString::fromUtf8("ab\n中文\ncd"));
  EXPECT_EQ(Log()->textCursor().position(), 6);

  // A line break that arrives in two pieces is still one break.
  station.textMsg.Append("\r");
  window.Sync();
  station.textMsg.Append("\nef");
  station.textMsg.MoveCaretToEnd();
  window.Sync();
  EXPECT_EQ(Log()->toPlainText(), QString::fromUtf8("ab\n中文\ncd\nef"));
  EXPECT_EQ(Log()->textCursor().position(), Log()->toPlainText().size());

  station.textMsg.Replace("x");
  window.Sync();
  EXPECT_EQ(Log()->toPlainText(), "x");
}

TEST_F(GuiWiringTest, ClosingDuringARunStopsIt) {
  writer.Config().fault = sim::Fault::Silent;
  bool closed = false;
  At(50, [&] { closed = window.close(); });
  Program()->click();
  EXPECT_TRUE(closed);
  EXPECT_TRUE(station.textMsg.Contains(kStopped));
  EXPECT_FALSE(station.RunInProgress());
  EXPECT_LT(vp.clock.NowMs(), 1000);
}

// Runs `answer` on the box once its modal loop is running.
void AnswerBox(std::function<void(QMessageBox*)> answer) {
  QTimer::singleShot(0, [answer] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    answer(box);
  });
}

TEST(QtDialogsTest, QuestionPreselectsNoAndHasNoTitleUnlessGiven) {
  QtDialogs dialogs;
  AnswerBox([](QMessageBox* box) {
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
    EXPECT_TRUE(box->windowTitle().trimmed().isEmpty());
    box->button(QMessageBox::Yes)->click();
  });
  EXPECT_TRUE(dialogs.Question("Erase?"));

  AnswerBox([](QMessageBox* box) {
    EXPECT_EQ(box->windowTitle(), "Titled");
    QTest::keyClick(box, Qt::Key_Escape);
  });
  EXPECT_FALSE(dialogs.Question("Erase?", "Titled"));
}

TEST(QtDialogsTest, FiltersTakeQtsForm) {
  EXPECT_EQ(QtFilterString({{"Hex files", "*.hex;*.HEX"}, {"All files", "*.*"}}),
            "Hex files (*.hex *.HEX);;All files (*.*)");
  EXPECT_EQ(QtFilterString({{"Binary", " *.bin ; ;*.BIN "}}), "Binary (*.bin *.BIN)");
  EXPECT_EQ(QtFilterString({{"Anything", ""}}), "Anything (*)");
  EXPECT_EQ(QtFilterString({}), "");
}

}  // namespace
}  // namespace kvr

int main(int argc, char** argv) {
  // Also when run by hand: the tests need no display.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
