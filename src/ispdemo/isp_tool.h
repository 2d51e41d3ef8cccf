#pragma once

#include <functional>
#include <optional>
#include <string>

#include "ispdemo/isp_client.h"
#include "ispdemo/isp_image.h"

namespace kvr::isp {

// What kvr-isp does with a chip running the ISP demo. Each command says what it did in lines
// for the operator and reports progress of the long ones; each returns true only on success.
class IspTool {
 public:
  using Print = std::function<void(const std::string& line)>;
  // Called with done == 0 first and done == total last.
  using Progress = std::function<void(const std::string& what, int done, int total)>;

  IspTool(IspClient& client, Print print, Progress progress);

  bool Identify();
  bool Erase();
  // Erase, program every block that holds data, then verify.
  bool Program(const IspImage& image);
  bool Verify(const IspImage& image);
  bool Run();

 private:
  std::optional<ChipIdentity> Connect();
  bool Fits(const IspImage& image, const ChipIdentity& identity);
  bool EraseChip(const ChipIdentity& identity);
  bool VerifyChip(const IspImage& image, const ChipIdentity& identity);
  bool Fail(const std::string& error);

  IspClient& client_;
  Print print_;
  Progress progress_;
};

}  // namespace kvr::isp
