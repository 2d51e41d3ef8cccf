#pragma once

// Real widgets on the offscreen platform: the window drawing a station that runs on the virtual
// platform.

#include <gtest/gtest.h>

#include <QString>

#include "app/station.h"
#include "gui/main_window.h"
#include "platform/port_map.h"
#include "platform/virtual/virtual_platform.h"

namespace kvr::test {

class WindowTest : public ::testing::Test {
 protected:
  explicit WindowTest(bool english = true) : station(vp.platform, english) {}

  // Shows the window as it stands, kept in step from then on by the pump's idle hook, as in the
  // program.
  void Show() {
    vp.pump.SetIdleHook([this] { window.Sync(); });
    window.Sync();
    window.show();
  }

  template <typename Widget>
  Widget* Find(const char* name) {
    auto* widget = window.findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  VirtualPlatform vp;
  PortMap ports;
  Station station;
  MainWindow window{station, ports};
};

}  // namespace kvr::test
