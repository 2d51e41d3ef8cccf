#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

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

  // Model choice and option panel.
  QComboBox* DeviceBox() { return Find<QComboBox>("txtDevice"); }
  QTreeWidget* Tree() { return Find<QTreeWidget>("treeDevice"); }
  QComboBox* ModelList() { return Find<QComboBox>("combMcuModel"); }
  QComboBox* IspSize() { return Find<QComboBox>("Combo2"); }
  QLineEdit* StartAddress() { return Find<QLineEdit>("Text4"); }
  QTabWidget* Tabs() { return Find<QTabWidget>("TabStrip2"); }
  QLabel* Caption(const char* array, int row) {
    return Find<QLabel>((array + std::to_string(row)).c_str());
  }
  QRadioButton* Choice(int row, int choice) {
    return Find<QRadioButton>(
        ("Option" + std::to_string(row) + "_" + std::to_string(choice)).c_str());
  }
  // On the button's indicator: a click beside a short caption is not a click on the button.
  void ClickChoice(int row, int choice) {
    QRadioButton* button = Choice(row, choice);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
  }

  void OpenTree() { QTest::mouseClick(DeviceBox(), Qt::LeftButton); }
  QTreeWidgetItem* Node(const QString& text) {
    for (QTreeWidgetItemIterator it(Tree()); *it != nullptr; ++it)
      if ((*it)->text(0) == text) return *it;
    ADD_FAILURE() << "no node " << text.toStdString();
    return nullptr;
  }
  void ClickNode(const QString& text) {
    QTreeWidgetItem* item = Node(text);
    if (item == nullptr) return;
    Tree()->scrollToItem(item);
    QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {},
                      Tree()->visualItemRect(item).center());
  }
  void ChooseFromList(const char* name) {
    const int index = ModelList()->findText(QString::fromLatin1(name));
    ASSERT_GE(index, 0) << name;
    emit ModelList()->activated(index);
  }

  std::vector<int> VisibleRows() {
    std::vector<int> rows;
    for (int row = 0; row < OptionPanelControls::kRows; ++row)
      if (Find<QWidget>(("Picture2_" + std::to_string(row)).c_str())->isVisibleTo(&window))
        rows.push_back(row);
    return rows;
  }
  static QStringList Entries(QComboBox* box) {
    QStringList entries;
    for (int i = 0; i < box->count(); ++i) entries << box->itemText(i);
    return entries;
  }
  QStringList OfferedTabs() {
    QStringList keys;
    for (int i = 0; i < Tabs()->count(); ++i)
      if (Tabs()->isTabVisible(i)) keys << Tabs()->widget(i)->objectName();
    return keys;
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

TEST_F(GuiWiringTest, TreeDropsDownFromTheBoxAndItsModelRebuildsThePanel) {
  EXPECT_EQ(DeviceBox()->currentText(), "VXA01H");
  EXPECT_FALSE(Tree()->isVisible());
  // A list model first, so that every part of the panel has to change back.
  ChooseFromList("VXE02L");

  OpenTree();
  ASSERT_TRUE(Tree()->isVisible());
  EXPECT_TRUE(station.treeDevice.visible);
  ASSERT_EQ(Tree()->topLevelItemCount(), 1);
  QTreeWidgetItem* family = Tree()->topLevelItem(0);
  EXPECT_EQ(family->text(0), "VXA series");
  EXPECT_EQ(family->childCount(), 18);
  EXPECT_EQ(Tree()->currentItem()->text(0), "VXA01H");

  // A family node opens and closes and chooses nothing.
  ASSERT_TRUE(family->isExpanded());
  ClickNode("VXA series");
  EXPECT_FALSE(family->isExpanded());
  EXPECT_TRUE(Tree()->isVisible());
  ClickNode("VXA series");
  EXPECT_TRUE(family->isExpanded());
  EXPECT_EQ(DeviceBox()->currentText(), "VXA01H");
  EXPECT_EQ(station.SelectedDevice.IdentityCode, "0055");

  ClickNode("VXB05H");
  EXPECT_FALSE(Tree()->isVisible());
  EXPECT_FALSE(station.treeDevice.visible);
  EXPECT_EQ(DeviceBox()->currentText(), "VXB05H");
  EXPECT_EQ(VisibleRows(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(Caption("LabOptionE", 0)->text(), "Lock MCU, read FF");
  EXPECT_FALSE(Caption("LabOptionC", 0)->isVisible());
  EXPECT_EQ(Choice(5, 0)->text(), "1/2 gain");
  EXPECT_EQ(Choice(5, 1)->text(), "Full gain");
  EXPECT_TRUE(Choice(5, 1)->isChecked());
  EXPECT_EQ(Entries(IspSize()), (QStringList{"0.0k", "1.0k", "2.0k", "4.0k"}));
  EXPECT_EQ(IspSize()->currentText(), "0.0k");
  EXPECT_EQ(StartAddress()->text(), "0");
  EXPECT_EQ(Caption("read_Option", 1)->text(), "SB: Unknown");
  EXPECT_TRUE(Caption("read_Option", 5)->isVisible());
  EXPECT_TRUE(Find<QComboBox>("AP_size")->isVisible());
  EXPECT_TRUE(Find<QLabel>("SelectedDevice")->text().contains("F10D"));
  EXPECT_TRUE(Find<QLabel>("SelectedDevice")->text().contains("CFFF"));

  // Closed without a choice, by Escape: the model stays. Return chooses the current node.
  OpenTree();
  QTest::keyClick(Tree(), Qt::Key_Escape);
  EXPECT_FALSE(Tree()->isVisible());
  EXPECT_FALSE(station.treeDevice.visible);
  EXPECT_EQ(DeviceBox()->currentText(), "VXB05H");
  OpenTree();
  QTest::keyClick(Tree(), Qt::Key_Down);
  QTest::keyClick(Tree(), Qt::Key_Return);
  EXPECT_EQ(DeviceBox()->currentText(), "VXB06H");
  EXPECT_FALSE(Tree()->isVisible());
}

TEST_F(GuiWiringTest, ListChoiceRebuildsThePanelButLeavesTheBox) {
  ChooseFromList("VXE03L");
  EXPECT_EQ(DeviceBox()->currentText(), "VXA01H");
  EXPECT_EQ(ModelList()->currentText(), "VXE03L");
  EXPECT_EQ(VisibleRows(), (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(Caption("LabOptionE", 3)->text(), "EN6T");
  EXPECT_TRUE(Caption("LabOptionC", 3)->isVisible());
  EXPECT_EQ(Caption("LabOptionC", 3)->text(), "双倍速");
  EXPECT_EQ(IspSize()->count(), 16);
  EXPECT_EQ(IspSize()->currentText(), "2.0k");
  EXPECT_EQ(StartAddress()->text(), "F800");
  EXPECT_FALSE(Caption("read_Option", 5)->isVisible());
  EXPECT_FALSE(Find<QComboBox>("AP_size")->isVisible());

  ChooseFromList("VXA06H");
  EXPECT_EQ(DeviceBox()->currentText(), "VXA01H");
  EXPECT_EQ(VisibleRows(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(Caption("LabOptionE", 0)->text(), "LOCK/锁芯片(读为FF)");
  EXPECT_FALSE(Caption("LabOptionC", 0)->isVisible());
  EXPECT_EQ(Choice(6, 0)->text(), "禁止访问");
  EXPECT_TRUE(Choice(6, 1)->isChecked());
  EXPECT_EQ(Entries(IspSize()), (QStringList{"0.0k", "1.0k", "2.0k", "4.0k"}));
  EXPECT_EQ(IspSize()->currentText(), "2.0k");
  EXPECT_EQ(StartAddress()->text(), "0");
  EXPECT_TRUE(Caption("read_Option", 5)->isVisible());
}

TEST_F(GuiWiringTest, OptionalTabsFollowTheModel) {
  EXPECT_EQ(OfferedTabs(), (QStringList{"auto_increase", "save_file"}));
  EXPECT_TRUE(Find<QCheckBox>("cheAuto_Increase")->isVisibleTo(Tabs()));

  ChooseFromList("VXA01H");
  EXPECT_EQ(OfferedTabs(), (QStringList{"Down_ISP_demo", "auto_increase", "save_file"}));
  EXPECT_EQ(Tabs()->tabText(0), "烧录 ISP DEMO");
  QTest::mouseClick(Tabs()->tabBar(), Qt::LeftButton, {}, Tabs()->tabBar()->tabRect(0).center());
  EXPECT_EQ(station.TabStrip2.selected, 0);

  // A tree model withdraws the tab the operator is on; the station picks the next one.
  OpenTree();
  ClickNode("VXA02H");
  EXPECT_EQ(OfferedTabs(), (QStringList{"auto_increase", "save_file"}));
  EXPECT_EQ(station.TabStrip2.selected, 1);
  EXPECT_EQ(Tabs()->currentIndex(), 1);

  // More families: the tree is rebuilt, and their models offer more options.
  station.SetShowExtraFamilies(true);
  OpenTree();
  ASSERT_EQ(Tree()->topLevelItemCount(), 3);
  EXPECT_EQ(Tree()->currentItem()->text(0), "VXA02H");
  ClickNode("VXC series");
  ClickNode("VXC01H");
  EXPECT_EQ(DeviceBox()->currentText(), "VXC01H");
  EXPECT_EQ(OfferedTabs(), (QStringList{"auto_increase", "save_file", "more_option"}));
  EXPECT_EQ(Tabs()->tabText(4), "更多烧录选项");
  EXPECT_EQ(VisibleRows(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(Caption("LabOptionE", 8)->text(), "ALE/P4.5 用作 P4.5");
  EXPECT_FALSE(Find<QComboBox>("AP_size")->isVisible());
  EXPECT_EQ(StartAddress()->text(), "3400");
}

TEST_F(GuiWiringTest, PanelWidgetsSetTheirControls) {
  ClickChoice(3, 0);
  EXPECT_EQ(station.Option[3].selected, 0);
  EXPECT_TRUE(Choice(3, 0)->isChecked());
  EXPECT_FALSE(Choice(3, 1)->isChecked());
  ClickChoice(3, 1);
  EXPECT_EQ(station.Option[3].selected, 1);
  EXPECT_TRUE(Choice(3, 1)->isChecked());

  station.Timer3().SetEnabled(false);
  emit IspSize()->activated(2);
  EXPECT_EQ(station.Combo2.index, 2);
  EXPECT_TRUE(station.Timer3().Enabled());  // the choice is saved
  StartAddress()->selectAll();
  QTest::keyClicks(StartAddress(), "F400");
  EXPECT_EQ(station.Text4.text, "F400");
  QTest::mouseClick(Find<QCheckBox>("function_enable1"), Qt::LeftButton);
  EXPECT_TRUE(station.function_enable[1].checked);

  // A pair the station leaves without a choice shows none.
  station.Option[2].selected = -1;
  window.Sync();
  EXPECT_FALSE(Choice(2, 0)->isChecked());
  EXPECT_FALSE(Choice(2, 1)->isChecked());

  // A new model brings its defaults back.
  ChooseFromList("VXA01H");
  EXPECT_TRUE(Choice(3, 1)->isChecked());
  EXPECT_TRUE(Choice(2, 0)->isChecked());
  EXPECT_EQ(StartAddress()->text(), "0");
}

TEST_F(GuiWiringTest, ModelAndPanelCannotChangeDuringARun) {
  OpenTree();  // left open when the run starts
  const std::string identity = station.SelectedDevice.IdentityCode;
  const int ispSize = station.Combo2.index;
  bool checked = false;
  At(0.5, [&] {
    checked = true;
    for (const char* name : {"txtDevice", "Combo2", "Text4", "Option0", "Option7"})
      EXPECT_FALSE(Find<QWidget>(name)->isEnabled()) << name;
    EXPECT_FALSE(Tree()->isEnabled());
    emit Tree()->itemClicked(Node("VXB03H"), 0);
    ChooseFromList("VXE01L");

    // Widgets that lag behind the station do not reach it either.
    Tree()->hide();
    DeviceBox()->setEnabled(true);
    OpenTree();
    EXPECT_FALSE(station.treeDevice.visible);
    IspSize()->setEnabled(true);
    emit IspSize()->activated(ispSize == 1 ? 2 : 1);
    StartAddress()->setEnabled(true);
    QTest::keyClicks(StartAddress(), "12");
    Find<QWidget>("Option3")->setEnabled(true);
    ClickChoice(3, 0);

    EXPECT_EQ(station.txtDevice.text, "VXA01H");
    EXPECT_EQ(station.SelectedDevice.IdentityCode, identity);
    EXPECT_EQ(station.Combo2.index, ispSize);
    EXPECT_EQ(station.Text4.text, "0");
    EXPECT_EQ(StartAddress()->text(), "0");
    EXPECT_EQ(station.Option[3].selected, 1);
    EXPECT_TRUE(Choice(3, 1)->isChecked());
  });
  Program()->click();
  ASSERT_TRUE(checked);
  EXPECT_FALSE(Tree()->isVisible());
  EXPECT_TRUE(DeviceBox()->isEnabled());
  EXPECT_TRUE(Find<QWidget>("Option3")->isEnabled());
  OpenTree();
  EXPECT_TRUE(Tree()->isVisible());

  // A run from the function list locks nothing, yet its model stays.
  At(0.5, [&] {
    ASSERT_TRUE(station.RunInProgress());
    emit Tree()->itemClicked(Node("VXB03H"), 0);
    ChooseFromList("VXE01L");
  });
  DoubleClick(2);
  EXPECT_EQ(station.LastRun.function, "Read MCU ID");
  EXPECT_EQ(station.txtDevice.text, "VXA01H");
  EXPECT_EQ(station.SelectedDevice.IdentityCode, identity);
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
