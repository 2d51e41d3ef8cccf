// Production jobs: the file that sets up a line, opened through the operator's own handlers and
// saved from what the controls hold, and the operator mode that keeps it as it is.

#include <algorithm>
#include <filesystem>
#include <limits>

#include "app/station.h"
#include "image/serial_number.h"
#include "platform/durable_file.h"

namespace kvr {

namespace {

namespace fs = std::filesystem;

// Far beyond any job; a larger file is no job.
constexpr std::size_t kLongestJob = 1 << 20;

constexpr Wording kImageChanged{"The image file has changed since the job was saved.",
                                "映像文件在保存作业之后已被修改。"};
constexpr Wording kCrcLine{"CRC-32 in the job: {}, now: {}", "作业中的 CRC-32: {}，现在: {}"};
constexpr Wording kImageMissing{"The job's image file is missing: {}", "找不到作业的映像文件: {}"};
constexpr Wording kImageUnreadable{"The job's image file cannot be read: {}",
                                   "无法读取作业的映像文件: {}"};
constexpr Wording kImageNotLoaded{"The job's image file was not loaded: {}",
                                  "作业的映像文件未被加载: {}"};
constexpr Wording kNoTreeModel{"The job names the model {}, which the device tree does not hold.",
                               "作业指定的型号 {} 不在型号树中。"};
constexpr Wording kNoListModel{"The job names the model {}, which the model list does not hold.",
                               "作业指定的型号 {} 不在型号列表中。"};
constexpr Wording kUnknownStep{"The job's sequence names the step \"{}\", which does not exist.",
                               "作业序列中的步骤 \"{}\" 不存在。"};
constexpr Wording kNotOffered{"The job's {} \"{}\" is not offered for {}.",
                              "作业的{} \"{}\" 不适用于 {}。"};
constexpr Wording kIspSizeName{"ISP size", "ISP 区大小"};
constexpr Wording kApSizeName{"AP size", "AP 区大小"};
constexpr Wording kPrescalerName{"watchdog prescaler", "看门狗预分频数"};
constexpr Wording kRowCount{"The job gives {} option rows; {} has {}.",
                            "作业给出 {} 行选项; {} 有 {} 行。"};
constexpr Wording kSerialRefused{
    "The job's serial-number settings are refused (see the message before this one).",
    "作业的序列号设置被拒绝 (见前面的信息)。"};
constexpr Wording kNoJobFile{"There is no job file {}.", "作业文件 {} 不存在。"};
constexpr Wording kJobUnreadable{"The job file {} cannot be read: {}", "无法读取作业文件 {}: {}"};
constexpr Wording kNotNow{"A job cannot be opened during a run or in operator mode.",
                          "运行中或操作员模式下不能打开作业。"};
constexpr Wording kNoImage{"A job needs its image: open the file first.",
                           "作业需要映像文件: 请先打开文件。"};
constexpr Wording kNotTheFile{
    "The buffer is not the file as it lies on the disk (bytes edited, read from the chip, or "
    "another file loaded under it): open the file again, then save the job.",
    "缓冲区与磁盘上的文件不一致 (字节已修改、从芯片读出或叠加了其它文件): "
    "请重新打开文件, 然后保存作业。"};
constexpr Wording kChangedSinceOpened{
    "The image file has changed since it was opened: open it again, then save the job.",
    "映像文件在打开之后已被修改: 请重新打开, 然后保存作业。"};
constexpr Wording kSerialInvalid{
    "Enable Auto_Increase is ticked but its settings are not valid: the job was not saved.",
    "已勾选自动增量, 但其设置无效: 作业未保存。"};
constexpr Wording kUnknownStepSaved{
    "The sequence holds the step \"{}\", which does not exist: the job was not saved.",
    "序列中的步骤 \"{}\" 不存在: 作业未保存。"};
constexpr Wording kNotWritten{"The job file {} could not be written: {}",
                              "作业文件 {} 无法写入: {}"};
constexpr Wording kJobTitle{"Production job", "生产作业"};
constexpr Wording kLeaveQuestion{"Leave operator mode? The job's settings can then be changed.",
                                 "退出操作员模式吗? 之后可以更改作业的设置。"};
constexpr Wording kOperatorMode{", operator mode", ", 操作员模式"};
constexpr Wording kChanged{", changed", ", 已更改"};

// Paths travel through the station as UTF-8 text.
fs::path PathOf(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

std::string TextOf(const std::u8string& text) {
  return std::string(text.begin(), text.end());
}

fs::path FolderOf(const std::string& file) {
  std::error_code error;
  const fs::path path = PathOf(file);
  const fs::path absolute = fs::absolute(path, error);
  return (error ? path : absolute).parent_path().lexically_normal();
}

std::string Absolute(const std::string& file) {
  if (file.empty()) return file;
  std::error_code error;
  const fs::path absolute = fs::absolute(PathOf(file), error);
  return error ? file : TextOf(absolute.lexically_normal().u8string());
}

// A path of the job as the station uses it: a relative one lies in the job file's folder.
std::string Resolve(const std::string& named, const fs::path& folder) {
  if (named.empty() || PathOf(named).is_absolute()) return named;
  return TextOf((folder / PathOf(named)).lexically_normal().u8string());
}

// A path as the job file keeps it: relative to the job file's folder when it lies there or
// below, so that the job moves together with its files; else as it is.
std::string Relate(const std::string& path, const fs::path& folder) {
  if (path.empty()) return path;
  const fs::path relative = PathOf(path).lexically_normal().lexically_relative(folder);
  if (relative.empty() || *relative.begin() == "..") return path;
  return TextOf(relative.generic_u8string());
}

// The index of `text` among the entries; -1 for an empty text (no entry chosen).
std::optional<int> EntryIndex(const ListControl& list, const std::string& text) {
  if (text.empty()) return -1;
  const auto found = std::find(list.entries.begin(), list.entries.end(), text);
  if (found == list.entries.end()) return std::nullopt;
  return static_cast<int>(found - list.entries.begin());
}

}  // namespace

const std::string& Station::JobProductName() const {
  static const std::string none;
  return Job ? Job->job.product : none;
}

void Station::CaptureChipSetup(ProductionJob& job) const {
  job.model = ModelName();
  job.modelFromList = modelFromList_;
  job.ispSize = Combo2.Text();
  job.bufferStart = Trim(Text4.text);
  job.fill = FillByte();
  job.optionRows.clear();
  for (std::size_t row = 0; row < Option.size(); ++row)
    if (Picture2[row].visible) job.optionRows.push_back(Option[row].selected);
  job.apSize = AP_size.Text();
  job.wdtPrescaler = comWDT_Prescalar.Text();
  job.peripherals.clear();
  for (const CheckBox& box : function_enable) job.peripherals.push_back(box.checked);
  job.sequence.clear();
  for (int slot = kFirstSequenceSlot; slot < kAutoSlots; ++slot) {
    const std::string step = Trim(CurrentStepName(txtAuto[static_cast<std::size_t>(slot)].text));
    if (!step.empty()) job.sequence.push_back(step);
  }
  job.serialEnabled = cheAuto_Increase.checked;
  job.serialAddress = Trim(texAuto_Increase[0].text);
  // Fields that do not matter while the box is clear are kept as the station reads them.
  job.serialBytes = std::clamp<std::int64_t>(ReadNumber(texAuto_Increase[1].text), 0,
                                             std::numeric_limits<std::int16_t>::max());
  job.serialStep = std::clamp<std::int64_t>(ReadNumber(texAuto_Increase[3].text), 0,
                                            std::numeric_limits<std::int32_t>::max());
  job.serialMode = optAuto_Increase.selected;
}

ProductionJob Station::CaptureJob() const {
  ProductionJob job;
  job.product = Trim(txtJobProduct.text);
  job.note = txtJobNote.text;
  job.extraFamilies = SelectedDevice.ShowExtraFamilies;
  job.clearBeforeLoad = Check6.checked;
  if (FileLoaded) {
    job.image = Absolute(LoadedFileName);
    std::error_code error;
    job.imageSize = fs::file_size(PathOf(LoadedFileName), error);
    if (error) job.imageSize = 0;
    job.imageCrc32 = LoadedFileCrc32.value_or(0);
  }
  CaptureChipSetup(job);
  job.report = Absolute(Trim(txtReportFile.text));
  job.reportFormat = optReportFormat.selected;
  job.repeatDelay = std::max(comDalay_ReDownLoad.index, 0);
  return job;
}

bool Station::JobInForce() const {
  if (!Job || !FileLoaded || BufferChanged || BufferMixed || BufferReadFromChip) return false;
  const ProductionJob& job = Job->job;
  if (LoadedFileName != job.image || LoadedFileCrc32 != job.imageCrc32) return false;
  // Compared without looking at the disk: this runs whenever the window is drawn.
  ProductionJob now = job;
  CaptureChipSetup(now);
  return now == job;
}

std::string Station::JobTitle() const {
  if (!Job) return {};
  const std::string file = TextOf(PathOf(Job->file).filename().u8string());
  std::string title = Job->job.product.empty() ? file : Job->job.product + " (" + file + ")";
  if (!JobInForce()) title += kChanged.Pick(UseEnglish);
  if (OperatorMode) title += kOperatorMode.Pick(UseEnglish);
  return title;
}

bool Station::ChooseModel(const std::string& name, bool fromList) {
  if (fromList) {
    const auto found = std::find(combMcuModel.entries.begin(), combMcuModel.entries.end(), name);
    if (found == combMcuModel.entries.end()) return false;
    combMcuModel.index = static_cast<int>(found - combMcuModel.entries.begin());
    OnModelListClick();
    return true;
  }
  for (const TreeNode& node : treeDevice.nodes) {
    if (node.key != name || node.parentKey.empty()) continue;
    OnDeviceTextClick();
    OnTreeNodeClick(name);
    return true;
  }
  return false;
}

bool Station::IsStepName(const std::string& name) const {
  return !name.empty() && std::any_of(txtAuto.begin(), txtAuto.begin() + kFirstSequenceSlot,
                                      [&](const TextEntry& entry) { return entry.text == name; });
}

std::optional<std::string> Station::SetAutoSequence(const std::vector<std::string>& steps) {
  for (const std::string& step : steps)
    if (!IsStepName(step)) return step;
  EditAutoSequence(2);
  for (const std::string& step : steps) {
    for (int i = 0; i < kFirstSequenceSlot; ++i)
      if (txtAuto[static_cast<std::size_t>(i)].text == step) OnAutoSlotClick(i);
    EditAutoSequence(0);
  }
  return std::nullopt;
}

void Station::CloseFile() {
  ResetBuffer(FillByte());
  FileLoaded = false;
  Frame7.caption = "File:";
  // The buffer holds no file any more: no checksum either.
  txtFileCheckSum.text.clear();
  BufferChanged = false;
}

std::string Station::ApplyJob(const ProductionJob& job) {
  const bool english = UseEnglish;
  // The model, the steps and the image are refused before anything changes.
  const std::vector<TreeNode> tree = kvr::BuildDeviceTree(job.extraFamilies);
  const bool known = job.modelFromList
                         ? std::find(combMcuModel.entries.begin(), combMcuModel.entries.end(),
                                     job.model) != combMcuModel.entries.end()
                         : std::any_of(tree.begin(), tree.end(), [&](const TreeNode& node) {
                             return node.key == job.model && !node.parentKey.empty();
                           });
  if (!known)
    return Filled((job.modelFromList ? kNoListModel : kNoTreeModel).Pick(english), {job.model});
  for (const std::string& step : job.sequence)
    if (!IsStepName(step)) return Filled(kUnknownStep.Pick(english), {step});
  std::error_code error;
  if (!fs::exists(PathOf(job.image), error))
    return Filled(kImageMissing.Pick(english), {job.image});
  if (!fs::is_regular_file(PathOf(job.image), error))
    return Filled(kImageUnreadable.Pick(english), {job.image});
  const std::optional<std::uint32_t> crc = FileCrc32(job.image);
  if (!crc) return Filled(kImageUnreadable.Pick(english), {job.image});
  const std::uintmax_t size = fs::file_size(PathOf(job.image), error);
  if (*crc != job.imageCrc32 || error || size != job.imageSize) return ImageChangedText(job, *crc);

  // The controls in the order an operator sets them: the file goes first, so that no fit
  // check or serial check runs against it on the way.
  cheAuto_Increase.checked = false;
  OnAutoIncreaseClick();
  CloseFile();
  SetShowExtraFamilies(job.extraFamilies);
  ChooseModel(job.model, job.modelFromList);
  const std::string model = ModelName();
  const std::optional<int> ispSize = EntryIndex(Combo2, job.ispSize);
  if (!ispSize || *ispSize < 0)
    return Filled(kNotOffered.Pick(english), {kIspSizeName.Pick(english), job.ispSize, model});
  Combo2.index = *ispSize;
  OnIspSizeChange();
  const auto rows = static_cast<std::size_t>(std::count_if(
      Picture2.begin(), Picture2.end(), [](const Frame& row) { return row.visible; }));
  if (job.optionRows.size() != rows)
    return Filled(kRowCount.Pick(english),
                  {std::to_string(job.optionRows.size()), model, std::to_string(rows)});
  for (std::size_t row = 0, given = 0; row < Option.size(); ++row)
    if (Picture2[row].visible) Option[row].selected = job.optionRows[given++];
  const std::optional<int> apSize = EntryIndex(AP_size, job.apSize);
  if (!apSize)
    return Filled(kNotOffered.Pick(english), {kApSizeName.Pick(english), job.apSize, model});
  const std::optional<int> prescaler = EntryIndex(comWDT_Prescalar, job.wdtPrescaler);
  if (!prescaler)
    return Filled(kNotOffered.Pick(english),
                  {kPrescalerName.Pick(english), job.wdtPrescaler, model});
  AP_size.index = *apSize;
  comWDT_Prescalar.index = *prescaler;
  for (std::size_t i = 0; i < function_enable.size() && i < job.peripherals.size(); ++i)
    function_enable[i].checked = job.peripherals[i];
  Text4.text = job.bufferStart;
  OnFillByteClick(job.fill == 0x00 ? 1 : 0);
  Check6.checked = job.clearBeforeLoad;
  // The region display follows the model, the ISP size and the fill byte before the load, as
  // the deferred save makes it follow an operator's choices.
  DeferredSave();

  static constexpr std::size_t kFields[] = {0, 1, 3};
  const std::string values[] = {job.serialAddress, std::to_string(job.serialBytes),
                                std::to_string(job.serialStep)};
  for (std::size_t i = 0; i < std::size(kFields); ++i)
    texAuto_Increase[kFields[i]].text = values[i];
  optAuto_Increase.selected = job.serialMode;
  OnSerialFieldChange();

  OpenFileAt(job.image);
  if (!FileLoaded) return Filled(kImageNotLoaded.Pick(english), {job.image});
  // The file may have changed between the check and the load.
  if (LoadedFileCrc32 != job.imageCrc32) return ImageChangedText(job, LoadedFileCrc32.value_or(0));
  if (job.serialEnabled) {
    cheAuto_Increase.checked = true;
    OnAutoIncreaseClick();
    if (!SerialActive || SerialStampRefused()) return kSerialRefused.Pick(english);
  }
  SetAutoSequence(job.sequence);
  txtReportFile.text = job.report;
  optReportFormat.selected = job.reportFormat;
  OnReportFileChange();
  OnRepeatDelayChange(job.repeatDelay);
  txtJobProduct.text = job.product;
  txtJobNote.text = job.note;
  // The fit check ran when the model was chosen, before the file was loaded; an image that
  // reaches into the ISP area is not closed again now.
  FitCheckDue = false;
  DeferredSave();
  return {};
}

std::string Station::ImageChangedText(const ProductionJob& job, std::uint32_t now) const {
  return std::string(kImageChanged.Pick(UseEnglish)) + kLineBreak + job.image + kLineBreak +
         Filled(kCrcLine.Pick(UseEnglish), {Crc32Text(job.imageCrc32), Crc32Text(now)});
}

bool Station::OpenJobFile(const std::string& path, bool locked) {
  LastJobError.clear();
  const bool english = UseEnglish;
  if (RunInProgress() || OperatorMode) {
    LastJobError = kNotNow.Pick(english);
    return false;
  }
  std::string text;
  bool missing = false;
  const FileOutcome read = ReadWholeFile(PathOf(path), kLongestJob, text, &missing);
  if (missing) {
    LastJobError = Filled(kNoJobFile.Pick(english), {path});
    return false;
  }
  if (!read.Done()) {
    LastJobError = Filled(kJobUnreadable.Pick(english), {path, read.reason});
    return false;
  }
  std::string error;
  std::optional<ProductionJob> job = ParseJob(text, english, error);
  if (!job) {
    LastJobError = path + ": " + error;
    return false;
  }
  const fs::path folder = FolderOf(path);
  job->image = Resolve(job->image, folder);
  job->report = Resolve(job->report, folder);
  for (std::string& step : job->sequence) step = CurrentStepName(step);
  Job.reset();
  if (std::string refused = ApplyJob(*job); !refused.empty()) {
    // Half a job programs nothing: the station holds no file.
    CloseFile();
    LastJobError = std::move(refused);
    return false;
  }
  Job = OpenJob{path, Crc32(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                std::move(*job)};
  // Its product may name another line of the line database.
  LoadLine();
  if (locked) {
    OperatorMode = true;
    // Program runs the job's sequence; the function list is the operator's no more.
    OnFunctionClick(0);
    ApplyOperatorLock();
  }
  return true;
}

bool Station::SaveJobFile(const std::string& path) {
  LastJobError.clear();
  const bool english = UseEnglish;
  auto refuse = [this](std::string why) {
    LastJobError = std::move(why);
    return false;
  };
  if (!FileLoaded || LoadedFileName.empty()) return refuse(kNoImage.Pick(english));
  if (BufferChanged || BufferMixed || BufferReadFromChip || !LoadedFileCrc32)
    return refuse(kNotTheFile.Pick(english));
  if (FileCrc32(LoadedFileName) != LoadedFileCrc32)
    return refuse(kChangedSinceOpened.Pick(english));
  if (cheAuto_Increase.checked && !SerialActive) return refuse(kSerialInvalid.Pick(english));
  ProductionJob job = CaptureJob();
  for (const std::string& step : job.sequence)
    if (!IsStepName(step)) return refuse(Filled(kUnknownStepSaved.Pick(english), {step}));

  const fs::path folder = FolderOf(path);
  ProductionJob written = job;
  written.image = Relate(job.image, folder);
  written.report = Relate(job.report, folder);
  std::string error;
  const std::optional<std::string> text = JobText(written, english, error);
  // Never a job this station would refuse to open.
  if (!text || !ParseJob(*text, english, error)) return refuse(error);
  const FileOutcome outcome = ReplaceFile(PathOf(path), *text);
  if (!outcome.Done()) return refuse(Filled(kNotWritten.Pick(english), {path, outcome.reason}));
  job.image = LoadedFileName;
  Job = OpenJob{path, Crc32(reinterpret_cast<const std::uint8_t*>(text->data()), text->size()),
                std::move(job)};
  return true;
}

void Station::OnOpenJobClick(bool locked) {
  if (RunInProgress() || OperatorMode) return;
  FileDialogRequest request;
  request.title = kJobTitle.Pick(UseEnglish);
  request.filters = {{"Production job", "*.kvrjob"}, {"All files", "*"}};
  request.initialDirectory = Job ? TextOf(FolderOf(Job->file).u8string()) : ApplicationDirectory;
  const std::string path = platform_.dialogs.OpenFile(request);
  if (path.empty()) return;
  if (!OpenJobFile(path, locked)) platform_.dialogs.Information(LastJobError, request.title);
}

void Station::OnSaveJobClick() {
  if (RunInProgress() || OperatorMode) return;
  FileDialogRequest request;
  request.title = kJobTitle.Pick(UseEnglish);
  request.filters = {{"Production job", "*.kvrjob"}, {"All files", "*"}};
  // Beside its image, where the job keeps the image's name without its folder.
  request.initialDirectory =
      Job ? TextOf(FolderOf(Job->file).u8string())
          : (FileLoaded ? TextOf(FolderOf(LoadedFileName).u8string()) : ApplicationDirectory);
  request.initialName = Job ? Job->file : "";
  const std::string path = platform_.dialogs.SaveFile(request);
  if (path.empty()) return;
  if (!SaveJobFile(path)) platform_.dialogs.Information(LastJobError, request.title);
}

bool Station::OnLeaveOperatorModeClick() {
  if (!OperatorMode || RunInProgress()) return false;
  if (!platform_.dialogs.Question(kLeaveQuestion.Pick(UseEnglish), kJobTitle.Pick(UseEnglish)))
    return false;
  OperatorMode = false;
  for (bool* enabled : operatorLocked_) *enabled = true;
  // Those that follow other choices follow them again.
  UnlockSettings();
  EnableSerialFields();
  return true;
}

void Station::EnableSerialFields() {
  for (TextBox& field : texAuto_Increase) field.enabled = !cheAuto_Increase.checked;
  optAuto_Increase.enabled = !cheAuto_Increase.checked;
  ApplyOperatorLock();
}

void Station::ApplyOperatorLock() {
  if (!OperatorMode) return;
  for (bool* enabled : operatorLocked_) *enabled = false;
}

}  // namespace kvr
