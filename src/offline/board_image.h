#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "image/image_buffer.h"
#include "link/writer_frame.h"
#include "platform/serial_port.h"

namespace kvr {

// What the offline programming board receives: addresses 0x00000 to 0x10000, apart from the
// station's image buffer. docs/offline_board.md is the layout the board's firmware reads.
using BoardImageArray = std::array<std::uint8_t, 0x10001>;

namespace board {

// The board's commands (short frames in CRC mode, apart from the data frames).
constexpr std::uint8_t kQuery = command::kBoardQuery;  // reply byte 4: option flag, byte 5: K
constexpr std::uint8_t kErase = command::kBoardErase;
constexpr std::uint8_t kMainSent = command::kBoardMainSent;  // follows the data of 0x4000..0xF3FF
constexpr std::uint8_t kFirstBlock = 0x30;                   // data frame opening a range
constexpr std::uint8_t kNextBlock = 0x00;                    // data frame continuing it

// Parts of the board image.
constexpr std::int32_t kClearedStart = 0x2000;  // a download clears 0x2000..0xF3FF first
constexpr std::int32_t kClearedEnd = 0xF3FF;
constexpr std::int32_t kImageStart = 0x4000;  // the image from address 0
constexpr std::int32_t kConfig = 0xEC00;      // configuration block, 256 bytes
constexpr std::int32_t kCopiesHigh = 0xED00;  // copy limit div 2048, as one-bits
constexpr std::int32_t kCopiesLow = 0xEE00;   // copy limit mod 2048, as one-bits
constexpr std::int32_t kCopyAreaSize = 0x100;
constexpr std::int32_t kCheckValues = 0xF000;  // one CRC per 128-byte block of the image buffer
constexpr std::int32_t kCheckBlockSize = 128;
constexpr int kCheckBlocks = 512;  // the 64 KB code space

// The continuation of the image: 8 KB below the main part.
constexpr std::int32_t kContinuation = 0x2000;
constexpr std::int32_t kContinuationSize = 0x2000;
// Image bytes the board holds in all: 0x4000..0xEBFF and the continuation.
constexpr std::int32_t kMainSize = kConfig - kImageStart;          // 0xAC00
constexpr std::int32_t kHeldSize = kMainSize + kContinuationSize;  // 0xCC00

// The ranges sent, in this order.
constexpr std::int32_t kFirstSendStart = 0x4000;
constexpr std::int32_t kFirstSendEnd = 0xF3FF;
constexpr std::int32_t kSecondSendStart = 0x2000;
constexpr std::int32_t kSecondSendEnd = 0x3FFF;
constexpr std::int32_t kDataFrameSize = 512;

constexpr std::int64_t kMaxCopies = 1'000'000;
constexpr std::int32_t kCopiesPerHighUnit = 2048;

// Configuration block offsets (absolute addresses).
constexpr std::int32_t kModelName = 0xEC00;
constexpr std::int32_t kModelNameLength = 31;
constexpr std::int32_t kIdentity = 0xEC20;
constexpr std::int32_t kLayoutVersion = 0xEC22;
constexpr std::int32_t kClassCode = 0xEC23;
constexpr std::int32_t kIspSize = 0xEC24;
constexpr std::int32_t kCodeSpaceEnd = 0xEC26;
constexpr std::int32_t kOptionRows = 0xEC28;
constexpr std::int32_t kSegments = 0xEC35;  // three segment records of 12 bytes
constexpr std::int32_t kSegmentSize = 12;
constexpr std::int32_t kSeparateSegment = kSegments + 2 * kSegmentSize;  // 0xEC4D
constexpr std::int32_t kDestination = kSeparateSegment;                  // 0xEC4D
constexpr std::int32_t kSourceStart = kSeparateSegment + 6;              // 0xEC53
constexpr std::int32_t kSourceEnd = kSeparateSegment + 9;                // 0xEC56
constexpr std::int32_t kRegion = 0xEC59;  // AP start, AP end, ISP start, ISP end: 3 bytes each

constexpr std::uint8_t kLayout = 0x01;
constexpr std::uint8_t kRowNotShown = 0xFF;
constexpr int kOptionRowCount = 9;
// Models whose identity code begins with "F0" have their whole code space below this; the
// others reach up to the ISP area at 0xEC00.
constexpr std::int32_t kSmallCodeSpaceEnd = 0x7C00;
constexpr std::int32_t kCodeSpaceEndDefault = 0xEC00;

}  // namespace board

// What the configuration block is made from: the model and the region display, the ISP size and
// the option panel as the operator left them.
struct BoardSettings {
  std::string modelName;     // the text of the model box
  std::string identityCode;  // four hexadecimal digits
  std::int16_t classCode = 0;
  // The region display read back as numbers; negative for a box that does not hold a number.
  std::int32_t apStart = 0;
  std::int32_t apEnd = 0;
  bool ispShown = false;  // the ISP boxes hold a range
  std::int32_t ispStart = 0;
  std::int32_t ispEnd = 0;
  std::int32_t ispSizeBytes = 0;
  // Choice of each option row, or -1 for a row the panel does not show.
  std::array<int, board::kOptionRowCount> optionChoices{};
};

// A chip-address range and where it lies in the board image.
struct BoardSegment {
  std::int32_t boardStart = 0;
  std::int32_t boardEnd = 0;
  std::int32_t chipStart = 0;
  std::int32_t chipEnd = 0;
  bool operator==(const BoardSegment&) const = default;
};

// Copy limit text as the operator typed it: a whole decimal number with optional sign and
// surrounding blanks. Anything else counts as 0; values beyond the 64-bit range saturate.
std::int64_t ParseCopyLimit(std::string_view text);

// Fills 0x2000..0xF3FF with 0x00.
void ClearBoardImage(BoardImageArray& board);
// `count` one-bits from `area` on, least significant bit first.
void WriteOneBits(BoardImageArray& board, std::int32_t area, std::int32_t count);
// The copy limit as its two one-bit counts; limit must lie in 1..kMaxCopies.
void WriteCopyLimit(BoardImageArray& board, std::int32_t limit);

// The whole configuration block 0xEC00..0xECFF.
void WriteConfigBlock(BoardImageArray& board, const BoardSettings& settings);
// The three segments of the configuration block; the third is empty (all zero) when no block is
// placed separately.
std::array<BoardSegment, 3> ReadSegments(const BoardImageArray& board);

// CRC of each 128-byte block of image addresses 0x0000..0xFFFF at 0xF000, low byte first.
// `onBlock` runs after each block with its index.
void WriteCheckValues(BoardImageArray& board, const ImageBufferArray& image,
                      const std::function<void(int)>& onBlock = {});

// Copies the image into 0x4000..0xEBFF and 0x2000..0x3FFF as the placement words of the
// configuration block say.
void PlaceImage(BoardImageArray& board, const ImageBufferArray& image);

// The chip addresses a board keeps: from 0 up to `fromZeroEnd`, and the ISP area placed apart
// (`apartStart` > `apartEnd` when there is none).
struct BoardHolding {
  std::int32_t fromZeroEnd = -1;
  std::int32_t apartStart = 0;
  std::int32_t apartEnd = -1;

  bool Holds(std::int64_t address) const {
    return (address >= 0 && address <= fromZeroEnd) ||
           (address >= apartStart && address <= apartEnd);
  }
  std::int32_t Bytes() const {
    return fromZeroEnd + 1 + (apartEnd >= apartStart ? apartEnd - apartStart + 1 : 0);
  }
};

// What a board of `capacityBytes` keeps of an image placed by the configuration block: the
// segments, the part from address 0 no further than the capacity, the ISP area included, reaches.
BoardHolding HeldByBoard(const BoardImageArray& board, std::int32_t capacityBytes);

// The first address of first..last that holds data the board does not keep; -1 when it keeps
// them all. Data is any byte but the erased 0xFF and the buffer's fill, which stand where the
// file has nothing.
std::int64_t FirstByteLeftBehind(const BoardHolding& holding, const ImageBufferArray& image,
                                 std::int64_t first, std::int64_t last, std::uint8_t fill);

// Offline data frame: 46 B9 6A <length> <code> <address:4> <count:2> <data> <CRC lo, hi> 16,
// the length being count + 13.
Bytes BuildOfflineDataFrame(std::uint8_t code, std::uint32_t address, const std::uint8_t* data,
                            std::size_t count);

}  // namespace kvr
