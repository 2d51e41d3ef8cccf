#pragma once

// One scenario of the file loaders, shared by the HEX and the binary target: a station on the
// virtual platform with an arbitrary model, ISP size, fill byte and buffer start text opens an
// arbitrary file, once or twice. The buffer may change only where the file's data can land, and
// the load bookkeeping stays within the buffer's addresses.

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/station.h"
#include "catalogue/catalogue.h"
#include "fuzz/fuzz_platform.h"
#include "image/hex_field.h"

namespace kvr::fuzz {

enum class LoaderTarget { Hex, Binary };

// A folder of this process for the file under test, removed when the process ends normally.
class ScratchFolder {
 public:
  ScratchFolder()
      : path_(std::filesystem::temp_directory_path() / ("kvr-fuzz-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string Write(const std::string& name, std::span<const std::uint8_t> bytes) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return file.string();
  }

 private:
  std::filesystem::path path_;
};

// Whether a file without ".HEX" in its name goes to the HEX loader: its first three text items
// (ending at a line end or a comma, leading blanks skipped) all begin with a colon.
inline bool JudgedHex(std::span<const std::uint8_t> file) {
  int seen = 0;
  for (std::size_t i = 0; seen < 3 && i < file.size(); ++seen) {
    while (i < file.size() && (file[i] == ' ' || file[i] == '\t')) ++i;
    if (i == file.size() || file[i] != ':') return false;
    while (i < file.size() && file[i] != '\n' && file[i] != ',' && file[i] != '\r') ++i;
    if (i + 1 < file.size() && file[i] == '\r' && file[i + 1] == '\n') ++i;
    ++i;
  }
  return seen > 0;
}

KVR_FUZZ_UNTRACED inline void CheckLoad(FuzzPlatform& fp, Station& station, bool hex,
                                        std::span<const std::uint8_t> file,
                                        const std::string& path) {
  using Buffer = std::array<std::uint8_t, ImageBufferArray::kSize>;
  const Buffer before = station.ImageBuffer.Bytes();
  const bool wasLoaded = station.FileLoaded;
  const std::size_t boxes = fp.dialogs.informations.size();
  const RegionLimits limits = station.ReadRegionLimits();
  const SelectedDeviceFields& d = station.SelectedDevice;

  station.LoadedFileName = path;
  station.LoadFile();
  const Buffer& after = station.ImageBuffer.Bytes();

  // The loaders place the file at the value the check accepts: the field's last five characters.
  const std::int64_t offset = ParseHexField(station.Text4.text, 5);
  if (offset < 0 || offset > limits.IspRangeEnd) {
    KVR_FUZZ_CHECK(fp.dialogs.informations.size() == boxes + 1);
    KVR_FUZZ_CHECK(fp.dialogs.informations.back() ==
                   (station.UseEnglish ? "Buffer Start Address Outrun the valid scope. "
                                       : "Buffer Start Address Outrun the valid scope. \r\n"
                                         "       缓冲区起始地址超出有效空间。"));
    KVR_FUZZ_CHECK(after == before && station.FileLoaded == wasLoaded);
    return;
  }

  Buffer base = before;
  if (!wasLoaded || station.Check6.checked)
    std::fill(base.begin(), base.begin() + ImageBufferArray::kCodeSpaceEnd + 1, station.FillByte());
  if (!station.FileLoaded) {
    // Only the answer No to the checksum question aborts a load; the code space is then 0x00.
    KVR_FUZZ_CHECK(hex && !fp.dialogs.answered.empty() && !fp.dialogs.answered.back());
    KVR_FUZZ_CHECK(std::all_of(after.begin(), after.begin() + ImageBufferArray::kCodeSpaceEnd + 1,
                               [](std::uint8_t b) { return b == 0; }));
    KVR_FUZZ_CHECK(std::equal(after.begin() + ImageBufferArray::kCodeSpaceEnd + 1, after.end(),
                              base.begin() + ImageBufferArray::kCodeSpaceEnd + 1));
    return;
  }

  const bool binary = !hex;
  // The gap of class 0 and 1 models, filled whatever the file had there.
  const bool gapModel = !d.ApUpToIsp && d.DeviceClassCode < 2;
  auto inGap = [&](std::int64_t a) { return gapModel && a > limits.ApRangeEnd && a < d.IspStart; };
  const std::int64_t highest =
      binary ? offset + static_cast<std::int64_t>(file.size()) - 1 : limits.IspRangeEnd;
  for (std::size_t a = 0; a < after.size(); ++a) {
    const auto address = static_cast<std::int64_t>(a);
    if (after[a] != base[a])
      KVR_FUZZ_CHECK((address >= offset && address <= highest) || inGap(address));
  }
  if (binary) {
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < file.size(); ++i) {
      sum += file[i];
      const std::int64_t a = offset + static_cast<std::int64_t>(i);
      if (ImageBufferArray::Holds(a) && !inGap(a))
        KVR_FUZZ_CHECK(after[static_cast<std::size_t>(a)] == file[i]);
    }
    KVR_FUZZ_CHECK(station.FileChecksum == sum);
    KVR_FUZZ_CHECK(
        station.DataEnd ==
        std::min<std::int64_t>(offset + static_cast<std::int64_t>(file.size()) - 1, d.IspEnd));
  } else {
    KVR_FUZZ_CHECK(station.DataEnd >= 0);
  }
  KVR_FUZZ_CHECK(station.DataEnd >= -1 && station.DataEnd <= std::max(d.IspEnd, limits.ApRangeEnd));
  KVR_FUZZ_CHECK(station.LoadStart == offset);
  KVR_FUZZ_CHECK(station.ProgramStart <= station.LoadStart);
  KVR_FUZZ_CHECK(station.ProgramEnd >= station.DataEnd);
}

// Input: model, ISP size, flags, answers to questions, the buffer start text unless the model's
// own is kept, then the file.
inline int LoadFileScenario(const std::uint8_t* data, std::size_t size, LoaderTarget target) {
  static const ScratchFolder folder;
  Input in(data, size);
  const std::uint8_t modelChoice = in.Byte();
  const std::uint8_t ispChoice = in.Byte();
  const std::uint8_t flags = in.Byte();
  const std::uint8_t answers = in.Byte();

  FuzzPlatform fp;
  fp.dialogs.SetAnswers(answers);
  Station station(fp.platform, (flags & 0x08) == 0);
  station.SetShowExtraFamilies(true);
  const std::vector<TreeNode> tree = BuildDeviceTree(true);
  const std::size_t models = tree.size() + station.combMcuModel.entries.size();
  const std::size_t model = modelChoice % models;
  if (model < tree.size()) {
    station.OnTreeNodeClick(tree[model].key);
  } else {
    station.combMcuModel.index = static_cast<int>(model - tree.size());
    station.OnModelListClick();
  }
  if (!station.Combo2.entries.empty()) {
    station.Combo2.index = ispChoice % static_cast<int>(station.Combo2.entries.size());
    station.OnIspSizeChange();
  }
  station.OnFillByteClick(flags & 1);
  station.Check6.checked = (flags & 0x02) != 0;
  fp.Settle();
  if ((flags & 0x04) == 0) station.Text4.text = in.Text();

  static constexpr const char* kBinaryNames[4] = {"image.bin", "image.dat", "image", "IMAGE.BIN"};
  const std::string name = target == LoaderTarget::Hex ? (flags & 0x20 ? "image.HEX" : "image.hex")
                                                       : kBinaryNames[(flags >> 5) & 3];
  const auto file = in.Rest();
  const std::string path = folder.Write(name, file);
  const bool hex = target == LoaderTarget::Hex || JudgedHex(file);
  CheckLoad(fp, station, hex, file, path);
  // Laid over the first load, unless the box clears the buffer first.
  if ((flags & 0x10) != 0) CheckLoad(fp, station, hex, file, path);
  fp.Settle();
  return 0;
}

}  // namespace kvr::fuzz
