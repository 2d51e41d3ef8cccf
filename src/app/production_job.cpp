#include "app/production_job.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>

#include "app/production_report.h"
#include "image/hex_field.h"
#include "link/message_log.h"

namespace kvr {

namespace {

using Json = nlohmann::ordered_json;

constexpr Wording kNotJson{"The job file is not valid JSON: {}.", "作业文件不是有效的 JSON：{}。"};
constexpr Wording kNotObject{"The job file holds no job: it is not a JSON object.",
                             "作业文件中没有作业：它不是 JSON 对象。"};
constexpr Wording kLaterFormat{
    "The job file has format {}, written by a later station; this station reads format {}.",
    "作业文件的格式为 {}，由较新的编程站写入；本编程站读取格式 {}。"};
constexpr Wording kMissingKey{"The job file lacks \"{}\".", "作业文件缺少 \"{}\"。"};
constexpr Wording kUnknownKey{"The job file holds the unknown key \"{}\".",
                              "作业文件含有未知的键 \"{}\"。"};
constexpr Wording kWrongValue{"In the job file, \"{}\" must be {}.",
                              "作业文件中 \"{}\" 必须是{}。"};
constexpr Wording kNotUtf8{"The job cannot be written: a name in it is not valid UTF-8.",
                           "作业无法写入：其中的名称不是有效的 UTF-8。"};

constexpr Wording kAnObject{"an object", "对象"};
constexpr Wording kAText{"a text", "文本"};
constexpr Wording kANonEmptyText{"a text that is not empty", "非空文本"};
constexpr Wording kTrueFalse{"true or false", "true 或 false"};
constexpr Wording kWhole{"a whole number from {} to {}", "{} 到 {} 的整数"};
constexpr Wording kHexDigits{"1 to {} hexadecimal digits", "1 到 {} 位十六进制数字"};
constexpr Wording kCrcDigits{"8 hexadecimal digits", "8 位十六进制数字"};
constexpr Wording kOneOf{"one of {}", "{} 之一"};
constexpr Wording kList{"a list of at most {} {}", "最多 {} 个{}的列表"};
constexpr Wording kExactList{"a list of {} {}", "{} 个{}的列表"};
constexpr Wording kChoices{"choices 0 or 1", "选择 (0 或 1)"};
constexpr Wording kStepNames{"step names", "步骤名称"};
constexpr Wording kFlags{"true or false values", "true 或 false 值"};

// The most a list of the job holds: the panel's rows, the sequence's slots, the peripherals.
constexpr std::size_t kRows = 9;
constexpr std::size_t kSteps = 8;
constexpr std::size_t kPeripherals = 5;
constexpr int kLongestDelay = 60;

bool IsHex(const std::string& text, std::size_t most) {
  return !text.empty() && text.size() <= most &&
         std::all_of(text.begin(), text.end(), [](char c) { return HexDigitValue(c) >= 0; });
}

// Reads a job's JSON, refusing the first thing that is not as the format has it.
class JobReader {
 public:
  explicit JobReader(bool english) : english_(english) {}

  const std::string& Error() const { return error_; }

  // `object` holds exactly `keys`: an unknown key is refused (a misspelt one would otherwise
  // leave its setting as the station happens to have it), and so is a missing one.
  bool Keys(const Json& object, const std::string& where, std::initializer_list<const char*> keys) {
    for (const auto& item : object.items())
      if (std::none_of(keys.begin(), keys.end(),
                       [&](const char* key) { return item.key() == key; }))
        return Fail(kUnknownKey, {Name(where, item.key())});
    for (const char* key : keys)
      if (!object.contains(key)) return Fail(kMissingKey, {Name(where, key)});
    return true;
  }

  const Json* Section(const Json& object, const char* key) {
    const Json& value = object.at(key);
    if (value.is_object()) return &value;
    Wrong(key, kAnObject.Pick(english_));
    return nullptr;
  }

  bool Text(const Json& object, const std::string& where, const char* key, std::string& into,
            bool mayBeEmpty = true) {
    const Json& value = object.at(key);
    if (!value.is_string() || (!mayBeEmpty && value.get_ref<const std::string&>().empty()))
      return Wrong(Name(where, key), (mayBeEmpty ? kAText : kANonEmptyText).Pick(english_));
    into = value.get<std::string>();
    return true;
  }

  bool Flag(const Json& object, const std::string& where, const char* key, bool& into) {
    const Json& value = object.at(key);
    if (!value.is_boolean()) return Wrong(Name(where, key), kTrueFalse.Pick(english_));
    into = value.get<bool>();
    return true;
  }

  template <typename Number>
  bool Whole(const Json& object, const std::string& where, const char* key, std::int64_t min,
             std::int64_t max, Number& into) {
    const Json& value = object.at(key);
    std::int64_t number = 0;
    bool whole = false;
    if (value.is_number_unsigned()) {
      whole = value.get<std::uint64_t>() <= static_cast<std::uint64_t>(max);
      number = whole ? static_cast<std::int64_t>(value.get<std::uint64_t>()) : 0;
    } else if (value.is_number_integer()) {
      number = value.get<std::int64_t>();
      whole = true;
    }
    whole = whole && number >= min && number <= max;
    if (!whole)
      return Wrong(Name(where, key),
                   Filled(kWhole.Pick(english_), {std::to_string(min), std::to_string(max)}));
    into = static_cast<Number>(number);
    return true;
  }

  bool Hex(const Json& object, const std::string& where, const char* key, std::size_t most,
           std::string& into) {
    const Json& value = object.at(key);
    if (!value.is_string() || !IsHex(value.get<std::string>(), most))
      return Wrong(Name(where, key), Filled(kHexDigits.Pick(english_), {std::to_string(most)}));
    into = value.get<std::string>();
    return true;
  }

  // The index of the text among `choices`.
  bool Choice(const Json& object, const std::string& where, const char* key,
              std::initializer_list<const char*> choices, int& into) {
    const Json& value = object.at(key);
    int index = 0;
    for (const char* choice : choices) {
      if (value.is_string() && value.get<std::string>() == choice) {
        into = index;
        return true;
      }
      ++index;
    }
    std::string names;
    for (const char* choice : choices)
      names += (names.empty() ? "\"" : ", \"") + std::string(choice) + "\"";
    return Wrong(Name(where, key), Filled(kOneOf.Pick(english_), {names}));
  }

  // A list whose elements `take` accepts; `exact` asks for `most` of them.
  template <typename Element>
  bool List(const Json& object, const std::string& where, const char* key, std::size_t most,
            bool exact, const Wording& what, bool (*take)(const Json&, Element&),
            std::vector<Element>& into) {
    const Json& value = object.at(key);
    std::vector<Element> elements;
    bool good = value.is_array() && (exact ? value.size() == most : value.size() <= most);
    for (std::size_t i = 0; good && i < value.size(); ++i) {
      Element element{};
      good = take(value[i], element);
      elements.push_back(element);
    }
    if (!good)
      return Wrong(Name(where, key), Filled((exact ? kExactList : kList).Pick(english_),
                                            {std::to_string(most), what.Pick(english_)}));
    into = std::move(elements);
    return true;
  }

  bool Fail(const Wording& wording, std::initializer_list<std::string> values) {
    error_ = Filled(wording.Pick(english_), values);
    return false;
  }

  bool Wrong(const std::string& key, const std::string& what) {
    return Fail(kWrongValue, {key, what});
  }

  static std::string Name(const std::string& where, const std::string& key) {
    return where.empty() ? key : where + "." + key;
  }

 private:
  bool english_;
  std::string error_;
};

bool TakeChoice(const Json& value, int& into) {
  if (!value.is_number_integer() || value.get<std::int64_t>() < 0 || value.get<std::int64_t>() > 1)
    return false;
  into = value.get<int>();
  return true;
}

bool TakeStep(const Json& value, std::string& into) {
  if (!value.is_string() || value.get_ref<const std::string&>().empty()) return false;
  into = value.get<std::string>();
  return true;
}

bool TakeFlag(const Json& value, bool& into) {
  if (!value.is_boolean()) return false;
  into = value.get<bool>();
  return true;
}

// Indented JSON as nlohmann writes it, but a list of numbers or of true and false on one line,
// so that the option rows read as one row.
void WriteJson(const Json& value, std::size_t indent, std::string& out) {
  const bool inline_ =
      !value.is_structured() ||
      (value.is_array() && std::all_of(value.begin(), value.end(), [](const Json& e) {
         return e.is_number() || e.is_boolean();
       }));
  if (inline_ && value.is_array()) {
    out += '[';
    for (std::size_t i = 0; i < value.size(); ++i) out += (i == 0 ? "" : ", ") + value[i].dump();
    out += ']';
    return;
  }
  if (inline_ || value.empty()) {
    out += value.dump();
    return;
  }
  const std::string inner(indent + 2, ' ');
  out += value.is_object() ? "{\n" : "[\n";
  std::size_t i = 0;
  for (const auto& item : value.items()) {
    out += inner;
    if (value.is_object()) out += Json(item.key()).dump() + ": ";
    WriteJson(item.value(), indent + 2, out);
    out += ++i < value.size() ? ",\n" : "\n";
  }
  out += std::string(indent, ' ') + (value.is_object() ? "}" : "]");
}

// "[json.exception.parse_error.101] parse error at line 1, ...": the part after the tag.
std::string ParseDetail(const std::string& what) {
  const auto tag = what.find("] ");
  return tag == std::string::npos ? what : what.substr(tag + 2);
}

}  // namespace

std::string Filled(std::string text, std::initializer_list<std::string> values) {
  std::size_t from = 0;
  for (const std::string& value : values) {
    const auto at = text.find("{}", from);
    if (at == std::string::npos) break;
    text.replace(at, 2, value);
    from = at + value.size();
  }
  return text;
}

std::optional<std::string> JobText(const ProductionJob& job, bool english, std::string& error) {
  static constexpr const char* kModes[] = {"hex", "dec", "ascii"};
  const Json json = Json::object({
      {"format", ProductionJob::kFormat},
      {"product", job.product},
      {"note", job.note},
      {"model", Json::object({{"name", job.model},
                              {"chosen_from", job.modelFromList ? "list" : "tree"},
                              {"extra_families", job.extraFamilies}})},
      {"isp_size", job.ispSize},
      {"buffer_start", job.bufferStart},
      {"fill", job.fill == 0x00 ? "00" : "FF"},
      {"clear_buffer_before_load", job.clearBeforeLoad},
      {"image",
       Json::object(
           {{"file", job.image}, {"size", job.imageSize}, {"crc32", Crc32Text(job.imageCrc32)}})},
      {"options", Json::object({{"rows", job.optionRows},
                                {"ap_size", job.apSize},
                                {"wdt_prescaler", job.wdtPrescaler},
                                {"peripherals", job.peripherals}})},
      {"sequence", job.sequence},
      {"serial", Json::object({{"enabled", job.serialEnabled},
                               {"address", job.serialAddress},
                               {"bytes", job.serialBytes},
                               {"mode", kModes[std::clamp(job.serialMode, 0, 2)]},
                               {"step", job.serialStep}})},
      {"report",
       Json::object({{"file", job.report}, {"format", job.reportFormat == 1 ? "jsonl" : "csv"}})},
      {"repeat_delay", job.repeatDelay},
  });
  try {
    std::string text;
    WriteJson(json, 0, text);
    return text + "\n";
  } catch (const Json::type_error&) {
    error = kNotUtf8.Pick(english);
    return std::nullopt;
  }
}

std::optional<ProductionJob> ParseJob(const std::string& text, bool english, std::string& error) {
  Json root;
  try {
    root = Json::parse(text);
  } catch (const Json::parse_error& failure) {
    error = Filled(kNotJson.Pick(english), {ParseDetail(failure.what())});
    return std::nullopt;
  }
  JobReader r(english);
  ProductionJob job;
  auto refused = [&] {
    error = r.Error();
    return std::nullopt;
  };
  if (!root.is_object()) {
    r.Fail(kNotObject, {});
    return refused();
  }
  // The format first: a later one may well have keys this station does not know.
  std::int64_t format = 0;
  if (!root.contains("format")) {
    r.Fail(kMissingKey, {"format"});
    return refused();
  }
  const Json& given = root.at("format");
  // JSON parsers give every number of 0 or more as unsigned.
  if (given.is_number_unsigned() && given.get<std::uint64_t>() > ProductionJob::kFormat) {
    r.Fail(kLaterFormat, {given.dump(), std::to_string(ProductionJob::kFormat)});
    return refused();
  }
  if (!r.Whole(root, "", "format", ProductionJob::kFormat, ProductionJob::kFormat, format) ||
      !r.Keys(root, "",
              {"format", "product", "note", "model", "isp_size", "buffer_start", "fill",
               "clear_buffer_before_load", "image", "options", "sequence", "serial", "report",
               "repeat_delay"}) ||
      !r.Text(root, "", "product", job.product) || !r.Text(root, "", "note", job.note))
    return refused();

  const Json* model = r.Section(root, "model");
  int from = 0;
  if (model == nullptr || !r.Keys(*model, "model", {"name", "chosen_from", "extra_families"}) ||
      !r.Text(*model, "model", "name", job.model, false) ||
      !r.Choice(*model, "model", "chosen_from", {"tree", "list"}, from) ||
      !r.Flag(*model, "model", "extra_families", job.extraFamilies))
    return refused();
  job.modelFromList = from == 1;

  int fill = 0;
  if (!r.Text(root, "", "isp_size", job.ispSize, false) ||
      !r.Hex(root, "", "buffer_start", 5, job.bufferStart) ||
      !r.Choice(root, "", "fill", {"FF", "00"}, fill) ||
      !r.Flag(root, "", "clear_buffer_before_load", job.clearBeforeLoad))
    return refused();
  job.fill = fill == 1 ? 0x00 : 0xFF;

  const Json* image = r.Section(root, "image");
  std::string crc;
  if (image == nullptr || !r.Keys(*image, "image", {"file", "size", "crc32"}) ||
      !r.Text(*image, "image", "file", job.image, false) ||
      !r.Whole(*image, "image", "size", 0, std::numeric_limits<std::int64_t>::max(), job.imageSize))
    return refused();
  if (!image->at("crc32").is_string() || !IsHex(image->at("crc32").get<std::string>(), 8) ||
      image->at("crc32").get_ref<const std::string&>().size() != 8) {
    r.Wrong("image.crc32", kCrcDigits.Pick(english));
    return refused();
  }
  job.imageCrc32 =
      static_cast<std::uint32_t>(std::stoul(image->at("crc32").get<std::string>(), nullptr, 16));

  const Json* options = r.Section(root, "options");
  if (options == nullptr ||
      !r.Keys(*options, "options", {"rows", "ap_size", "wdt_prescaler", "peripherals"}) ||
      !r.List(*options, "options", "rows", kRows, false, kChoices, TakeChoice, job.optionRows) ||
      !r.Text(*options, "options", "ap_size", job.apSize) ||
      !r.Text(*options, "options", "wdt_prescaler", job.wdtPrescaler) ||
      !r.List(*options, "options", "peripherals", kPeripherals, true, kFlags, TakeFlag,
              job.peripherals))
    return refused();

  if (!r.List(root, "", "sequence", kSteps, false, kStepNames, TakeStep, job.sequence))
    return refused();

  const Json* serial = r.Section(root, "serial");
  if (serial == nullptr ||
      !r.Keys(*serial, "serial", {"enabled", "address", "bytes", "mode", "step"}) ||
      !r.Flag(*serial, "serial", "enabled", job.serialEnabled) ||
      !r.Hex(*serial, "serial", "address", 5, job.serialAddress) ||
      !r.Whole(*serial, "serial", "bytes", 0, std::numeric_limits<std::int16_t>::max(),
               job.serialBytes) ||
      !r.Choice(*serial, "serial", "mode", {"hex", "dec", "ascii"}, job.serialMode) ||
      !r.Whole(*serial, "serial", "step", 0, std::numeric_limits<std::int32_t>::max(),
               job.serialStep))
    return refused();

  const Json* report = r.Section(root, "report");
  if (report == nullptr || !r.Keys(*report, "report", {"file", "format"}) ||
      !r.Text(*report, "report", "file", job.report) ||
      !r.Choice(*report, "report", "format", {"csv", "jsonl"}, job.reportFormat) ||
      !r.Whole(root, "", "repeat_delay", 0, kLongestDelay, job.repeatDelay))
    return refused();
  return job;
}

}  // namespace kvr
