#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvr {

struct DeviceFamily {
  const char* key;   // tree key, begins with "Family"
  const char* text;  // text of the family node; empty for families without one
  std::int16_t classCode;
};

// One catalogue row; an "H" model and its "L" twin share it.
struct DeviceModel {
  const char* names[2];  // second name empty when the row has one model
  const DeviceFamily* family;
  const char* identity;  // four upper-case hexadecimal digits
  std::int32_t apEnd;
  std::int32_t ispStart;
  std::int32_t ispEnd;
  std::int32_t userEnd;
  bool apUpToIsp;
  std::int16_t blockSize;

  bool Named(std::string_view name) const { return name == names[0] || name == names[1]; }
};

namespace family {
extern const DeviceFamily kVXA;
extern const DeviceFamily kVXB;
extern const DeviceFamily kVXC;
extern const DeviceFamily kVXD;
extern const DeviceFamily kVXE;
}  // namespace family

// Every catalogue row.
std::span<const DeviceModel> CatalogueRows();

// The row of this model in this family (by family key), or nullptr.
const DeviceModel* FindModel(std::string_view familyKey, std::string_view name);

// A node of the device tree: families at the root, models below them.
struct TreeNode {
  std::string key;
  std::string text;
  std::string parentKey;  // empty for a root node
};

// The tree as start-up builds it; the VXC and VXD families only with the extra families shown.
std::vector<TreeNode> BuildDeviceTree(bool showExtraFamilies);

// The entries of the model list that the catalogue knows: the VXA models, then the VXE models.
std::vector<std::string> ModelListNames();

constexpr std::string_view kFamilyKeyPrefix = "Family";
constexpr const char* kFallbackModel = "VXA01H";

}  // namespace kvr
