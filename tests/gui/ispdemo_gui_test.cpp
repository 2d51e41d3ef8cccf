// The ISP demo's tab page: real widgets on the offscreen platform, the station on the virtual
// platform with the simulated writer on its line.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include "gui/window_test.h"
#include "platform/virtual/simulated_line.h"
#include "simulator/writer_simulator.h"

namespace kvr {
namespace {

class IspDemoTab : public test::WindowTest {
 protected:
  IspDemoTab() {
    ConnectSimulatedWriter(vp.port, vp.clock, writer);
    station.OnTreeNodeClick("VXA05H");
    const auto& names = station.combMcuModel.entries;
    station.combMcuModel.index =
        static_cast<int>(std::find(names.begin(), names.end(), "VXA05H") - names.begin());
    station.OnModelListClick();
    station.DeferredSave();
    station.txtAuto[8].text = "Erase MCU";
    station.txtAuto[9].text = "Program File";
    Show();
  }
  QColor Background(const char* name) {
    return Find<QLabel>(name)->palette().color(QPalette::Window);
  }

  sim::WriterSimulator writer;
};

TEST_F(IspDemoTab, ParametersAndTheBaudErrorLabel) {
  auto* tabs = Find<QTabWidget>("TabStrip2");
  ASSERT_EQ(tabs->widget(0)->objectName(), "Down_ISP_demo");
  EXPECT_TRUE(tabs->isTabVisible(0));
  EXPECT_EQ(tabs->tabText(0), "ISP demo");
  tabs->setCurrentIndex(0);
  EXPECT_EQ(Find<QLabel>("Lab_BAUD_ERR")->text(), " 0%");

  QLineEdit* crystal = Find<QComboBox>("comb_oscillate_frequency")->lineEdit();
  crystal->selectAll();
  QTest::keyClicks(crystal, "12");
  EXPECT_EQ(station.comb_oscillate_frequency.text, "12");
  emit Find<QComboBox>("comb_ISP_buad")->activated(2);  // 9600
  EXPECT_EQ(Find<QLabel>("Lab_BAUD_ERR")->text(), " .1602%");
  const QColor face = Background("Lab_BAUD_ERR");

  emit Find<QComboBox>("comb_oscillate_frequency")->activated(0);  // 4.0000
  emit Find<QComboBox>("comb_ISP_buad")->activated(8);             // 115200: N = 1
  EXPECT_EQ(crystal->text(), "4.0000");
  EXPECT_EQ(Background("Lab_BAUD_ERR"), QColor(255, 0, 0));
  emit Find<QComboBox>("comb_ISP_buad")->activated(2);
  EXPECT_EQ(Background("Lab_BAUD_ERR"), face);

  auto* port = Find<QComboBox>("comb_ISP_DEMO_WDT0");
  EXPECT_FALSE(port->isEnabled());
  Find<QRadioButton>("opt_ISP_DEMO_WDT1")->click();
  EXPECT_TRUE(port->isEnabled());
  EXPECT_EQ(Find<QRadioButton>("opt_485_pin0")->text(), "No RS-485");
  EXPECT_FALSE(Find<QRadioButton>("opt_485_logic0")->isEnabled());
}

TEST_F(IspDemoTab, WriteOnceAndARepeatStoppedFromThePage) {
  Find<QPushButton>("com_write_ISP_demo")->click();
  EXPECT_TRUE(Find<QPlainTextEdit>("textMsg")->toPlainText().endsWith("Auto              OK!"));
  EXPECT_EQ(writer.Flash()[0xF800 + 114], 0x05);

  station.comDalay_ReDownLoad.index = 5;
  bool locked = false;
  vp.pump.SetIdleHook([&] {
    window.Sync();
    if (!station.textMsg.Contains("准备重复运行... 4")) return;
    locked = !Find<QComboBox>("comb_oscillate_frequency")->isEnabled() &&
             !Find<QPushButton>("com_write_ISP_demo")->isEnabled();
    Find<QPushButton>("com_ISP_demo_stop")->click();
  });
  Find<QPushButton>("com_re_write_ISP_demo")->click();
  vp.pump.SetIdleHook({});
  EXPECT_TRUE(locked);
  EXPECT_TRUE(Find<QPlainTextEdit>("textMsg")->toPlainText().endsWith("操作被中止!"));
  EXPECT_TRUE(Find<QPushButton>("com_re_write_ISP_demo")->isEnabled());
  EXPECT_TRUE(Find<QComboBox>("comb_oscillate_frequency")->isEnabled());
}

}  // namespace
}  // namespace kvr
