#include "ispdemo/isp_tool.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace kvr::isp {

namespace {

std::string Describe(const ChipIdentity& id) {
  char text[160];
  std::snprintf(text, sizeof text,
                "ISP demo %d.%d on model %04X at %04X: erase clears 0000-%04X (%d sectors)",
                id.version >> 4, id.version & 0x0F, id.model, static_cast<unsigned>(id.base),
                static_cast<unsigned>(std::max(id.EraseEnd() - 1, 0)), id.sectors);
  return text;
}

// The blocks that hold any of the file's bytes, in address order.
std::vector<std::int32_t> BlocksWithData(const IspImage& image, int size) {
  std::vector<std::int32_t> blocks;
  for (std::int32_t block = image.first - image.first % size; block <= image.last; block += size) {
    for (std::int32_t a = block; a < block + size; ++a) {
      if (a <= 0xFFFF && image.present[a]) {
        blocks.push_back(block);
        break;
      }
    }
  }
  return blocks;
}

}  // namespace

IspTool::IspTool(IspClient& client, Print print, Progress progress)
    : client_(client), print_(std::move(print)), progress_(std::move(progress)) {}

bool IspTool::Fail(const std::string& error) {
  print_("Failed: " + error);
  return false;
}

std::optional<ChipIdentity> IspTool::Connect() {
  std::string error;
  auto identity = client_.Identify(error);
  if (!identity) {
    Fail(error + " (is the ISP demo running, at this baud rate and parity?)");
    return std::nullopt;
  }
  if (identity->block <= 0 || static_cast<std::size_t>(identity->block) > kBlockSize) {
    Fail("identify: the chip names a block size of " + std::to_string(identity->block));
    return std::nullopt;
  }
  print_(Describe(*identity));
  return identity;
}

bool IspTool::Fits(const IspImage& image, const ChipIdentity& identity) {
  if (image.Empty()) return Fail("the file holds no data");
  if (image.last >= identity.EraseEnd()) {
    return Fail("the file reaches " + Hex4(image.last) + ", beyond " +
                Hex4(std::max(identity.EraseEnd() - 1, 0)) + ", the last address the demo erases");
  }
  return true;
}

bool IspTool::EraseChip(const ChipIdentity& identity) {
  std::string error;
  progress_("Erasing", 0, identity.sectors);
  if (!client_.Erase(identity.sectors, error)) return Fail(error);
  progress_("Erasing", identity.sectors, identity.sectors);
  print_("Erased 0000-" + Hex4(std::max(identity.EraseEnd() - 1, 0)));
  return true;
}

bool IspTool::Identify() {
  return Connect().has_value();
}

bool IspTool::Erase() {
  const auto identity = Connect();
  return identity && EraseChip(*identity);
}

bool IspTool::Program(const IspImage& image) {
  const auto identity = Connect();
  if (!identity || !Fits(image, *identity) || !EraseChip(*identity)) return false;
  const auto blocks = BlocksWithData(image, identity->block);
  const int total = static_cast<int>(blocks.size());
  std::string error;
  progress_("Programming", 0, total);
  for (int i = 0; i < total; ++i) {
    const std::int32_t block = blocks[i];
    // Gaps inside a block are sent as FFh, which leaves those bytes erased.
    std::vector<std::uint8_t> bytes(image.bytes.begin() + block,
                                    image.bytes.begin() + block + identity->block);
    while (!bytes.empty() && bytes.back() == 0xFF) bytes.pop_back();
    if (!bytes.empty() && !client_.Program(static_cast<std::uint16_t>(block), bytes, error))
      return Fail(error);
    progress_("Programming", i + 1, total);
  }
  print_("Programmed " + std::to_string(total) + " blocks, " + Hex4(image.first) + "-" +
         Hex4(image.last));
  return VerifyChip(image, *identity);
}

bool IspTool::Verify(const IspImage& image) {
  const auto identity = Connect();
  return identity && VerifyChip(image, *identity);
}

bool IspTool::VerifyChip(const IspImage& image, const ChipIdentity& identity) {
  if (image.Empty()) return Fail("the file holds no data");
  const auto blocks = BlocksWithData(image, identity.block);
  const int total = static_cast<int>(blocks.size());
  std::string error;
  std::vector<std::uint8_t> chip;
  int checked = 0;
  progress_("Verifying", 0, total);
  for (int i = 0; i < total; ++i) {
    const std::int32_t address = blocks[i];
    const int count = std::min(identity.block, 0x10000 - address);
    if (!client_.Read(static_cast<std::uint16_t>(address), count, chip, error)) return Fail(error);
    for (int j = 0; j < count; ++j) {
      if (!image.present[address + j]) continue;
      ++checked;
      if (chip[j] != image.bytes[address + j]) {
        char text[96];
        std::snprintf(text, sizeof text, "verify: %04X holds %02X, the file %02X", address + j,
                      chip[j], image.bytes[address + j]);
        return Fail(text);
      }
    }
    progress_("Verifying", i + 1, total);
  }
  print_("Verified " + std::to_string(checked) + " bytes, " + Hex4(image.first) + "-" +
         Hex4(image.last));
  return true;
}

bool IspTool::Run() {
  std::string error;
  if (!client_.Run(error)) return Fail(error);
  print_("The application at 0000 is running");
  return true;
}

}  // namespace kvr::isp
