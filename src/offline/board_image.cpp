#include "offline/board_image.h"

#include <algorithm>
#include <limits>

#include "image/hex_field.h"
#include "link/check_values.h"
#include "link/writer_frame.h"

namespace kvr {

namespace {

using namespace board;

constexpr std::uint32_t kNotANumber = 0xFFFFFF;

void PutWord(BoardImageArray& b, std::int32_t at, std::uint32_t value) {
  b[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(value >> 8);
  b[static_cast<std::size_t>(at) + 1] = static_cast<std::uint8_t>(value);
}

std::uint32_t GetWord(const BoardImageArray& b, std::int32_t at) {
  return static_cast<std::uint32_t>(b[static_cast<std::size_t>(at)] << 8 |
                                    b[static_cast<std::size_t>(at) + 1]);
}

// Three bytes: the low 16 bits big-endian, so that the placement words read as plain words, then
// bits 23..16 for addresses above 64 KB.
void PutAddress(BoardImageArray& b, std::int32_t at, std::int32_t address) {
  const std::uint32_t value = address < 0 ? kNotANumber : static_cast<std::uint32_t>(address);
  PutWord(b, at, value & 0xFFFF);
  b[static_cast<std::size_t>(at) + 2] = static_cast<std::uint8_t>(value >> 16);
}

std::int32_t GetAddress(const BoardImageArray& b, std::int32_t at) {
  return static_cast<std::int32_t>(GetWord(b, at) | b[static_cast<std::size_t>(at) + 2] << 16);
}

// The byte of two hexadecimal digits; 0 when they are not two digits.
std::uint8_t HexPair(std::string_view text, std::size_t from) {
  if (text.size() < from + 2) return 0;
  const int high = HexDigitValue(text[from]);
  const int low = HexDigitValue(text[from + 1]);
  return high < 0 || low < 0 ? 0 : static_cast<std::uint8_t>(high * 16 + low);
}

// One byte per character; what is not printable ASCII (a character of another script, a control
// character) stands as '?' so the board's display never shows half a character.
void PutModelName(BoardImageArray& b, const std::string& name) {
  std::int32_t written = 0;
  for (std::size_t i = 0; i < name.size() && written < kModelNameLength; ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if ((c & 0xC0) == 0x80) continue;  // the rest of a multi-byte character
    b[static_cast<std::size_t>(kModelName + written++)] =
        c >= 0x20 && c < 0x7F ? c : static_cast<std::uint8_t>('?');
  }
}

void PutSegment(BoardImageArray& b, std::int32_t at, const BoardSegment& s) {
  PutAddress(b, at, s.boardStart);
  PutAddress(b, at + 3, s.boardEnd);
  PutAddress(b, at + 6, s.chipStart);
  PutAddress(b, at + 9, s.chipEnd);
}

void Copy(BoardImageArray& board, std::int32_t to, const ImageBufferArray& image, std::int32_t from,
          std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i)
    board[static_cast<std::size_t>(to + i)] = image.Get(from + i);
}

}  // namespace

std::int64_t ParseCopyLimit(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return 0;
  text = text.substr(first, text.find_last_not_of(' ') - first + 1);
  bool negative = false;
  if (text.front() == '+' || text.front() == '-') {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return 0;
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value > (kMax - (c - '0')) / 10 ? kMax : value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

void ClearBoardImage(BoardImageArray& board) {
  std::fill(board.begin() + kClearedStart, board.begin() + kClearedEnd + 1, 0x00);
}

void WriteOneBits(BoardImageArray& board, std::int32_t area, std::int32_t count) {
  count = std::clamp(count, 0, kCopyAreaSize * 8);
  std::fill_n(board.begin() + area, count / 8, 0xFF);
  if (const int rest = count % 8; rest != 0)
    board[static_cast<std::size_t>(area + count / 8)] = static_cast<std::uint8_t>((1 << rest) - 1);
}

void WriteCopyLimit(BoardImageArray& board, std::int32_t limit) {
  std::fill_n(board.begin() + kCopiesHigh, 2 * kCopyAreaSize, 0x00);
  WriteOneBits(board, kCopiesHigh, limit / kCopiesPerHighUnit);
  WriteOneBits(board, kCopiesLow, limit % kCopiesPerHighUnit);
}

void WriteConfigBlock(BoardImageArray& board, const BoardSettings& settings) {
  std::fill_n(board.begin() + kConfig, 0x100, 0x00);
  PutModelName(board, settings.modelName);
  const std::uint8_t identityHigh = HexPair(settings.identityCode, 0);
  board[kIdentity] = identityHigh;
  board[kIdentity + 1] = HexPair(settings.identityCode, 2);
  board[kLayoutVersion] = kLayout;
  board[kClassCode] = static_cast<std::uint8_t>(settings.classCode);
  PutWord(board, kIspSize,
          static_cast<std::uint32_t>(std::clamp(settings.ispSizeBytes, 0, 0xFFFF)));

  // The small models keep all their areas within what the board holds from address 0.
  const std::int32_t codeSpaceEnd =
      identityHigh == 0xF0 ? kSmallCodeSpaceEnd : kCodeSpaceEndDefault;
  PutWord(board, kCodeSpaceEnd, static_cast<std::uint32_t>(codeSpaceEnd));

  for (std::size_t row = 0; row < settings.optionChoices.size(); ++row) {
    const int choice = settings.optionChoices[row];
    board[static_cast<std::size_t>(kOptionRows) + row] =
        choice == 0 || choice == 1 ? static_cast<std::uint8_t>(choice) : kRowNotShown;
  }

  // The ISP area of the larger models lies beyond the image held from address 0: it gets the top
  // of the main part to itself.
  const std::int32_t ispLength = settings.ispEnd - settings.ispStart + 1;
  const bool separate = codeSpaceEnd > kHeldSize && settings.ispShown && settings.ispStart >= 0 &&
                        settings.ispEnd <= 0xFFFF && ispLength > 0 && ispLength <= kMainSize;
  const std::int32_t placed = separate ? ispLength : 0;
  const std::int32_t fromZero = kMainSize - placed;
  PutSegment(board, kSegments, {kImageStart, kImageStart + fromZero - 1, 0, fromZero - 1});
  PutSegment(board, kSegments + kSegmentSize,
             {kContinuation, kContinuation + kContinuationSize - 1, fromZero,
              fromZero + kContinuationSize - 1});
  if (separate)
    PutSegment(board, kSeparateSegment,
               {kConfig - placed, kConfig - 1, settings.ispStart, settings.ispEnd});

  PutAddress(board, kRegion, settings.apStart);
  PutAddress(board, kRegion + 3, settings.apEnd);
  PutAddress(board, kRegion + 6, settings.ispShown ? settings.ispStart : 0);
  PutAddress(board, kRegion + 9, settings.ispShown ? settings.ispEnd : 0);
}

std::array<BoardSegment, 3> ReadSegments(const BoardImageArray& board) {
  std::array<BoardSegment, 3> segments;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const auto at = kSegments + static_cast<std::int32_t>(i) * kSegmentSize;
    segments[i] = {GetAddress(board, at), GetAddress(board, at + 3), GetAddress(board, at + 6),
                   GetAddress(board, at + 9)};
  }
  return segments;
}

void WriteCheckValues(BoardImageArray& board, const ImageBufferArray& image,
                      const std::function<void(int)>& onBlock) {
  for (int k = 0; k < kCheckBlocks; ++k) {
    const Crc16 crc = ComputeCrc16(image.Bytes().data(),
                                   static_cast<std::size_t>(k) * kCheckBlockSize, kCheckBlockSize);
    board[static_cast<std::size_t>(kCheckValues + 2 * k)] = crc.lo;
    board[static_cast<std::size_t>(kCheckValues + 2 * k + 1)] = crc.hi;
    if (onBlock) onBlock(k);
  }
}

void PlaceImage(BoardImageArray& board, const ImageBufferArray& image) {
  std::int32_t placed = 0;
  if (board[kIdentity] != 0xF0 && board[kDestination] != 0) {
    const auto destination = static_cast<std::int32_t>(GetWord(board, kDestination));
    const auto sourceStart = static_cast<std::int32_t>(GetWord(board, kSourceStart));
    const auto sourceEnd = static_cast<std::int32_t>(GetWord(board, kSourceEnd));
    const std::int32_t length = sourceEnd - sourceStart + 1;
    // Words that would put the block outside the image part of the board image (over the
    // configuration, the copy limit or the check values) are not followed: the image is then
    // placed from address 0 alone.
    if (length > 0 && length <= kMainSize && destination >= kContinuation &&
        destination + length <= kConfig) {
      Copy(board, destination, image, sourceStart, length);
      placed = length;
    }
  }
  const std::int32_t fromZero = kMainSize - placed;
  Copy(board, kImageStart, image, 0, fromZero);
  Copy(board, kContinuation, image, fromZero, kContinuationSize);
}

BoardHolding HeldByBoard(const BoardImageArray& board, std::int32_t capacityBytes) {
  const std::array<BoardSegment, 3> segments = ReadSegments(board);
  BoardHolding holding;
  if (board[kDestination] != 0 && board[kIdentity] != 0xF0) {
    holding.apartStart = segments[2].chipStart;
    holding.apartEnd = segments[2].chipEnd;
  }
  // Segments 1 and 2 continue each other from chip address 0; the capacity counts the ISP area
  // placed apart too.
  const std::int32_t apart = holding.Bytes();
  holding.fromZeroEnd = std::min(segments[1].chipEnd, capacityBytes - apart - 1);
  return holding;
}

std::int64_t FirstByteLeftBehind(const BoardHolding& holding, const ImageBufferArray& image,
                                 std::int64_t first, std::int64_t last, std::uint8_t fill) {
  for (std::int64_t address = std::max<std::int64_t>(first, 0); address <= last; ++address) {
    const std::uint8_t byte = image.Get(address);
    if (!holding.Holds(address) && byte != 0xFF && byte != fill) return address;
  }
  return -1;
}

Bytes BuildOfflineDataFrame(std::uint8_t code, std::uint32_t address, const std::uint8_t* data,
                            std::size_t count) {
  Bytes bytes{frame::kPreamble0, frame::kPreamble1, frame::kToWriter, 0, 0, code};
  bytes.reserve(count + 15);
  for (int shift = 24; shift >= 0; shift -= 8)
    bytes.push_back(static_cast<std::uint8_t>(address >> shift));
  bytes.push_back(static_cast<std::uint8_t>(count >> 8));
  bytes.push_back(static_cast<std::uint8_t>(count));
  bytes.insert(bytes.end(), data, data + count);
  FinishFrame(bytes, 2, true);
  return bytes;
}

}  // namespace kvr
