// The offline board's tab page: real widgets on the offscreen platform, the station on the
// virtual platform with the simulated board on its line.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <memory>

#include "gui/window_test.h"
#include "simulator/offline_board.h"

namespace kvr {
namespace {

class OfflineTab : public test::WindowTest {
 protected:
  explicit OfflineTab(bool english = false) : WindowTest(english) {
    vp.port.onWrite = [this](const Bytes& bytes) {
      for (auto& t : board.Receive(bytes, vp.clock.Now()))
        vp.port.DeliverAfter(t.delayUs, std::move(t.bytes));
    };
    station.DeferredSave();
    Show();
  }

  int TjslTab() {
    auto* tabs = Find<QTabWidget>("TabStrip2");
    for (int i = 0; i < tabs->count(); ++i)
      if (tabs->widget(i)->objectName() == "TJSL") return i;
    return -1;
  }

  sim::OfflineBoard board;
};

class OfflineTabInEnglish : public OfflineTab {
 protected:
  OfflineTabInEnglish() : OfflineTab(true) {}
};

TEST_F(OfflineTabInEnglish, TabIsNotOffered) {
  const int tab = TjslTab();
  ASSERT_GE(tab, 0);
  EXPECT_FALSE(Find<QTabWidget>("TabStrip2")->isTabVisible(tab));
}

TEST_F(OfflineTab, DownloadFromTheTabPage) {
  auto* tabs = Find<QTabWidget>("TabStrip2");
  ASSERT_TRUE(tabs->isTabVisible(TjslTab()));
  EXPECT_EQ(tabs->tabText(TjslTab()), "脱机烧录");
  QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {},
                    tabs->tabBar()->tabRect(TjslTab()).center());
  EXPECT_EQ(station.TabStrip2.selected, TjslTab());
  EXPECT_TRUE(Find<QPushButton>("comTJXZ")->isVisible());

  for (std::int64_t a = 0; a < 0x100; ++a) station.ImageBuffer.Set(a, static_cast<std::uint8_t>(a));
  station.FileLoaded = true;

  auto* limit = Find<QLineEdit>("txt_download_max");
  limit->setFocus();
  QTest::keyClicks(limit, "300");
  EXPECT_EQ(station.txt_download_max.text, "300");

  auto* download = Find<QPushButton>("comTJXZ");
  bool lockedDuringDownload = false;
  vp.clock.ScheduleAfter(1'005'000, [&] {
    window.Sync();
    lockedDuringDownload = !download->isEnabled() && !limit->isEnabled();
  });
  download->click();
  EXPECT_TRUE(lockedDuringDownload);
  EXPECT_TRUE(download->isEnabled());
  EXPECT_TRUE(limit->isEnabled());
  EXPECT_EQ(station.LastOfflineDownload, 0);
  EXPECT_TRUE(Find<QPlainTextEdit>("textMsg")->toPlainText().endsWith("Download OK. / 下载成功。"));
  EXPECT_EQ(board.Image()[0xEE00], 0xFF);  // 300 copies: 37 bytes of one-bits and 0x0F
  EXPECT_EQ(board.Image()[0xEE25], 0x0F);

  vp.dialogs.ExpectInformation();
  Find<QPushButton>("comTJSL_disp")->click();
  ASSERT_EQ(vp.dialogs.ShownDialogs().size(), 1U);
  EXPECT_EQ(vp.dialogs.ShownDialogs()[0].title, "脱机烧录过程中的显示");
}

}  // namespace
}  // namespace kvr
