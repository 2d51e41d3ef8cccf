// Start-up on a settings store holding arbitrary values under every key the station and its front
// ends read: sections "Settings", "Auto_Increase" and "Ports". Start-up must complete with every
// list on an entry of its own, the serial-number and good-count paths must cope with what was
// stored, and a second start on what the first one saved must come up the same.

#include <algorithm>

#include "app/station.h"
#include "catalogue/catalogue.h"
#include "fuzz/fuzz_platform.h"
#include "platform/port_map.h"

namespace {

using kvr::Station;

struct Key {
  const char* section;
  const char* key;
};

constexpr Key kKeys[] = {
    {"Settings", "DeviceProducts"},
    {"Settings", "ISP_Space"},
    {"Settings", "FilePath"},
    {"Settings", "fillbyte"},
    {"Settings", "COM_port"},
    {"Settings", "Baud"},
    {"Settings", "BeepYesNo"},
    {"Settings", "Dalay_ReDownLoad"},
    {"Settings", "ISP_DEMO_oscillate_frequency"},
    {"Settings", "ISP_DEMO_ISP_buad"},
    {"Settings", "ISP_DEMO_parity"},
    {"Settings", "ISP_DEMO_erase_data"},
    {"Settings", "ISP_DEMO_WDT"},
    {"Settings", "ISP_DEMO_WDT_port"},
    {"Settings", "ISP_DEMO_WDT_port_bit"},
    {"Settings", "ISP_DEMO_have_485_pin"},
    {"Settings", "ISP_DEMO_485_port"},
    {"Settings", "ISP_DEMO_485_port_bit"},
    {"Settings", "Write_OK_Count"},
    {"Settings", "WDT_Prescalar"},
    {"Settings", "Auto_VXA_8"},
    {"Settings", "Auto_VXA_9"},
    {"Settings", "Auto_VXA_10"},
    {"Settings", "Auto_VXA_11"},
    {"Settings", "Auto_VXA_12"},
    {"Settings", "Auto_VXA_13"},
    {"Settings", "Auto_VXA_14"},
    {"Settings", "Auto_VXA_15"},
    {"Settings", "Production_Report"},
    {"Settings", "Production_Report_Format"},
    {"Auto_Increase", "address"},
    {"Auto_Increase", "Length"},
    {"Auto_Increase", "next_value"},
    {"Auto_Increase", "Increase"},
    {"Auto_Increase", "numeral_system"},
    {"Ports", "COM1"},
    {"Ports", "COM2"},
    {"Ports", "COM3"},
    {"Ports", "COM4"},
    {"Ports", "COM5"},
    {"Ports", "COM6"},
    {"Ports", "COM7"},
    {"Ports", "COM8"},
};

// Values that mean something to some key, so that the fuzzer reaches the paths behind them.
std::vector<std::string> TellingValues() {
  std::vector<std::string> values = {"",
                                     " ",
                                     "0",
                                     "1",
                                     "2",
                                     "3",
                                     "4",
                                     "6",
                                     "7",
                                     "8",
                                     "15",
                                     "16",
                                     "60",
                                     "61",
                                     "-1",
                                     " 3 ",
                                     "3.5",
                                     "1e3",
                                     "0x3",
                                     "2147483647",
                                     "2147483648",
                                     "-2147483649",
                                     "99999999999999999999",
                                     "True",
                                     "False",
                                     "true",
                                     "00",
                                     "FF",
                                     " 00 ",
                                     "csv",
                                     "jsonl",
                                     "FFFF",
                                     "FFFFF",
                                     "12400",
                                     "7FFF",
                                     "0000",
                                     "10000",
                                     "ZZ",
                                     "Erase MCU",
                                     "Read MCU ID",
                                     "Check MCU Empty",
                                     "Program File",
                                     "Verify Program",
                                     "Program Option",
                                     "Read Option",
                                     " Program File ",
                                     "Read MCU Option",
                                     "Program MCU option",
                                     "Auto Program",
                                     "/dev/ttyS0",
                                     "report.csv"};
  for (const kvr::TreeNode& node : kvr::BuildDeviceTree(true)) values.push_back(node.key);
  for (const std::string& name : kvr::ModelListNames()) values.push_back(name);
  return values;
}

bool OnEntry(const kvr::ListControl& list) {
  return list.index >= 0 && list.index < static_cast<int>(list.entries.size());
}

bool OnEntryOrNone(const kvr::ListControl& list) {
  return list.index == -1 || OnEntry(list);
}

void CheckControls(const Station& s) {
  KVR_FUZZ_CHECK(OnEntry(s.combCommPort));
  KVR_FUZZ_CHECK(OnEntry(s.Combo1));
  KVR_FUZZ_CHECK(OnEntry(s.Combo2));
  KVR_FUZZ_CHECK(OnEntry(s.comDalay_ReDownLoad));
  // Shown and stored only: a stored value that names no entry leaves it without a selection.
  KVR_FUZZ_CHECK(OnEntryOrNone(s.comWDT_Prescalar));
  KVR_FUZZ_CHECK(OnEntryOrNone(s.combMcuModel));
  KVR_FUZZ_CHECK(OnEntryOrNone(s.AP_size));
  KVR_FUZZ_CHECK(s.TabStrip1.selected >= 0 &&
                 s.TabStrip1.selected < static_cast<int>(s.TabStrip1.tabs.size()));
  KVR_FUZZ_CHECK(s.TabStrip2.Offered(static_cast<std::size_t>(s.TabStrip2.selected)));
  KVR_FUZZ_CHECK(s.optFillbyte.selected == 0 || s.optFillbyte.selected == 1);
  KVR_FUZZ_CHECK(s.optReportFormat.selected == 0 || s.optReportFormat.selected == 1);
  KVR_FUZZ_CHECK(s.optAuto_Increase.selected >= 0 &&
                 s.optAuto_Increase.selected <
                     static_cast<int>(s.optAuto_Increase.captions.size()));
  for (const kvr::OptionPair& row : s.Option)
    KVR_FUZZ_CHECK(row.selected == 0 || row.selected == 1);
  KVR_FUZZ_CHECK(s.optBeepYes.checked != s.optBeepNo.checked);
  // The stored sequence keeps every slot, under the current names of its steps.
  for (int slot = Station::kFirstSequenceSlot; slot < Station::kAutoSlots; ++slot) {
    const std::string& text = s.txtAuto[static_cast<std::size_t>(slot)].text;
    KVR_FUZZ_CHECK(kvr::CurrentStepName(text) == text);
  }
  // A model is chosen, with its areas.
  KVR_FUZZ_CHECK(!s.txtDevice.text.empty() && s.SelectedDevice.DeviceClassCode != 0);
}

// What the first station saved brings the second up the same. The serial-number fields are saved
// only when a number was accepted, so they are compared when the operator left them alone.
void CheckSameStart(const Station& a, const Station& b, bool serialTouched) {
  KVR_FUZZ_CHECK(a.treeDevice.selectedKey == b.treeDevice.selectedKey);
  KVR_FUZZ_CHECK(a.combCommPort.index == b.combCommPort.index);
  KVR_FUZZ_CHECK(a.Combo1.index == b.Combo1.index);
  KVR_FUZZ_CHECK(a.Combo2.index == b.Combo2.index);
  KVR_FUZZ_CHECK(a.comDalay_ReDownLoad.index == b.comDalay_ReDownLoad.index);
  KVR_FUZZ_CHECK(a.comWDT_Prescalar.index == b.comWDT_Prescalar.index);
  KVR_FUZZ_CHECK(a.optFillbyte.selected == b.optFillbyte.selected);
  KVR_FUZZ_CHECK(a.optBeepYes.checked == b.optBeepYes.checked);
  KVR_FUZZ_CHECK(kvr::Trim(a.txtWrite_OK_Count.text) == kvr::Trim(b.txtWrite_OK_Count.text));
  KVR_FUZZ_CHECK(kvr::Trim(a.txtReportFile.text) == kvr::Trim(b.txtReportFile.text));
  KVR_FUZZ_CHECK(a.optReportFormat.selected == b.optReportFormat.selected);
  for (std::size_t slot = 0; slot < a.txtAuto.size(); ++slot)
    KVR_FUZZ_CHECK(kvr::Trim(a.txtAuto[slot].text) == kvr::Trim(b.txtAuto[slot].text));
  if (serialTouched) return;
  for (std::size_t field = 0; field < a.texAuto_Increase.size(); ++field)
    KVR_FUZZ_CHECK(a.texAuto_Increase[field].text == b.texAuto_Increase[field].text);
  KVR_FUZZ_CHECK(a.optAuto_Increase.selected == b.optAuto_Increase.selected);
}

}  // namespace

// Input: the flags, then per key a choice (0 absent, 1 a text of its own that follows, else a
// telling value).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<std::string> telling = TellingValues();
  kvr::fuzz::Input in(data, size);
  const std::uint8_t flags = in.Byte();
  const bool english = (flags & 0x01) == 0;

  kvr::fuzz::FuzzPlatform fp;
  fp.dialogs.SetAnswers(flags >> 4);
  for (const Key& key : kKeys) {
    const std::uint8_t choice = in.Byte();
    if (choice == 0) continue;
    const std::string value = choice == 1 ? in.Text() : telling[(choice - 2u) % telling.size()];
    fp.settings.Write(Station::kApplication, key.section, key.key, value);
  }

  kvr::PortMap ports;
  ports.LoadOverrides(fp.settings, Station::kApplication);
  for (int n = 1; n <= kvr::PortMap::kPorts; ++n) KVR_FUZZ_CHECK(!ports.Target(n).empty());

  Station first(fp.platform, english);
  CheckControls(first);
  fp.Settle();
  const bool serialTouched = (flags & 0x02) != 0;
  if (serialTouched) {
    // The operator ticks the serial number: numbers are reserved and stamped for two chips, as
    // two runs of Program File would.
    first.cheAuto_Increase.checked = true;
    first.OnAutoIncreaseClick();
    for (int chip = 0; chip < 2 && first.SerialActive; ++chip) first.ReserveSerial();
  }
  if ((flags & 0x04) != 0) first.ClearOkCount();
  first.QueryUnload();
  first.Unload();
  CheckControls(first);

  Station second(fp.platform, english);
  CheckControls(second);
  CheckSameStart(first, second, serialTouched);
  return 0;
}
