#include "app/captions.h"

#include <array>

namespace kvr {

namespace {

struct KeyedCaption {
  const char* key;
  Wording text;
};

// Where a frame or label has blanks in front, they lined it up in a fixed layout; the window's
// layouts trim them.
constexpr KeyedCaption kWindowCaptions[] = {
    {"framFile", {"Open the file", "打开文件"}},
    {"framMsg", {"Message", "信息"}},
    {"labBufferStart", {"Start address(HEX)", "起始地址(HEX)"}},
    {"labFillByte", {"Unused file buffer fill in", "未用缓冲区填充"}},
    {"labCheckSum", {"File check sum(HEX):", "文件校验和(HEX):"}},
    {"labMcuType", {"MCU type", "MCU 型号"}},
    {"labIspSize", {"ISP size", "ISP 区大小"}},
    {"labRanges", {" AP range    ISP range", " AP 区范围    ISP 区范围"}},
    {"labPort", {"        COM Port:", "串口:"}},
    {"labBaud", {"         Baud:", "波特率:"}},
    {"labRepeatDelay", {"Time slot of program repeat", "重复烧录间隔(秒)"}},
    {"labSound", {" Enable sounds", "声音提示"}},
    {"labExportStart", {"      Start Address:", "起始地址:"}},
    {"labExportLength", {"        Length:", "长度:"}},
    {"labAutoIncrease0", {"  High Address(HEX)", "高位地址(HEX)"}},
    {"labAutoIncrease1", {"Bytes", "字节数"}},
    {"labAutoIncrease2", {"Next Number(DEC)", "下一个值(DEC)"}},
    {"labAutoIncrease3", {"Step", "步长"}},
    {"labAutoIncreaseMode", {"Next Number Mode", "下一个值的格式"}},
    {"labOptionNote",
     {"May be reopen file when options changed.", "改变选项后可能需要重新打开文件。"}},
    // The window's own frames and labels.
    {"title", {"KVR programming station", "KVR 编程站"}},
    {"framDevice", {"Device", "型号"}},
    {"labModelList", {"or &list", "或从列表(&L)"}},
    {"modelListHint", {"from the list", "从列表选择"}},
    {"noModel", {"No model chosen", "未选择型号"}},
    {"deviceInfo",
     {"Class %1    ID %2    AP %3–%4    ISP %5–%6", "类别 %1    ID %2    AP %3–%4    ISP %5–%6"}},
    {"framOptions", {"Options", "选项"}},
    {"framAreas", {"Areas and peripherals", "区域与外设"}},
    {"framReadBack", {"Read back", "读出的选项"}},
    {"labOkCount", {"Programmed OK", "烧录成功计数"}},
    {"labReport", {"Production report", "生产报告"}},
    {"reportHint", {"no report", "无报告"}},
    {"labLineDb", {"Line database", "生产线数据库"}},
    {"lineDbHint", {"none: this PC keeps the numbers and the count", "无: 编号与计数保存在本机"}},
    {"labDownloadMax", {"Copy limit:", "下载数量上限:"}},
    {"labJobProduct", {"Job's product", "作业的产品"}},
    {"labJobNote", {"Job's note", "作业的备注"}},
    // The verdict panel and the history of the chips.
    {"framVerdict", {"Result", "结果"}},
    {"verdictReady", {"READY", "就绪"}},
    {"verdictRunning", {"RUNNING", "运行中"}},
    {"verdictPass", {"PASS", "通过"}},
    {"verdictFail", {"FAIL", "失败"}},
    {"verdictStopped", {"STOPPED", "已停止"}},
    {"labGood", {"Good", "成功"}},
    {"labNextSerial", {"Next no.", "下一号"}},
    {"labSerial", {"Serial", "序列号"}},
    {"labChip", {"ID", "ID"}},
    {"framHistory", {"Chips since the start", "本次启动以来的芯片"}},
    {"colTime", {"Time", "时间"}},
    {"colResult", {"Result", "结果"}},
    {"colSerial", {"Serial", "序列号"}},
    {"colStep", {"Failing step", "失败步骤"}},
    // Menus.
    {"menuFile", {"&File", "文件(&F)"}},
    {"actOpen", {"&Open...", "打开(&O)..."}},
    {"menuRecent", {"&Recent files", "最近的文件(&R)"}},
    {"noRecent", {"(none)", "(无)"}},
    {"actSaveAs", {"&Save buffer as...", "缓冲区另存为(&S)..."}},
    {"actOpenJob", {"Open &job...", "打开作业(&J)..."}},
    {"actOpenJobLocked", {"Open job for &production...", "打开作业用于生产(&P)..."}},
    {"actSaveJob", {"Save jo&b as...", "作业另存为(&B)..."}},
    {"actLeaveOperatorMode", {"&Leave operator mode...", "退出操作员模式(&L)..."}},
    {"actQuit", {"&Quit", "退出(&Q)"}},
    {"menuDevice", {"&Device", "器件(&D)"}},
    {"actStop", {"S&top", "停止(&T)"}},
    {"menuView", {"&View", "视图(&V)"}},
    {"menuLanguage", {"&Language", "语言(&L)"}},
    {"menuHelp", {"&Help", "帮助(&H)"}},
    {"actQuickHelp", {"&Quick help", "快速帮助(&Q)"}},
    {"actSettingsFile", {"Where is the &settings file?", "设置文件在哪里(&S)?"}},
    {"actAbout", {"&About", "关于(&A)"}},
    {"about", {"KVR programming station, version %1", "KVR 编程站, 版本 %1"}},
    {"settingsFile", {"The settings are kept in\n%1", "设置保存在\n%1"}},
    {"quickHelp",
     {"Choose the model on MCU-Option and the port on COM-Baud, open a HEX or binary file "
      "(File > Open, Ctrl+O, or drop it on the window), highlight a function and press Program "
      "(F5 or Return; a foot switch that sends one of these keys works too). Esc stops a run.\n\n"
      "\"Auto Program\" runs the sequence built on Set_Auto. The panel beside the function list "
      "says PASS or FAIL after each chip, with the reason of a failure; the list below it holds "
      "every chip since the start.",
      "在 MCU 选项页选择型号, 在串口-波特率页选择串口, 打开 HEX 或二进制文件 (文件 > 打开, "
      "Ctrl+O, 或拖放到窗口上), 选中一个功能后按编程 (F5 或回车; 发送这些按键的脚踏开关也可以)。"
      "Esc 停止运行。\n\n"
      "\"Auto Program\" 运行在设置自动页上编排的序列。功能列表旁的面板在每个芯片之后显示"
      "通过或失败以及失败的原因; 其下的列表记录本次启动以来的每个芯片。"}},
    {"shortcutProgram", {"F5 or Return", "F5 或回车"}},
    {"shortcutStop", {"Esc", "Esc"}},
    {"shortcutOpen", {"Ctrl+O", "Ctrl+O"}},
    {"portPresent", {"present", "已连接"}},
    {"portAbsent", {"absent", "未连接"}},
    {"portUnmapped",
     {"Not in the list (choose one for the entry above):",
      "不在列表中 (选择一个用于上面选中的串口):"}},
};

struct OperationName {
  const char* name;
  const char* chinese;
};

constexpr OperationName kOperationNames[] = {
    {"Auto Program", "自动编程"},      {"Erase MCU", "擦除 MCU"},    {"Read MCU ID", "读 MCU ID"},
    {"Check MCU Empty", "查空"},       {"Program File", "编程文件"}, {"Verify Program", "校验"},
    {"Program Option", "编程 Option"}, {"Read Option", "读 Option"}, {"Read EEPROM", "读 EEPROM"},
};

const LedLegend kChineseLegend{
    "脱机烧录过程中的显示",
    {
        "                             7 6 5 4 3 2 1 0",
        "正在自检                     @   @   @   @     长亮不闪烁",
        "烧录中                       8个灯长亮, 亮度稍暗，有不明显的闪烁",
        "--------------------------------------------------------------------------",
        "禁止脱机烧录:                @ @ @ @ @ @ @ @   8个灯长亮,拷贝限量已减为 0",
        "                                               或还未下载应用程序",
        "--------------------------------------------------------------------------",
        "自检错                       @                 P0.7 LED 长亮不闪烁",
        "单片机型号不符                 @               P0.6 LED 长亮不闪烁",
        "检查空片错                       @             P0.5 LED 长亮不闪烁",
        "AP, ISP 校验错                     @           P0.4 LED 长亮不闪烁",
        "因受干扰等原因发生运行错误           @         P0.3 LED 长亮不闪烁",
    }};

const LedLegend kEnglishLegend{
    "The offline board's LEDs while it programs",
    {
        "                             7 6 5 4 3 2 1 0",
        "Self-test running            @   @   @   @     steady, not blinking",
        "Programming                  all 8 lit, slightly dim, a faint flicker",
        "--------------------------------------------------------------------------",
        "Offline programming off:     @ @ @ @ @ @ @ @   all 8 steady: the copy limit is used up",
        "                                               or no application was downloaded yet",
        "--------------------------------------------------------------------------",
        "Self-test error              @                 P0.7 LED steady, not blinking",
        "Chip model does not match      @               P0.6 LED steady, not blinking",
        "Blank-check error                @             P0.5 LED steady, not blinking",
        "AP or ISP verify error             @           P0.4 LED steady, not blinking",
        "Run error (interference...)          @         P0.3 LED steady, not blinking",
    }};

// The first code point of a UTF-8 sequence starting at `text[i]`, and its length.
char32_t CodePoint(const std::string& text, std::size_t i, std::size_t& length) {
  const auto byte = static_cast<unsigned char>(text[i]);
  length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
  if (i + length > text.size()) length = 1;
  char32_t value = length == 1 ? byte : byte & (0xFF >> (length + 1));
  for (std::size_t k = 1; k < length; ++k)
    value = (value << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
  return value;
}

bool Wide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6);
}

}  // namespace

std::map<std::string, std::string> WindowCaptions(bool english) {
  std::map<std::string, std::string> captions;
  for (const KeyedCaption& caption : kWindowCaptions)
    captions.emplace(caption.key, caption.text.Pick(english));
  return captions;
}

std::string OperationCaption(const std::string& name, bool english) {
  if (!english)
    for (const OperationName& operation : kOperationNames)
      if (name == operation.name) return operation.chinese;
  return name;
}

const LedLegend& OfflineLegend(bool english) {
  return english ? kEnglishLegend : kChineseLegend;
}

std::size_t TextColumns(const std::string& text) {
  std::size_t columns = 0;
  for (std::size_t i = 0, length = 1; i < text.size(); i += length)
    columns += Wide(CodePoint(text, i, length)) ? 2 : 1;
  return columns;
}

}  // namespace kvr
