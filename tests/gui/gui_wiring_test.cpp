#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "gui/window_test.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/virtual/simulated_line.h"
#include "simulator/writer_simulator.h"

namespace kvr {
namespace {

constexpr const char* kStopped = "操作被中止!";

// The station on the virtual platform with a simulated writer, drawn by a real window that the
// pump's idle hook keeps in step, as in the program.
class GuiWiringTest : public test::WindowTest {
 protected:
  GuiWiringTest() {
    ConnectSimulatedWriter(vp.port, vp.clock, writer);
    // Long enough that an action scheduled early in a run lands inside it.
    writer.Config().latencyUs = 1000;
    Show();
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

  sim::WriterSimulator writer;
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
  EXPECT_TRUE(port->itemText(0).startsWith(QString::fromUtf8("COM1  \u2192  ") +
                                           QString::fromStdString(ports.Target(1))))
      << port->itemText(0).toStdString();
}

TEST_F(GuiWiringTest, ProgramOnTheChosenPortShowsTheConnectionInTheLog) {
  emit Find<QComboBox>("combCommPort")->activated(3);
  EXPECT_EQ(station.combCommPort.Text(), "COM4");
  Program()->click();
  EXPECT_EQ(vp.port.SelectedPort(), 4);
  EXPECT_TRUE(station.LastRun.connected);
  EXPECT_EQ(Log()->toPlainText(),
            "We are connecting...\nWriter Version : 1.3\n\n\nAuto             failed!");
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
  double closedAt = 0;
  At(50, [&] {
    closed = window.close();
    closedAt = vp.clock.NowMs();
  });
  Program()->click();
  EXPECT_TRUE(closed);
  EXPECT_TRUE(station.textMsg.Contains(kStopped));
  EXPECT_FALSE(station.RunInProgress());
  // The close waited for the deferred save, not for the silent writer; the run ended with it.
  EXPECT_LT(closedAt, 2000);
  EXPECT_LT(vp.clock.NowMs(), 2000);
  EXPECT_EQ(vp.settings.Read(Station::kApplication, "Settings", "COM_port", ""), "0");
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
  EXPECT_EQ(Caption("LabOptionC", 3)->text(), "Double speed");
  EXPECT_EQ(IspSize()->count(), 16);
  EXPECT_EQ(IspSize()->currentText(), "2.0k");
  EXPECT_EQ(StartAddress()->text(), "F800");
  EXPECT_FALSE(Caption("read_Option", 5)->isVisible());
  EXPECT_FALSE(Find<QComboBox>("AP_size")->isVisible());

  ChooseFromList("VXA06H");
  EXPECT_EQ(DeviceBox()->currentText(), "VXA01H");
  EXPECT_EQ(VisibleRows(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(Caption("LabOptionE", 0)->text(), "LOCK/Lock, reads FF");
  EXPECT_FALSE(Caption("LabOptionC", 0)->isVisible());
  EXPECT_EQ(Choice(6, 0)->text(), "Disable");
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
  EXPECT_EQ(Tabs()->tabText(0), "ISP demo");
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
  EXPECT_EQ(Tabs()->tabText(4), "More options");
  EXPECT_EQ(VisibleRows(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(Caption("LabOptionE", 8)->text(), "ALE/P4.5 used as P4.5");
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

// The image part of the window: a small file loaded through the widgets, the buffer view and
// its overlay, the tab pages.
class GuiImageTest : public GuiWiringTest {
 protected:
  GuiImageTest() {
    dir = std::filesystem::temp_directory_path() /
          ("kvr_gui_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    // The region limits the loader checks against are drawn by the deferred save of the start.
    station.WaitMs(300);
  }
  ~GuiImageTest() override { std::filesystem::remove_all(dir); }

  std::string WriteFile(const char* name, const std::string& content) {
    const std::string path = (dir / name).string();
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  // Four bytes at address 0.
  std::string LoadSmallHex() {
    const std::string path = WriteFile("small.hex", ":0400000012345678E8\r\n:00000001FF\r\n");
    vp.dialogs.ExpectOpenFile(path);
    Find<QPushButton>("comLoadFile")->click();
    return path;
  }

  QPlainTextEdit* Overlay() { return Find<QPlainTextEdit>("txtBuffer2"); }
  QScrollBar* Scroll() { return Find<QScrollBar>("VScroll1"); }
  // A click on the widget character standing at the station's offset (which counts "\r\n" as 2).
  void ClickAtStationOffset(std::size_t offset) {
    const std::string& text = station.txtBuffer2.text;
    int position = 0;
    for (std::size_t i = 0; i < offset; ++i)
      if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) ++position;
    QTextCursor cursor(Overlay()->document());
    cursor.setPosition(position);
    const QRect at = Overlay()->cursorRect(cursor);
    QTest::mouseClick(Overlay()->viewport(), Qt::LeftButton, {}, at.center() + QPoint(2, 0));
  }
  // The station offset of the first digit of the byte at `address` on the first data line.
  std::size_t FirstDigitOf(int address) {
    return station.txtBuffer2.text.find(" 000000   ") + 10 + 3 * static_cast<std::size_t>(address);
  }
  QString FirstDataLine() {
    const QStringList lines = Overlay()->toPlainText().split(QLatin1Char('\n'));
    for (const QString& line : lines)
      if (!line.trimmed().isEmpty()) return line;
    return {};
  }

  std::filesystem::path dir;
};

TEST_F(GuiImageTest, LoadingAFileShowsItsChecksumTitleRegionsAndBytes) {
  const std::string path = LoadSmallHex();
  EXPECT_TRUE(station.FileLoaded);
  EXPECT_EQ(Find<QLineEdit>("txtFileCheckSum")->text().trimmed(), "0000114H");
  auto* frame = Find<QGroupBox>("Frame7");
  EXPECT_EQ(frame->toolTip(), QString::fromStdString("File: " + path));
  EXPECT_TRUE(frame->title().endsWith("small.hex"));
  for (int i = 0; i < 4; ++i) {
    const std::string name = "txtISP_reange" + std::to_string(i);
    EXPECT_EQ(Find<QLineEdit>(name.c_str())->text().toStdString(), station.txtISP_reange[i].text);
  }
  EXPECT_EQ(Find<QLineEdit>("txtISP_reange0")->text(), "0000");
  EXPECT_TRUE(FirstDataLine().startsWith(" 000000   12 34 56 78 "));
  EXPECT_FALSE(Overlay()->toPlainText().contains(QLatin1Char('\r')));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // A long path is shortened in the title, not widening the window.
  const int width = window.width();
  const std::filesystem::path hundred(std::string(100, 'd'));
  const std::string deep = (dir / hundred / hundred / hundred).string();
  std::filesystem::create_directories(deep);
  const std::string longPath = deep + "/small.hex";
  std::filesystem::copy_file(path, longPath);
  vp.dialogs.ExpectOpenFile(longPath);
  Find<QPushButton>("comLoadFile")->click();
  QApplication::processEvents();
  EXPECT_EQ(window.width(), width);
  EXPECT_LE(frame->fontMetrics().horizontalAdvance(frame->title()), frame->width());

  // Cancelled: the file shown stays.
  vp.dialogs.ExpectOpenFile("");
  Find<QPushButton>("comLoadFile")->click();
  EXPECT_EQ(frame->toolTip(), QString::fromStdString("File: " + longPath));
}

TEST_F(GuiImageTest, TypingInTheOverlayEditsTheByteUnderTheCaret) {
  LoadSmallHex();
  ClickAtStationOffset(FirstDigitOf(1));
  EXPECT_EQ(station.txtBuffer2.selStart, FirstDigitOf(1));
  EXPECT_EQ(station.txtBuffer2.selLength, 1u);
  EXPECT_EQ(Overlay()->textCursor().selectedText(), "3");

  // Refused: nothing changes, nor does the widget insert the key.
  vp.dialogs.ExpectQuestion(false);
  QTest::keyClick(Overlay(), Qt::Key_9);
  EXPECT_EQ(station.ImageBuffer.Get(1), 0x34);
  EXPECT_TRUE(FirstDataLine().startsWith(" 000000   12 34 56"));

  vp.dialogs.ExpectQuestion(true);
  QTest::keyClick(Overlay(), Qt::Key_A, Qt::NoModifier);
  EXPECT_EQ(station.ImageBuffer.Get(1), 0xA4);
  // The caret moves on to the next digit; a second key asks no more.
  EXPECT_EQ(station.txtBuffer2.selStart, FirstDigitOf(1) + 1);
  QTest::keyClicks(Overlay(), "7");
  EXPECT_EQ(station.ImageBuffer.Get(1), 0xA7);
  EXPECT_TRUE(FirstDataLine().startsWith(" 000000   12 A7 56"));
  // Not a hex digit: no change anywhere.
  QTest::keyClicks(Overlay(), "z");
  EXPECT_EQ(station.ImageBuffer.Get(2), 0x56);
  EXPECT_TRUE(FirstDataLine().startsWith(" 000000   12 A7 56"));

  // A click on the address part selects no digit; a key then edits nothing.
  ClickAtStationOffset(FirstDigitOf(0) - 5);
  EXPECT_EQ(station.txtBuffer2.selLength, 0u);
  QTest::keyClicks(Overlay(), "1");
  EXPECT_EQ(station.ImageBuffer.Get(0), 0x12);
}

TEST_F(GuiImageTest, PageKeysAndTheBarMoveTheDrawnWindow) {
  ASSERT_GT(station.VScroll1.maximum, 2);
  Overlay()->setFocus();
  QTest::keyClick(Overlay(), Qt::Key_PageDown);
  EXPECT_EQ(station.VScroll1.value, station.VScroll1.largeChange);
  EXPECT_EQ(Scroll()->value(), station.VScroll1.value);
  EXPECT_TRUE(FirstDataLine().startsWith(
      QStringLiteral(" %1").arg(station.VScroll1.largeChange * 16, 6, 16, QLatin1Char('0'))))
      << FirstDataLine().toStdString();
  QTest::keyClick(Overlay(), Qt::Key_PageUp);
  QTest::keyClick(Overlay(), Qt::Key_PageUp);  // already at the top
  EXPECT_EQ(Scroll()->value(), 0);
  EXPECT_TRUE(FirstDataLine().startsWith(" 000000"));

  // The operator drags the bar.
  Scroll()->setSliderPosition(5);
  EXPECT_EQ(station.VScroll1.value, 5);
  EXPECT_TRUE(FirstDataLine().startsWith(" 000050")) << FirstDataLine().toStdString();

  // Refused while the station draws.
  station.VScroll1.enabled = false;
  window.Sync();
  Scroll()->setEnabled(true);
  Scroll()->setValue(1);
  EXPECT_EQ(station.VScroll1.value, 5);
  EXPECT_EQ(Scroll()->value(), 5);
}

TEST_F(GuiImageTest, ExportFieldsEnableTheStoreButton) {
  auto* store = Find<QPushButton>("comStoreFile");
  auto* length = Find<QLineEdit>("txt_length");
  EXPECT_EQ(length->text().toStdString(), station.txt_length.text);
  length->selectAll();
  QTest::keyClick(length, Qt::Key_Backspace);
  EXPECT_EQ(station.txt_length.text, "");
  EXPECT_FALSE(store->isEnabled());
  QTest::keyClicks(length, "10");
  EXPECT_EQ(station.txt_length.text, "10");
  EXPECT_TRUE(store->isEnabled());

  LoadSmallHex();
  auto* start = Find<QLineEdit>("txt_Start_Address");
  start->selectAll();
  QTest::keyClicks(start, "1");
  length->selectAll();
  QTest::keyClicks(length, "2");
  const std::string out = (dir / "out.bin").string();
  vp.dialogs.ExpectSaveFile(out);
  store->click();
  std::ifstream in(out, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(bytes, "\x34\x56");
}

TEST_F(GuiImageTest, FileFrameAndPagesSetTheirControls) {
  for (const char* name : {"Check6", "cekReloadFile"}) {
    auto* box = Find<QCheckBox>(name);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
  }
  EXPECT_TRUE(station.Check6.checked);
  EXPECT_TRUE(station.cekReloadFile.checked);
  auto* ff = Find<QRadioButton>("optFillbyte0");
  EXPECT_EQ(ff->text(), "FF");
  QTest::mouseClick(ff, Qt::LeftButton, {}, QPoint(6, ff->height() / 2));
  EXPECT_EQ(station.optFillbyte.selected, 0);
  station.optFillbyte.enabled = false;
  window.Sync();
  auto* zero = Find<QRadioButton>("optFillbyte1");
  zero->setEnabled(true);  // lagging behind the station
  QTest::mouseClick(zero, Qt::LeftButton, {}, QPoint(6, zero->height() / 2));
  EXPECT_EQ(station.optFillbyte.selected, 0);
  EXPECT_TRUE(ff->isChecked());
  EXPECT_FALSE(zero->isChecked());

  auto* upper = Find<QTabWidget>("TabStrip1");
  ASSERT_EQ(upper->count(), 4);
  EXPECT_EQ(upper->tabText(2), "Set_Auto");
  upper->setCurrentIndex(2);
  EXPECT_EQ(station.TabStrip1.selected, 2);

  // One highlight in each half of the sequence slots.
  auto clickSlot = [&](int slot) {
    QTest::mouseClick(Find<QLineEdit>(("txtAuto" + std::to_string(slot)).c_str()), Qt::LeftButton);
  };
  clickSlot(2);
  clickSlot(9);
  clickSlot(3);
  for (int slot = 0; slot < Station::kAutoSlots; ++slot)
    EXPECT_EQ(station.txtAuto[slot].highlighted, slot == 3 || slot == 9) << slot;
  // The edit buttons build the sequence: append the highlighted step, delete, delete all.
  QTest::mouseClick(Find<QPushButton>("comAuto0"), Qt::LeftButton);
  clickSlot(1);
  QTest::mouseClick(Find<QPushButton>("comAuto0"), Qt::LeftButton);
  EXPECT_EQ(Find<QLineEdit>("txtAuto8")->text().toStdString(), station.txtAuto[3].text);
  EXPECT_EQ(Find<QLineEdit>("txtAuto9")->text().toStdString(), station.txtAuto[1].text);
  clickSlot(8);
  QTest::mouseClick(Find<QPushButton>("comAuto1"), Qt::LeftButton);
  EXPECT_EQ(Find<QLineEdit>("txtAuto8")->text().toStdString(), station.txtAuto[1].text);
  EXPECT_EQ(Find<QLineEdit>("txtAuto9")->text(), "");
  QTest::mouseClick(Find<QPushButton>("comAuto2"), Qt::LeftButton);
  EXPECT_EQ(Find<QLineEdit>("txtAuto8")->text(), "");
  EXPECT_TRUE(Find<QPushButton>("comReDownload")->isEnabled());

  // The report file and its format.
  auto* report = Find<QLineEdit>("txtReportFile");
  report->setFocus();
  QTest::keyClicks(report, "/tmp/line1.csv");
  emit report->editingFinished();
  EXPECT_EQ(station.txtReportFile.text, "/tmp/line1.csv");
  auto* jsonl = Find<QRadioButton>("optReportFormat1");
  QTest::mouseClick(jsonl, Qt::LeftButton, {}, QPoint(6, jsonl->height() / 2));
  EXPECT_EQ(station.optReportFormat.selected, 1);

  // The line database: typed, it is the station's, and what the line holds shows under it.
  auto* lineDb = Find<QLineEdit>("txtLineDatabase");
  lineDb->setFocus();
  QTest::keyClicks(lineDb, "sqlite:/srv/line.db");
  emit lineDb->editingFinished();
  EXPECT_EQ(station.txtLineDatabase.text, "sqlite:/srv/line.db");
  EXPECT_EQ(vp.lineDatabases.opened.back(), "sqlite:/srv/line.db");
  EXPECT_EQ(Find<QLabel>("labLineDatabase")->text(), "Line default: 0 good");

  auto* no = Find<QRadioButton>("optBeepNo");
  QTest::mouseClick(no, Qt::LeftButton, {}, QPoint(6, no->height() / 2));
  EXPECT_FALSE(station.optBeepYes.checked);
  EXPECT_TRUE(station.optBeepNo.checked);
  emit Find<QComboBox>("comDalay_ReDownLoad")->activated(7);
  EXPECT_EQ(station.comDalay_ReDownLoad.index, 7);

  // The stored address lies beyond this model's user area: the tick says so.
  vp.dialogs.ExpectInformation();
  auto* serial = Find<QCheckBox>("cheAuto_Increase");
  QTest::mouseClick(serial, Qt::LeftButton, {}, QPoint(6, serial->height() / 2));
  EXPECT_EQ(station.cheAuto_Increase.checked, Find<QCheckBox>("cheAuto_Increase")->isChecked());
  auto* field = Find<QLineEdit>("texAuto_Increase3");
  if (station.texAuto_Increase[3].enabled) {
    field->selectAll();
    QTest::keyClicks(field, "2");
    EXPECT_EQ(station.texAuto_Increase[3].text, "2");
  }
}

TEST_F(GuiImageTest, SettingsChangedInTheWindowAreStoredAndClosingSavesThem) {
  emit Find<QComboBox>("combCommPort")->activated(2);
  station.WaitMs(300);
  EXPECT_EQ(vp.settings.Read(Station::kApplication, "Settings", "COM_port", ""), "2");
  EXPECT_TRUE(Find<QGroupBox>("framStep")->title().contains("COM3"));

  station.txtWrite_OK_Count.text = "17";
  bool secondAccepted = true;
  // A second request while the first waits for the save is turned away.
  At(20, [&] {
    QCloseEvent second;
    QApplication::sendEvent(&window, &second);
    secondAccepted = second.isAccepted();
  });
  EXPECT_TRUE(window.close());
  EXPECT_FALSE(secondAccepted);
  EXPECT_EQ(vp.settings.Read(Station::kApplication, "Settings", "Write_OK_Count", ""), "17");
  EXPECT_FALSE(window.isVisible());
}

// The operator's window on the screens of the line: what must be in sight, the verdict, one
// language at a time, the keys, and a file dropped or reloaded.
class OperatorWindowTest : public GuiImageTest {
 protected:
  // Inside the window and inside every pane and scroll area around it.
  static bool FullyShown(QWidget* widget) {
    if (!widget->isVisible() || widget->width() <= 0 || widget->height() <= 0) return false;
    for (QWidget* up = widget->parentWidget(); up != nullptr; up = up->parentWidget()) {
      const QRect inside(widget->mapTo(up, QPoint(0, 0)), widget->size());
      if (!up->rect().contains(inside)) return false;
      if (up->isWindow()) break;
    }
    return true;
  }
  // Every text the window shows now: captions, titles, tabs, entries, menus.
  QStringList ShownTexts() {
    QStringList texts;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
      if (!widget->isVisible()) continue;
      if (auto* label = qobject_cast<QLabel*>(widget)) texts << label->text();
      if (auto* button = qobject_cast<QAbstractButton*>(widget)) texts << button->text();
      if (auto* group = qobject_cast<QGroupBox*>(widget)) texts << group->title();
      if (auto* box = qobject_cast<QComboBox*>(widget)) texts << box->currentText();
      if (auto* tabs = qobject_cast<QTabBar*>(widget))
        for (int i = 0; i < tabs->count(); ++i)
          if (tabs->isTabVisible(i)) texts << tabs->tabText(i);
    }
    for (int row = 0; row < Functions()->count(); ++row) texts << Functions()->item(row)->text();
    for (QAction* menu : window.menuBar()->actions()) {
      texts << menu->text();
      for (QAction* action : menu->menu()->actions()) texts << action->text();
    }
    texts << window.windowTitle();
    texts.removeAll(QString());
    return texts;
  }
  // The texts of every tab page of both strips, each shown in turn.
  QStringList TextsOfEveryPage() {
    QStringList texts;
    for (const char* name : {"TabStrip1", "TabStrip2"}) {
      auto* tabs = Find<QTabWidget>(name);
      for (int i = 0; i < tabs->count(); ++i) {
        if (!tabs->isTabVisible(i)) continue;
        tabs->setCurrentIndex(i);
        texts << ShownTexts();
      }
    }
    return texts;
  }
  QAction* MenuAction(const QString& text) {
    for (QAction* menu : window.menuBar()->actions())
      for (QAction* action : menu->menu()->findChildren<QAction*>())
        if (action->text() == text) return action;
    for (QAction* action : window.findChildren<QAction*>())
      if (action->text() == text) return action;
    ADD_FAILURE() << "no action " << text.toStdString();
    return nullptr;
  }
  void Sequence(std::initializer_list<const char*> steps) {
    station.EditAutoSequence(2);
    for (const char* step : steps) {
      for (int i = 0; i < Station::kFirstSequenceSlot; ++i)
        if (station.txtAuto[static_cast<std::size_t>(i)].text == step) station.OnAutoSlotClick(i);
      station.EditAutoSequence(0);
    }
    window.Sync();
  }
  QLabel* Verdict() { return Find<QLabel>("verdictState"); }
};

TEST_F(OperatorWindowTest, FitsTheScreensOfTheLineAndKeepsItsPanes) {
  Program()->click();  // a failure: the verdict with its reason, a line of the history
  // A task bar of 40 and a title bar of 30 pixels.
  for (const QSize screen : {QSize(1024, 768), QSize(1366, 768)}) {
    SCOPED_TRACE(screen.width());
    const QRect room(QPoint(0, 0), screen - QSize(0, 40));
    window.ShowOnScreen(room);
    EXPECT_TRUE(room.contains(window.frameGeometry()));
    window.resize(screen - QSize(0, 70));
    EXPECT_EQ(window.size(), screen - QSize(0, 70)) << "the window may be made this small";
    station.ProgressBar1.visible = true;  // as during programming
    window.Sync();
    QApplication::processEvents();
    for (const char* name : {"comDownload", "comStop_Download", "ProgressBar1", "textMsg",
                             "verdictState", "txtFuction", "history"})
      EXPECT_TRUE(FullyShown(Find<QWidget>(name))) << name;

    // Another tab moves nothing under the operator's hand.
    const QPoint program = Program()->mapTo(&window, QPoint(0, 0));
    auto* upper = Find<QTabWidget>("TabStrip1");
    for (int i = 0; i < upper->count(); ++i) {
      upper->setCurrentIndex(i);
      QApplication::processEvents();
      EXPECT_EQ(Program()->mapTo(&window, QPoint(0, 0)), program) << i;
    }
    upper->setCurrentIndex(0);
  }
}

TEST_F(OperatorWindowTest, VerdictPanelReadsFromAcrossTheBench) {
  EXPECT_EQ(Verdict()->text(), "READY");
  QString during;
  At(0.5, [&] { during = Verdict()->text(); });
  Program()->click();
  EXPECT_EQ(during, "RUNNING");
  EXPECT_EQ(Verdict()->text(), "FAIL");
  EXPECT_EQ(Find<QLabel>("verdictReason")->text(),
            "The automatic sequence is empty: add steps on the Set_Auto tab.");
  auto* history = Find<QTableWidget>("history");
  ASSERT_EQ(history->rowCount(), 1);
  EXPECT_EQ(history->item(0, 1)->text(), "FAIL");

  Sequence({"Read MCU ID"});
  QString step;
  At(300, [&] { step = Find<QLabel>("verdictStep")->text(); });
  Program()->click();
  EXPECT_EQ(step, "Read MCU ID");
  EXPECT_EQ(Verdict()->text(), "PASS");
  EXPECT_TRUE(Find<QLabel>("verdictReason")->isHidden());
  EXPECT_EQ(Find<QLabel>("verdictGood")->text(), "1");
  EXPECT_EQ(Find<QLabel>("verdictChip")->text(), "F101");

  At(30, [&] { Stop()->click(); });
  Program()->click();
  EXPECT_EQ(Verdict()->text(), "STOPPED");
  ASSERT_EQ(history->rowCount(), 3);
  EXPECT_EQ(history->item(0, 1)->text(), "STOPPED") << "the newest first";
  EXPECT_EQ(history->item(2, 1)->text(), "FAIL");
}

TEST_F(OperatorWindowTest, OneLanguageAtATime) {
  // A model of the model list offers the ISP demo page and rows of both kinds of caption.
  ChooseFromList("VXA01H");
  window.Sync();
  const QRegularExpression chinese(QStringLiteral("[\\x{3000}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]"));
  for (const QString& text : TextsOfEveryPage())
    EXPECT_FALSE(text.contains(chinese)) << text.toStdString();

  MenuAction(QStringLiteral("中文"))->trigger();
  EXPECT_FALSE(station.UseEnglish);
  // Texts without a language: names of models, registers and ports, numbers, the file frame.
  const QRegularExpression neutral(QStringLiteral(
      "^([-\\s\\d.:/"
      "()%,*+>\\x{2013}\\x{2192}]|P\\d|[A-F0-9]{2,6}H?|VX[A-E]\\d\\d[HL]|COM\\d|YES|NO|LOCK|SB|"
      "MOVCL|EN6T|"
      "HWBS|ENCRYPT|HWEN_ISP|ALE|P4\\.5|ADC|PCA|XRAM|SPI|CSV|JSON|Lines|ISP|AP|ID|MCU|File|"
      "gain|Full|Program|Esc|F5|Return|Ctrl|O|English|\\.\\.\\.|\\bK\\b|k|K)*$"));
  for (const QString& text : TextsOfEveryPage())
    EXPECT_TRUE(text.contains(chinese) || neutral.match(text).hasMatch()) << text.toStdString();
  EXPECT_EQ(Program()->text(), QString::fromUtf8("编程"));
  EXPECT_EQ(Find<QTabWidget>("TabStrip2")->tabText(0), QString::fromUtf8("烧录 ISP DEMO"));
}

TEST_F(OperatorWindowTest, KeysAndTheDeviceMenuStartAndStop) {
  QApplication::setActiveWindow(&window);
  EXPECT_TRUE(Program()->toolTip().contains("F5"));
  EXPECT_TRUE(Stop()->toolTip().contains("Esc"));
  Functions()->setFocus();
  QTest::keyClick(Functions(), Qt::Key_F5);
  EXPECT_EQ(station.RunsFinished, 1U);
  QTest::keyClick(Functions(), Qt::Key_Return);
  EXPECT_EQ(station.RunsFinished, 2U);
  // Return ends typing in a field; it starts nothing.
  auto* report = Find<QLineEdit>("txtReportFile");
  Find<QTabWidget>("TabStrip1")->setCurrentIndex(2);
  report->setFocus();
  QTest::keyClick(report, Qt::Key_Return);
  EXPECT_EQ(station.RunsFinished, 2U);

  writer.Config().fault = sim::Fault::Silent;
  At(30, [&] { QTest::keyClick(Functions(), Qt::Key_Escape); });
  Functions()->setFocus();
  QTest::keyClick(Functions(), Qt::Key_F5);
  EXPECT_EQ(station.RunVerdict.state, Station::VerdictState::Stopped);
  writer.Config().fault = sim::Fault::None;

  MenuAction(QStringLiteral("Read MCU ID"))->trigger();
  EXPECT_EQ(station.LastRun.function, "Read MCU ID");
  EXPECT_EQ(station.SelectedFunction(), "Read MCU ID");

  vp.dialogs.ExpectOpenFile("");
  QTest::keyClick(Functions(), Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(vp.dialogs.ShownDialogs().size(), 1U);
}

TEST_F(OperatorWindowTest, DroppedFileLoadsAndTheNextStartReloadsIt) {
  const std::string path = WriteFile("dropped.hex", ":0400000012345678E8\r\n:00000001FF\r\n");
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &drop);
  EXPECT_TRUE(station.FileLoaded);
  EXPECT_EQ(window.windowTitle(), "KVR programming station - dropped.hex");
  // A folder is no file to load.
  QMimeData folder;
  folder.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.string()))});
  QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &folder, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &refused);
  EXPECT_FALSE(refused.isAccepted());

  // The next start opens it again, with its checksum.
  Station next(vp.platform);
  PortMap nextPorts;
  MainWindow nextWindow(next, nextPorts);
  next.LoadAtStart("");
  nextWindow.Sync();
  EXPECT_EQ(nextWindow.findChild<QLineEdit*>("txtFileCheckSum")->text().trimmed(), "0000114H");
  EXPECT_TRUE(nextWindow.windowTitle().endsWith("dropped.hex"));
}

// A job saved from the window and opened for production: the product in the title and over the
// verdict, the set-up out of reach, Program and the port left; leaving asks first.
TEST_F(OperatorWindowTest, AJobOpenedForProductionLocksTheSetUp) {
  const std::string image = WriteFile("fw.hex", ":0400000012345678E8\r\n:00000001FF\r\n");
  vp.dialogs.ExpectOpenFile(image);
  MenuAction(QStringLiteral("&Open..."))->trigger();
  Sequence({"Erase MCU", "Program File"});
  QTest::keyClicks(Find<QLineEdit>("txtJobProduct"), "Widget");
  const std::string job = (dir / "line.kvrjob").string();
  vp.dialogs.ExpectSaveFile(job);
  MenuAction(QStringLiteral("Save jo&b as..."))->trigger();
  ASSERT_TRUE(station.Job) << station.LastJobError;
  EXPECT_EQ(window.windowTitle(), "KVR programming station - Widget (line.kvrjob) - fw.hex");

  vp.dialogs.ExpectOpenFile(job);
  MenuAction(QStringLiteral("Open job for &production..."))->trigger();
  ASSERT_TRUE(station.OperatorMode) << station.LastJobError;
  EXPECT_EQ(window.windowTitle(),
            "KVR programming station - Widget (line.kvrjob), operator mode - fw.hex");
  EXPECT_EQ(Find<QLabel>("verdictProduct")->text(), "Widget");
  EXPECT_FALSE(Find<QLabel>("verdictProduct")->isHidden());
  for (const char* name : {"combMcuModel", "Combo2", "comLoadFile", "txtJobProduct"})
    EXPECT_FALSE(Find<QWidget>(name)->isEnabled()) << name;
  for (const char* name : {"comDownload", "comReDownload", "combCommPort"})
    EXPECT_TRUE(Find<QWidget>(name)->isEnabled()) << name;
  EXPECT_FALSE(MenuAction(QStringLiteral("Open &job..."))->isEnabled());
  EXPECT_FALSE(MenuAction(QStringLiteral("&Open..."))->isEnabled());

  vp.dialogs.ExpectQuestion(true);
  MenuAction(QStringLiteral("&Leave operator mode..."))->trigger();
  EXPECT_FALSE(station.OperatorMode);
  EXPECT_TRUE(Find<QWidget>("comLoadFile")->isEnabled());
  EXPECT_FALSE(MenuAction(QStringLiteral("&Leave operator mode..."))->isEnabled());
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
