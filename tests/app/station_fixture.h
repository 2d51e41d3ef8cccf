#pragma once

#include <gtest/gtest.h>

#include "app/station.h"
#include "platform/virtual/simulated_line.h"
#include "platform/virtual/virtual_platform.h"

namespace kvr {

// A station on the virtual platform wired to a simulated writer.
class StationTest : public ::testing::Test {
 protected:
  StationTest() : station(vp.platform) { ConnectSimulatedWriter(vp.port, vp.clock, writer); }

  // Runs `action` at `ms` of virtual time from now.
  void At(double ms, std::function<void()> action) {
    vp.clock.ScheduleAfter(static_cast<VirtualClock::Micros>(ms * 1000), std::move(action));
  }

  VirtualPlatform vp;
  sim::WriterSimulator writer;
  Station station;
};

}  // namespace kvr
