#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/production_job.h"
#include "app/production_report.h"
#include "catalogue/catalogue.h"
#include "catalogue/option_panel.h"
#include "catalogue/selected_device.h"
#include "controls/controls.h"
#include "image/image_buffer.h"
#include "image/serial_number.h"
#include "link/message_log.h"
#include "link/writer_link.h"
#include "offline/board_image.h"
#include "operations/flash_programmer.h"
#include "operations/operation_context.h"
#include "operations/option_bytes.h"
#include "platform/platform.h"

namespace kvr {

// The current name of a step stored under an older one ("Read MCU Option" is "Read Option");
// any other name as it is.
std::string CurrentStepName(std::string name);

// The step a run fails at when the line database did not take its good chip's record.
inline constexpr const char* kLineDatabaseStep = "Line database";
inline constexpr Wording kLineRecordNotWritten{
    "The chip's record could not be written to the line database: ",
    "芯片记录无法写入生产线数据库: "};

// A line database and line given at the start, for this session only.
struct LineChoice {
  std::optional<std::string> database;  // else the one the settings hold
  std::string line;                     // else the line's default name
};

// The main-window object: every control as data, the link, the run flags and the handlers the
// window (or a test, or the command line) calls. One station serves one writer; nothing in it is
// shared with another station except the settings store and the line database.
class Station : public OptionPanelControls {
 public:
  static constexpr const char* kApplication = "KVR Programmer for VXAxx";
  static constexpr int kFunctions = 9;
  static constexpr int kBeepSpacingMs = 150;

  static constexpr int kAutoSlots = 16;
  static constexpr int kFirstSequenceSlot = 8;

  // Creating the station is loading the window: the start-up runs in the constructor, with the
  // window's language chosen by the front end.
  explicit Station(Platform& platform, bool useEnglish = true, LineChoice line = {});
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Language of the window's messages: English when set.
  bool UseEnglish = true;
  // Switches the window's captions to the other language at once and stores the choice; the
  // log keeps what it says. Not while a run is in progress.
  void SetLanguage(bool english);
  SelectedDeviceFields SelectedDevice;

  // Controls.
  MessageLog textMsg;
  CommandButton comDownload{"Program"};
  CommandButton comStop_Download{"Stop", false};
  std::array<TextEntry, kFunctions> txtFuction;
  ListControl combCommPort;
  ListControl Combo1;
  ProgressBar ProgressBar1;
  Label labKbyte;

  // Model choice: the box showing the model, the tree that drops down from it, the model list.
  TextBox txtDevice;
  struct DeviceTree {
    std::vector<TreeNode> nodes;
    bool visible = false;
    std::string selectedKey;
  } treeDevice;
  ListControl combMcuModel;
  TabStrip TabStrip2;
  std::array<Frame, 2> Frame1;  // the option frames
  CheckBox cheAuto_Increase{"Enable Auto_Increase"};
  OptionPair optISP_DEMO_erase_data;
  Label labISP_DEMO_erase_data{"擦除AP区时擦除 data flash区"};

  // Static captions of the window by control name (frames and labels without a behaviour).
  std::map<std::string, std::string> Captions;
  Label framStep{"Program"};
  TabStrip TabStrip1;
  CommandButton comReDownload{"Program repeat"};
  // The automatic sequence: 0..7 the available steps, 8..15 the sequence.
  std::array<TextEntry, kAutoSlots> txtAuto;
  std::array<CommandButton, 3> comAuto{{{"Append -->"}, {"<-- Delete"}, {"Delete All"}}};
  ListControl comDalay_ReDownLoad;  // repeat delay in whole seconds
  CheckBox optBeepYes{"Yes", true};
  CheckBox optBeepNo{"No", false};
  TextBox txtWrite_OK_Count{"0"};
  CommandButton comClearOkCount{"Clear"};
  // The production report: every automatic run appends one record to this file (none when
  // empty), as CSV (0) or JSON Lines (1).
  TextBox txtReportFile;
  OptionPair optReportFormat{{"CSV", "JSON Lines"}, 0};
  CommandButton comReportFile{"..."};
  // Why the last record could not be written; empty when it was.
  std::string LastReportError;
  // Why the good count of the last run could not be stored; empty when it was.
  std::string LastCountError;
  // The line database ("sqlite:PATH" or a PostgreSQL URI): with one, the serial numbering, the
  // good count and the chips' records are the line's, kept there; empty, they are kept in the
  // settings file and the report.
  TextBox txtLineDatabase;
  // What the line database holds for this station's line, or why it cannot be used.
  Label labLineDatabase;
  // Why the last chip's record could not be written to the line database; empty when it was.
  std::string LastLineError;
  // Why the line database could not be used the last time it was; empty when it could.
  std::string LineProblem;
  // The line this station works for in the line database.
  std::string LineName() const;
  // The line database field changed (typed, or chosen): the line's numbering and count are
  // read from it.
  void OnLineDatabaseChange();
  // Named in the report; the front end sets them.
  std::string HostName;
  std::function<std::string(int portNumber)> describePort;

  // Closing.
  bool Closing = false;
  // Asked to close the window (the close timer fired); the front end sets it.
  std::function<void()> onCloseWindow;

  // Image buffer and its bookkeeping.
  ImageBufferArray ImageBuffer;
  std::string LoadedFileName;
  bool FileLoaded = false;
  std::int32_t LoadStart = 0;
  std::int32_t DataEnd = 0;
  std::int32_t ProgramStart = 0;
  std::int32_t ProgramEnd = 0x3FF;
  bool DemoImageReady = false;
  std::int64_t FileChecksum = 0;
  // CRC-32 of the loaded file's bytes, as the file is on the disk.
  std::optional<std::uint32_t> LoadedFileCrc32;
  // "Read EEPROM" replaced the buffer with the chip's bytes since the last file was loaded.
  bool BufferReadFromChip = false;

  // File frame, region display, export tab.
  OptionPair optFillbyte{{"FF", "00"}, 0};
  std::array<TextBox, 4> txtISP_reange;
  TextBox txtFileCheckSum;
  Label Frame7{"File:"};
  CommandButton comLoadFile{"Open file"};
  CheckBox Check6{"Clear the file buffer when open the file"};
  CheckBox cekReloadFile{"Reopen file every time"};
  TextBox txt_Start_Address{"0"};
  TextBox txt_length;
  CommandButton comStoreFile{"Store File/存文件"};
  // Mouse pointer: an hourglass while a file loads.
  bool BusyPointer = false;
  // Where the file dialogs start when no path is stored; the front end sets it.
  std::string ApplicationDirectory = ".";

  // Buffer view and its editing overlay.
  SelectableText txtBuffer;
  SelectableText txtBuffer2;
  ScrollBar VScroll1{0, 64, 0, 16};  // Page Up and Down move 16 lines
  bool EditPermission = false;
  std::size_t HighlightStart = 0;
  std::size_t HighlightLength = 0;

  // Serial numbers: fields 0 address (hex), 1 bytes, 2 next number (decimal), 3 step.
  std::array<TextBox, 4> texAuto_Increase;
  OptionGroup optAuto_Increase{{"HEX", "DEC", "ASCII码"}, 0};
  bool SerialActive = false;
  std::int32_t SerialAddress = 0;
  std::int16_t SerialBytes = 0;

  // Run flags.
  bool SingleRun = false;
  bool IspDemoMode = false;
  bool RepeatStop = false;

  WriterLink link;
  // The block engine and the verifications; holds the page sums of the last programming run.
  FlashProgrammer Programmer;

  // A line for the operator in both languages: the window shows the one chosen, the command
  // line prints it.
  struct Reason {
    std::string english;
    std::string chinese;
    const std::string& Pick(bool useEnglish) const { return useEnglish ? english : chinese; }
    bool empty() const { return english.empty() && chinese.empty(); }
  };

  // What the last run came to, for front ends that report it (the command line's exit code).
  struct RunRecord {
    bool connected = false;
    // The operation's result; empty when no operation ran or the entry has none yet.
    std::optional<std::int16_t> result;
    std::string function;
    // The port went away during the run (an adapter pulled out).
    bool portLost = false;
    // Of an automatic run: the serial number stamped into the chip (empty when none) and the
    // step that failed.
    std::string serial;
    std::string failedStep;
    // The identity the chip reported, when it was read.
    std::string identity;
    // Why the run failed, as one plain line; empty when it did not.
    Reason reason;
  };
  RunRecord LastRun;

  // The verdict panel: the outcome of the last run, or the run in progress.
  enum class VerdictState { Ready, Running, Pass, Fail, Stopped };
  struct Verdict {
    VerdictState state = VerdictState::Ready;
    std::string step;      // the step running, or the one that failed or was stopped
    Reason reason;         // why it failed, or what the operator must know before the next run
    std::string serial;    // stamped into this chip
    std::string identity;  // read from this chip
  };
  Verdict RunVerdict;
  // One entry per run since the station started, the newest last; the oldest go beyond the
  // limit.
  struct HistoryEntry {
    std::string time;  // local time of day, "HH:MM:SS"
    VerdictState result = VerdictState::Ready;
    std::string function;
    std::string serial;
    std::string failedStep;
    Reason reason;
  };
  static constexpr std::size_t kHistoryLimit = 1000;
  std::deque<HistoryEntry> History;
  // Runs ended since the station started: a front end that shows the history sees a new one.
  std::uint64_t RunsFinished = 0;
  // The operation or automatic step now running, for front ends that show its progress.
  std::string CurrentOperation;
  // Runs started since the station started: a front end that prints the log sees a new one.
  std::uint64_t RunsStarted = 0;
  // Runs when a run has closed down (front ends count chips with it).
  std::function<void()> onRunFinished;

  // Operator events.
  void OnProgramClick();
  void OnStopClick() { StopRun(); }
  void OnFunctionClick(int index);
  void OnFunctionDoubleClick(int index);
  void OnDeviceTextClick();
  void OnTreeNodeClick(const std::string& key);
  void OnModelListClick();
  void OnTabStrip2Click();
  void OnTabStrip1Click();
  void OnPortChange(int index);
  void OnBaudClick(int index);
  void OnBeepClick(bool yes);
  void OnRepeatDelayChange(int index);
  void OnReloadFileClick(bool checked);
  void OnWdtPrescalarChange(int index);

  // Settings.
  // The captions of the window in the language UseEnglish chooses.
  void ApplyCaptions();
  void LoadSettings();
  void SaveSettings();
  void LoadAutoSequence();
  void SaveAutoSequence();
  // The window closes: stop, save through the deferred save, close the port.
  void QueryUnload();
  void Unload();

  // Tree population; keeps the current selection.
  void BuildDeviceTree();
  // Selects the tree node of this model, or of the fall-back model when no node has that key.
  void RestoreModel(const std::string& name);
  void SetShowExtraFamilies(bool show);

  // One run against the writer: connect, the selected operation, close down.
  void OperationDriver();
  void StopRun();
  // The port went away under a run: the run ends at its next wait.
  void OnPortLost();
  bool RunInProgress() const { return runDepth_ > 0 || repeating_; }
  // Trimmed text of the highlighted function entry; empty when none is highlighted.
  std::string SelectedFunction() const;

  void WaitMs(int milliseconds);
  void BeepThrice();

  // Device operations, as the function list and the automatic sequence run them.
  ProgramRange CurrentRange() const { return {ProgramStart, ProgramEnd, DataEnd}; }
  std::int16_t ProgramFile(bool showMessages);
  // The driver's "Check MCU Empty": 0 empty, -2 not empty, -1 no usable answer. No verdict
  // follows a stop.
  std::int16_t CheckEmptyOperation();
  // The automatic sequence's "Check MCU Empty": 0 empty, -1 not empty or failed.
  std::int16_t CheckEmptyStep();
  // The blank check and the option test: 0 empty, -2 not empty, -1 either had no usable answer
  // (reported) or the run was stopped.
  std::int16_t CheckEmpty(bool refreshReadOut);
  // Reads the options silently: 0 when they are as an erased chip has them, -2 when not (they
  // are reported, and the read-back labels refreshed when asked), -1 when they could not be read.
  std::int16_t OptionBytesDefault(bool refreshReadOut);
  std::int16_t ReadOptions(bool showMessages);
  // With its messages, as every caller wants it.
  std::int16_t ProgramOptions();
  // The chip's memory 0x0000-0xFFFF into the buffer: 0 read, -1 failed.
  std::int16_t ReadEeprom();

  // The automatic sequence ("Auto Program"), its steps and its editing.
  std::int16_t RunAutoSequence();
  std::int16_t RunAutoStep(const std::string& name);
  void OnAutoSlotClick(int slot);
  // The buttons of comAuto: 0 append the highlighted step, 1 delete the highlighted slot,
  // 2 delete all.
  void EditAutoSequence(int button);
  void ClearOkCount();
  void OnReportFileClick();
  void OnReportFileChange();
  void OnReportFormatClick(int index);
  // Program repeat: runs the selected function chip after chip until Stop.
  void RepeatRun();
  // The pause in seconds before the next chip of a repeat: the delay box, or 2 s after a
  // failed "Auto Program" run.
  int PauseBeforeNextChip(const std::string& function) const;
  // One second of the countdown between two chips; Stop ends it early.
  void CountdownSecond();
  // Ends a repeat after the chip in progress (a front end's chip count); no stop command.
  void EndRepeat() { RepeatStop = true; }
  Timer& Timer5() { return *timer5_; }
  // The model in use as the operator chose it: the tree node, or the model-list entry.
  std::string ModelName() const;
  WallClock& Clock() { return platform_.clock != nullptr ? *platform_.clock : systemClock_; }

  // Image buffer and regions.
  std::uint8_t FillByte() const { return optFillbyte.selected == 0 ? 0xFF : 0x00; }
  void ClearBuffer(std::uint8_t fill);
  void ResetBuffer(std::uint8_t fill);
  void RegionUpdate();
  RegionLimits ReadRegionLimits() const;
  void FitCheck();
  void ShowFileChecksum();
  // The number in the text of the ISP size list, in K.
  double IspSizeK() const;

  // Loading and export.
  void OnLoadFileClick();
  void OpenFileDialog();
  void LoadFile();
  void ChooseLoader();
  std::int16_t HexLoader();
  void BinaryLoader();
  // The click of the store command; true when the file was written.
  bool BinExport();
  // Opens the file as the open dialog does when it returns this path (a file dropped on the
  // window, one of the recent files, the file of the start).
  void OpenFileAt(const std::string& path);
  // The file of the start: the one named on the command line, else the one opened last when
  // it is still there.
  void LoadAtStart(const std::string& named);
  // Files opened, the latest first.
  static constexpr std::size_t kRecentFiles = 8;
  std::vector<std::string> RecentFiles;
  // The operator changed bytes of the buffer since the file was loaded.
  bool BufferChanged = false;
  // The buffer holds another file (or the same at another start) under the one loaded last.
  bool BufferMixed = false;
  // The change and lost-focus events of the two export fields.
  void OnExportFieldChange();
  // Every write of an export field by the station itself: its change event runs as well.
  void WriteExportField(TextBox& field, std::string text);

  // Buffer view and editor.
  enum class ViewKey { PageUp, PageDown, Other };
  // Draws first..last of the view range into txtBuffer and sets the highlight.
  void RenderView(std::int32_t first, std::int32_t last);
  void ViewRangeUpdate();
  void OnScrollChange();
  void OnBufferKeyDown(ViewKey key);
  // The caret as the operator placed it in the overlay.
  void OnBufferMouseDown(std::size_t caret);
  void OnBufferKeyPress(char key);
  void OnBufferFocus();

  // Serial numbers.
  int SerialDigits() const;
  bool ValidateSerial();  // true on error
  // Stamps the number the next-number field shows (the view's preview of the next chip's).
  void StampSerial();
  void ScrollToSerial();
  void LoadSerialSettings();
  void SaveSerialSettings();
  void OnAutoIncreaseClick();
  void OnSerialFieldChange();
  // The number the next-number field shows cannot be stamped with the current settings.
  bool SerialStampRefused() const;
  // Gives the chip about to be programmed its number: takes the stored next number, stamps it
  // into the buffer and stores the one after it, as one locked change of the settings store
  // that no other station can come between. False, with the reason shown, when no number was
  // reserved (the number cannot be stamped, or the store cannot be changed): nothing may then
  // be programmed.
  bool ReserveSerial();

  // The deferred settings save: the tick of Timer3, which model, ISP size and other setting
  // changes enable; it ends with the fit check unless the change was one that cannot move the
  // image out of its range.
  Timer& Timer3() { return *timer3_; }
  void DeferredSave();
  bool FitCheckDue = false;
  // ISP size list chosen.
  void OnIspSizeChange();
  // Fill-byte choice.
  void OnFillByteClick(int index);

  // The controls a Program-button run disables.
  void LockSettings();
  void UnlockSettings();

  // The port a start option chose (COM1 of the simulated writer) is used in this session; the
  // stored choice stays the operator's until the operator chooses another.
  void UsePortForThisSession(int index);
  // Points COMn at a device path for good (the settings store's section "Ports").
  void StorePortTarget(int number, const std::string& path);
  // The window's own state (its size, its panes) in the settings store.
  std::string ReadWindowSetting(const std::string& key);
  void WriteWindowSetting(const std::string& key, const std::string& value);

 private:
  std::optional<std::int16_t> RunOperation(const std::string& name);
  // The option report replaced the view; the overlay shows the same.
  void CopyViewToOverlay();
  std::int16_t ProgramFileStep();
  std::int16_t VerifyProgramStep();
  // The record completed with what the station knows of its line, and the report opened and
  // locked for it; none when no report is kept.
  std::unique_ptr<ReportFile> OpenReport(ProductionRecord& record);
  // The station's own fields of a record: its host, its port, its model.
  void CompleteRecord(ProductionRecord& record) const;
  void WriteReport(ProductionRecord& record);
  void NoteReportError(const std::optional<std::string>& error);
  // What an automatic run is about to program: the buffer's range, as it goes to the chip.
  void NoteProgrammed(const ProgramRange& range, const std::string& what = {});
  // The good chip counted in the store, its record written on the way.
  void CountGoodChip(ProductionRecord& record);
  // Saves the shown count unless only another station moved the stored one on.
  void SaveOkCount(const std::string& count);

  // ---- The line database ----
  bool LineInUse() const { return !Trim(txtLineDatabase.text).empty(); }
  // The database the field names, opened when first asked for; nullptr (with lineProblem_)
  // when it cannot be opened.
  LineDatabase* Line();
  LineStation LineWho();
  // The line as the database holds it, shown in labLineDatabase; nothing when it cannot be read.
  std::optional<LineState> ReadLine();
  void ShowLine(const LineState& state);
  void ShowLineProblem(const std::string& problem);
  // The line's numbering into the serial-number fields and its count into the count box.
  void LoadLine();
  // The serial-number fields as a line's numbering.
  SerialPool FieldsPool() const;
  void TakePool(const SerialPool& pool);
  // The fields stored as the line's numbering; the next number only when it was typed here.
  void SavePoolToLine();
  // The chip's record into the line database; a good one raises the line's count with it.
  bool RecordInLine(const ProductionRecord& record);
  // The count cleared here stored as the line's; false (and said in the log) when it was not.
  bool SaveCountToLine(const std::string& count);
  LineChoice lineChoice_;
  std::unique_ptr<LineDatabase> line_;
  std::string lineOpenedFor_;
  std::string lineProblem_;
  std::string storedLineDatabase_;
  // The line after this run's record, for the count and the next number shown after it.
  std::optional<LineState> lineAfterRun_;
  // The line refused a number because it numbers its chips otherwise.
  bool lineNumberingDiffers_ = false;
  // ---- end of the line database ----
  // After an automatic run: the count and the next number as the store holds them.
  void ShowStoredCount();
  void ShowStoredNextNumber();
  void ShowNextNumber(const std::string& stored);
  // Shows why a number cannot be stamped; true when it cannot.
  bool ShowStampError(const SerialEncoding& encoding);
  // The line after "Open COM port is failed!" (with its line break), or empty.
  std::string OpenFailureCause() const;
  void ReportPortLost();

  // What one automatic run has learnt so far, for its ending and its report.
  struct AutoRunState {
    bool active = false;
    std::string serial;  // reserved for this chip; spent once reserved, whatever follows
    std::string identity;
    std::string image;  // what went to the chip, and the CRC-32 of its bytes
    std::optional<std::uint32_t> imageCrc32;
    std::int16_t failedResult = 0;  // what the failed step returned
    std::string failedMessages;     // what it wrote before its summary line replaced it
  } autoRun_;
  // The verdict of a run: it begins, it ends with its reason and a line of the history.
  void BeginVerdict();
  void FinishVerdict();
  // Why `step` (an operation, or a step of the sequence) failed with `result`; `messages` are
  // the lines it wrote.
  Reason FailureReason(const std::string& step, std::int16_t result,
                       const std::string& messages) const;
  Reason PortOpenReason() const;
  std::string PortText() const;
  // The identity in the reply, as the chip means it.
  std::string ReplyIdentity();
  void RememberRecentFile(const std::string& path);
  void LoadRecentFiles();
  void ApplyIspDemoCaptions();
  void ShowProgramFrameCaption();
  std::optional<int> sessionPort_;
  std::string storedPort_ = "0";
  // The options the read-back labels show, to word them again in the other language.
  std::optional<OptionBytes> readOut_;
  bool lastSelectionByTree_ = true;
  // The count and the next number as this station last found them in the store: a value shown
  // that differs was changed here (an edit, a clear), and only then overrides the store's.
  std::string storedOkCount_;
  std::string storedNext_;
  bool modelFromList_ = false;
  bool repeating_ = false;
  SystemWallClock systemClock_;
  void UpdateOptionalTabs(bool afterTreeSelection);
  void FinishSelection();
  void ClearSelection();
  void ApplyRow(const DeviceModel& row);

  Platform& platform_;
  OperationContext operations_;
  void FormLoad();
  // Says once why the settings store took no change (a read-only file, a full disk).
  void SayStoreProblemOnce();
  bool storeProblemSaid_ = false;
  std::string ReadSetting(const char* key, const std::string& defaultValue);
  void WriteSetting(const char* key, const std::string& value);
  std::optional<std::string> UpdateSetting(const char* key, const SettingsStore::Change& change);

  std::unique_ptr<Timer> timer3_;
  std::unique_ptr<Timer> timer4_;
  std::unique_ptr<Timer> timer5_;
  std::unique_ptr<Timer> timer10_;
  std::unique_ptr<Timer> timerBeep_;
  std::vector<bool*> lockedControls_;
  int runDepth_ = 0;
  bool portLost_ = false;

  // ---- Offline board (tab "TJSL"): download with a copy limit, and the LED legend ----
 public:
  CommandButton comTJXZ{"下载到脱机烧录板"};
  CommandButton comTJSL_disp{"LED 显示说明"};
  TextBox txt_download_max;  // copy limit, 1 to 1,000,000
  BoardImageArray BoardImage{};
  std::int32_t BoardCapacity = 0;  // bytes of program and data, learnt from the board
  bool BoardOption = false;
  // 0 when the last download ended with "Download OK.", -1 when it ended otherwise; empty
  // before the first.
  std::optional<std::int16_t> LastOfflineDownload;

  void OnOfflineDownloadClick();
  void OnOfflineLegendClick();

 private:
  std::int16_t OfflineDownload();
  bool CopyLimitAccepted();
  bool DownloadToBoard();
  bool ConnectBoard();
  // True when the board keeps every byte of the program range that a chip would get; otherwise
  // says what it keeps and what it would leave behind.
  bool ImageFitsBoard(std::int32_t capacityBytes);
  void PrepareBoardImage();
  bool SendBoardRange(std::int32_t first, std::int32_t last);
  bool BoardExchange(std::uint8_t code, int replyTimeoutMs, std::uint8_t parameter);
  void LogBoard(const std::string& message);
  // ---- end of the offline board ----

  // ---- ISP demo (tab "Down_ISP_demo"): its parameters, the build and the two writes ----
 public:
  // A list whose text may also be typed; `index` is the entry the text is, -1 when none.
  struct EditableList {
    std::vector<std::string> entries;
    std::string text;
    int index = -1;
    bool enabled = true;
  };
  // A label whose colours the station sets, in the platform's colour encoding.
  struct ColourLabel {
    std::string caption;
    std::uint32_t backColour = 0x8000000F;  // button face
    std::uint32_t foreColour = 0x80000012;  // button text
    bool enabled = true;
  };

  EditableList comb_oscillate_frequency{
      {"4.0000", "6.0000", "10.0000", "11.0592", "12.0000", "18.4320", "20.0000", "22.1184",
       "24.0000", "33.0000", "40.0000", "44.1368"},
      "11.0592",
      3};
  ListControl comb_ISP_buad{
      {"2400", "4800", "9600", "14400", "19200", "28800", "38400", "57600", "115200"}, 6};
  OptionPair opt_ISP_DEMO_parity;
  // The erase-data choice stands with the model choice above: the model enables it.
  OptionPair opt_ISP_DEMO_WDT{{"无", "用1个I/O口喂狗"}, 0};
  // Element 0 the port, element 1 the bit; the same for the RS-485 direction pin.
  std::array<ListControl, 2> comb_ISP_DEMO_WDT{
      {{{"P0", "P1", "P2", "P3", "P4"}, 1}, {{"0", "1", "2", "3", "4", "5", "6", "7"}, 0}}};
  OptionPair opt_485_pin{{"无485", "用1个I/O口控制"}, 0};
  std::array<ListControl, 2> comb_485_pin{
      {{{"P0", "P1", "P2", "P3", "P4"}, 1}, {{"0", "1", "2", "3", "4", "5", "6", "7"}, 1}}};
  OptionPair opt_485_logic{{"高电平发送,低接收", "高接收,低发送"}, 0};
  Label Lab_oscillate_frequency{"内部时钟频率(MHz)"};
  Label Lab_ISP_buad{"ISP与PC通讯波特率及误差"};
  Label Lab_ISP_DEMO_parity{"奇偶校验"};
  Label Lab_ISP_DEMO_WDT{"外部看门狗:"};
  Label Lab_485_pin{"485收发控制:"};
  Label Lab__485_logic{"I/O控制逻辑:"};
  ColourLabel Lab_BAUD_ERR{"   %"};
  CommandButton com_write_ISP_demo{"烧录ISP DEMO"};
  CommandButton com_re_write_ISP_demo{"重复烧录ISP DEMO"};
  CommandButton com_ISP_demo_stop{"停止烧录"};
  // The last write of the demo ended at its build, which refused or could not start.
  bool IspDemoRefused = false;

  // Parameter changes: the two that set the baud rate recompute its error; the persisted ones
  // save the settings later.
  // A typed text, or the text of the entry chosen.
  void OnCrystalChange(const std::string& text);
  void OnIspBaudChange(int index);
  void OnIspDemoParityClick(int index);
  void OnIspDemoEraseDataClick(int index);
  void OnIspDemoWdtClick(int index);
  void OnIspDemoWdtPinChange(int element, int index);
  void On485PinClick(int index);
  void On485PinChange(int element, int index);
  void On485LogicClick(int index);
  // The pin lists follow their option pairs (start-up runs it as both click handlers would).
  void EnableIspDemoPins();

  // The reload count N of the demo's baud generator; updates Lab_BAUD_ERR.
  float BaudReload();
  // Places the demo at IspEnd - 1023 and patches it; true when the build failed.
  bool BuildIspDemo();

  void OnWriteIspDemoClick();
  void OnRewriteIspDemoClick();
  void OnIspDemoStopClick();

 private:
  void IspDemoSettingChanged();
  // Write once; false when the build refused and nothing went to the chip.
  bool WriteIspDemoOnce();
  // The automatic "Program File" step while the demo is written.
  std::int16_t ProgramIspDemoStep();
  void LoadIspDemoSettings();
  void SaveIspDemoSettings();
  // ---- end of the ISP demo ----

  // ---- Production jobs: a file that sets up a line, and the operator mode that keeps it ----
 public:
  // The job opened (or saved) last; none before the first.
  struct OpenJob {
    std::string file;         // the job file, as named
    std::uint32_t fileCrc32;  // of the job file's bytes: a record names the setup it came from
    ProductionJob job;        // as applied, its image and report resolved
  };
  std::optional<OpenJob> Job;
  // The product name of the open job; empty when no job is open.
  const std::string& JobProductName() const;
  // The controls still hold what the job set for the chip (model, areas, options, image,
  // sequence, serial numbers): records then name the job.
  bool JobInForce() const;
  // The job as the title shows it: its product and file, whether it is changed or locked.
  std::string JobTitle() const;
  // Operator mode: the open job cannot be changed; only Program, Stop, Program repeat, the
  // port and the verdict are left to the operator.
  bool OperatorMode = false;
  TextBox txtJobProduct;
  TextBox txtJobNote;
  // Why the last job could not be opened or saved.
  std::string LastJobError;

  // Applies every setting of the job file through the operator's handlers and loads its image;
  // `locked` enters operator mode. False, with the reason in LastJobError, when the job is
  // refused: the station then holds no file, so nothing is programmed from half a job.
  bool OpenJobFile(const std::string& path, bool locked);
  // Writes the job the controls hold now; false, with the reason in LastJobError, when they
  // hold no job (no image as it lies on the disk, serial settings refused) or the file cannot
  // be written.
  bool SaveJobFile(const std::string& path);
  // What the controls hold now, the image and the report as the station names them.
  ProductionJob CaptureJob() const;
  // The menu commands: a file dialog, then the job opened or saved, or a box saying why not.
  void OnOpenJobClick(bool locked);
  void OnSaveJobClick();
  // Asks, then gives the controls back; true when operator mode was left.
  bool OnLeaveOperatorModeClick();

  // Chooses a model as the operator would: in the device tree, or from the model list; false
  // when there is no such model there.
  bool ChooseModel(const std::string& name, bool fromList);
  // The automatic sequence as the operator builds it: delete all, then append each step. The
  // first step that does not exist (and nothing set), or nothing.
  std::optional<std::string> SetAutoSequence(const std::vector<std::string>& steps);
  // A step the automatic sequence can hold.
  bool IsStepName(const std::string& name) const;
  bool ModelChosenFromList() const { return modelFromList_; }

 private:
  std::string ApplyJob(const ProductionJob& job);
  // What the controls hold for the chip: the model, its areas and options, the buffer start,
  // the fill byte, the sequence and the serial numbers.
  void CaptureChipSetup(ProductionJob& job) const;
  // "The image file has changed since the job was saved.", the file and both checksums.
  std::string ImageChangedText(const ProductionJob& job, std::uint32_t now) const;
  void CloseFile();
  // Every control that changes what a chip gets is disabled in operator mode, also when a run
  // or a handler gives it back.
  void ApplyOperatorLock();
  void EnableSerialFields();
  std::vector<bool*> operatorLocked_;
  // The file and start address the buffer was last cleared for; a load of another on top of it
  // makes a buffer that no single file is.
  std::string bufferSource_;
  // ---- end of production jobs ----
};

// The window's language as the settings store keeps it: English unless Chinese was chosen.
bool StoredLanguageIsEnglish(SettingsStore& settings);

}  // namespace kvr
