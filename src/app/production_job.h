#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace kvr {

// A production job: what an engineer sets up once for a product, so that every station of a
// line programs it the same way. Kept in a JSON file (docs/job_file.md); the station applies it
// through the same handlers as the operator's clicks.
struct ProductionJob {
  // The format this station writes and reads; a file of a later format is refused.
  static constexpr int kFormat = 1;

  std::string product;  // free text: names the product in the title, the verdict and the records
  std::string note;
  std::string model;
  bool modelFromList = false;  // else from the device tree
  bool extraFamilies = false;  // the tree shows the VXC and VXD families
  std::string ispSize;         // the entry of the ISP size list, e.g. "2.0k"
  std::string bufferStart;     // hexadecimal, as the start address field takes it
  std::uint8_t fill = 0xFF;
  bool clearBeforeLoad = false;
  // The image file: relative to the job file's folder in the file, resolved once opened.
  std::string image;
  std::uint64_t imageSize = 0;
  std::uint32_t imageCrc32 = 0;
  // The choice (0 or 1) of each row of the option panel that the model shows, from the first.
  std::vector<int> optionRows;
  // The newer families' lists (empty: no entry chosen) and peripheral boxes.
  std::string apSize;
  std::string wdtPrescaler;
  std::vector<bool> peripherals;
  std::vector<std::string> sequence;
  // Serial numbers; the next number stays with the line, not with the job.
  bool serialEnabled = false;
  std::string serialAddress;  // hexadecimal
  std::int64_t serialBytes = 0;
  std::int64_t serialStep = 1;
  int serialMode = 0;    // 0 hex, 1 dec, 2 ascii
  std::string report;    // resolved as the image is; empty: no report
  int reportFormat = 0;  // 0 CSV, 1 JSON Lines
  int repeatDelay = 0;   // seconds between two chips of a repeat

  bool operator==(const ProductionJob&) const = default;
};

// The job file's text: JSON, the keys in a fixed order, ending with a line feed. Paths as the
// job holds them. Nothing (and the reason) when a text is not valid UTF-8.
std::optional<std::string> JobText(const ProductionJob& job, bool english, std::string& error);

// The job a file's text holds; nothing, with the reason (in the language chosen), when the text
// is not a job of this station's format: not JSON, a key missing, unknown or of the wrong type,
// a value outside its choices, or a later format.
std::optional<ProductionJob> ParseJob(const std::string& text, bool english, std::string& error);

// The text with each "{}" replaced by the next of `values`.
std::string Filled(std::string text, std::initializer_list<std::string> values);

}  // namespace kvr
