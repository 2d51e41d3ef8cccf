#pragma once

#include "catalogue/selected_device.h"
#include "link/message_log.h"
#include "link/writer_link.h"

namespace kvr {

// What a device operation works with: the link, the message log in the window's language, and
// the selected model.
struct OperationContext {
  WriterLink& link;
  MessageLog& log;
  const bool& useEnglish;
  const SelectedDeviceFields& device;

  const char* Pick(const Wording& wording) const { return wording.Pick(useEnglish); }
};

}  // namespace kvr
