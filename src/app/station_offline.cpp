// The download to the offline programming board and the legend of its LEDs (tab "TJSL").

#include <algorithm>
#include <string>

#include "app/station.h"

#include "app/captions.h"
#include "image/hex_field.h"
#include "link/writer_frame.h"
#include "offline/board_image.h"

namespace kvr {

namespace {

// The board's log lines exist in Chinese only; its boxes speak the window's language.
constexpr Wording kOpenFileFirst{"Please open the file.", "    请打开文件。    "};
constexpr Wording kTooFewCopies{"The copy limit of the offline board must be more than 0.",
                                "脱机下载板下载数量上限应大于 0。"};
constexpr Wording kTooManyCopies{"The copy limit of the offline board must be 1000000 or less.",
                                 "脱机下载板下载数量上限应小于、等于 1000000。"};
constexpr const char* kConnecting = "正在连接...";
constexpr const char* kPowerOnTheBoard = "请给脱机烧录板上电。";
constexpr const char* kOpenFailed = "打开串口失败!";
constexpr const char* kOpenFailedWhy = "串口已被其它程序打开或不存在。";
constexpr const char* kConnectFailed = "连接失败。";
constexpr const char* kStopped = "操作被停止.";
constexpr const char* kConnected = "连接成功。";
constexpr const char* kPreparing = "正在处理数据，请稍候...";
constexpr const char* kErasing = "正在擦除全片内容...";
constexpr const char* kEraseFailed = "擦除失败";
constexpr const char* kDownloading = "正在下载 ...";
constexpr const char* kDownloadFailed = "下载失败。";
constexpr const char* kDownloadOk = "Download OK. / 下载成功。";
constexpr Wording kCapacityBefore{"This offline board holds at most ", "此脱机烧录器最多下载"};
constexpr Wording kCapacityAfter{
    "K of program and data (ISP code included); the rest is not "
    "downloaded.",
    "K 程序和数据(含ISP程序), 超出部分将不下载。"};
constexpr Wording kCapacityContinue{"Press OK to go on.", "                           按确定继续"};

constexpr int kBoardBaud = 115200;
constexpr std::int16_t kHandshakeTimeoutMs = 20;
constexpr int kQueryTimeoutMs = 300;
constexpr int kEraseTimeoutMs = 4000;
constexpr int kRepeatedHandshakeTimeoutMs = 50;
// Events are processed every so many check values, so the window keeps drawing the bar.
constexpr int kBlocksBetweenEvents = 64;

// The configuration as the window shows it: the region display is read back with seven-digit
// arithmetic, the option rows as the panel shows them.
BoardSettings SettingsForBoard(const Station& station) {
  BoardSettings settings;
  settings.modelName = Trim(station.txtDevice.text);
  settings.identityCode = station.SelectedDevice.IdentityCode;
  settings.classCode = station.SelectedDevice.DeviceClassCode;
  const auto& region = station.txtISP_reange;
  settings.apStart = ParseHexField(region[0].text, 7);
  settings.apEnd = ParseHexField(region[1].text, 7);
  settings.ispShown = !Trim(region[2].text).empty();
  if (settings.ispShown) {
    settings.ispStart = ParseHexField(region[2].text, 7);
    settings.ispEnd = ParseHexField(region[3].text, 7);
  }
  settings.ispSizeBytes = static_cast<std::int32_t>(station.IspSizeK() * 1024 + 0.5);
  for (std::size_t row = 0; row < settings.optionChoices.size(); ++row)
    settings.optionChoices[row] = station.Picture2[row].visible ? station.Option[row].selected : -1;
  return settings;
}

}  // namespace

void Station::OnOfflineLegendClick() {
  const LedLegend& legend = OfflineLegend(UseEnglish);
  std::string text;
  for (const char* line : legend.lines) {
    if (!text.empty()) text += kLineBreak;
    text += line;
  }
  platform_.dialogs.InformationInColumns(text, legend.title);
}

void Station::OnOfflineDownloadClick() {
  if (!comTJXZ.enabled || RunInProgress()) return;
  LastOfflineDownload = OfflineDownload();
}

std::int16_t Station::OfflineDownload() {
  textMsg.Replace({});
  if (!FileLoaded) {
    platform_.dialogs.Information(kOpenFileFirst.Pick(UseEnglish));
    return -1;
  }
  LockSettings();
  ++runDepth_;
  portLost_ = false;
  const bool downloaded = CopyLimitAccepted() && DownloadToBoard();
  if (portLost_) ReportPortLost();
  // Every way out leaves the link as a writer run expects it, and the window as after a run.
  link.ClosePort();
  link.UseCrc16 = false;
  link.RestoreDefaultTimeouts();
  comDownload.enabled = true;
  comStop_Download.enabled = false;
  UnlockSettings();
  --runDepth_;
  return downloaded ? 0 : -1;
}

bool Station::CopyLimitAccepted() {
  // Refused before the port is touched.
  const std::int64_t copies = ParseCopyLimit(txt_download_max.text);
  if (copies <= 0) {
    platform_.dialogs.Information(kTooFewCopies.Pick(UseEnglish));
    return false;
  }
  if (copies > board::kMaxCopies) {
    platform_.dialogs.Information(kTooManyCopies.Pick(UseEnglish));
    return false;
  }
  ClearBoardImage(BoardImage);
  WriteCopyLimit(BoardImage, static_cast<std::int32_t>(copies));
  return true;
}

void Station::LogBoard(const std::string& message) {
  textMsg.Append(kLineBreak + message);
}

bool Station::BoardExchange(std::uint8_t code, int replyTimeoutMs, std::uint8_t parameter) {
  link.SendCommand(code, replyTimeoutMs, parameter);
  return link.WaitForReply() == WriterLink::Outcome::Complete;
}

bool Station::ConnectBoard() {
  LogBoard(kConnecting);
  LogBoard(kPowerOnTheBoard);
  link.StopRequested = false;
  comStop_Download.enabled = true;
  comDownload.enabled = false;
  if (!link.OpenPort(combCommPort.index + 1, kBoardBaud)) {
    LogBoard(kOpenFailed);
    LogBoard(kOpenFailedWhy);
    textMsg.Append(OpenFailureCause());
    return false;
  }
  link.ConfigurePort();
  link.RxCount = 0;
  link.ReplyComplete = false;
  if (link.Handshake(kHandshakeTimeoutMs, kHandshakeOfflineBoard) < 0) {
    LogBoard(link.StopRequested ? kStopped : kConnectFailed);
    return false;
  }

  bool answered = BoardExchange(board::kQuery, kQueryTimeoutMs, 0);
  if (answered) {
    link.TakeReply();
    BoardCapacity = link.ReplyBuffer[5] * 1024;
    BoardOption = link.ReplyBuffer[4] != 0;
    // A log line of its own, as the board's other messages.
    answered = link.ReadWriterVersion(kLineBreak);
  }
  if (!answered) {
    LogBoard(link.StopRequested ? kStopped : kConnectFailed);
    platform_.beeper.Beep();
    return false;
  }
  textMsg.Append(std::string(kLineBreak) + kConnected + kLineBreak);
  textMsg.MoveCaretToEnd();
  return true;
}

void Station::PrepareBoardImage() {
  WriteConfigBlock(BoardImage, SettingsForBoard(*this));
  if (ProgramEnd >= BoardCapacity) {
    const bool english = UseEnglish;
    platform_.dialogs.Information(
        kCapacityBefore.Pick(english) + std::to_string(BoardCapacity / 1024) +
        kCapacityAfter.Pick(english) + kLineBreak + kLineBreak + kCapacityContinue.Pick(english));
  }

  LogBoard(kPreparing);
  ProgressBar1.value = ProgressBar1.minimum;
  const int span = ProgressBar1.maximum - ProgressBar1.minimum;
  WriteCheckValues(BoardImage, ImageBuffer, [this, span](int block) {
    ProgressBar1.value = ProgressBar1.minimum + span * (block + 1) / board::kCheckBlocks;
    if ((block + 1) % kBlocksBetweenEvents == 0) platform_.pump.ProcessPendingEvents();
  });
  PlaceImage(BoardImage, ImageBuffer);
}

bool Station::SendBoardRange(std::int32_t first, std::int32_t last) {
  for (std::int32_t address = first; address <= last; address += board::kDataFrameSize) {
    const std::int32_t count = std::min(board::kDataFrameSize, last - address + 1);
    const std::uint8_t code = address == first ? board::kFirstBlock : board::kNextBlock;
    link.SendBlockFrame(BuildOfflineDataFrame(code, static_cast<std::uint32_t>(address),
                                              &BoardImage[static_cast<std::size_t>(address)],
                                              static_cast<std::size_t>(count)),
                        link.ReplyTimeoutMs);
    const bool accepted = link.WaitForReply() == WriterLink::Outcome::Complete &&
                          link.RxBuffer[3] == frame::kAccepted;
    if (!accepted) {
      if (Closing) timer4_->SetEnabled(true);
      return false;
    }
  }
  return true;
}

bool Station::DownloadToBoard() {
  link.UseCrc16 = true;
  if (!ConnectBoard()) return false;
  PrepareBoardImage();

  LogBoard(kErasing);
  if (!BoardExchange(board::kErase, kEraseTimeoutMs, 0)) {
    LogBoard(link.StopRequested ? kStopped : kEraseFailed);
    return false;
  }

  LogBoard(kDownloading);
  // The board answers the end of the main part with 0x80 only when what it holds matches the
  // check values.
  const bool sent =
      SendBoardRange(board::kFirstSendStart, board::kFirstSendEnd) &&
      BoardExchange(board::kMainSent, link.ReplyTimeoutMs, 0) &&
      link.RxBuffer[3] == frame::kAccepted &&
      BoardExchange(command::kHandshake, kRepeatedHandshakeTimeoutMs, kHandshakeOfflineBoard) &&
      SendBoardRange(board::kSecondSendStart, board::kSecondSendEnd);
  if (!sent) {
    LogBoard(link.StopRequested ? kStopped : kDownloadFailed);
    return false;
  }
  LogBoard(kDownloadOk);
  return true;
}

}  // namespace kvr
