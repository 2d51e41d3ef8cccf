#include "catalogue/catalogue.h"

#include <array>

namespace kvr {

namespace family {
const DeviceFamily kVXA{"FamilyVXA", "", 2};
const DeviceFamily kVXB{"FamilyVXB", "VXA series", 11};
const DeviceFamily kVXC{"FamilyVXC", "VXC series", 12};
const DeviceFamily kVXD{"FamilyVXD", "VXD series", 13};
const DeviceFamily kVXE{"FamilyVXE", "", 1};
}  // namespace family

namespace {

using family::kVXA;
using family::kVXB;
using family::kVXC;
using family::kVXD;
using family::kVXE;

constexpr std::int16_t kBlock = 512;

const std::array kRows = std::to_array<DeviceModel>({
    // VXA: chosen through the model list.
    {{"VXA01H", "VXA01L"}, &kVXA, "F001", 0x0FFF, 0x2C00, 0x3BFF, 0x3BFF, false, kBlock},
    {{"VXA02H", "VXA02L"}, &kVXA, "F002", 0x1FFF, 0x2C00, 0x3BFF, 0x3BFF, false, kBlock},
    {{"VXA03H", "VXA03L"}, &kVXA, "F004", 0x2BFF, 0x2C00, 0x3BFF, 0x3BFF, true, kBlock},
    {{"VXA04H", "VXA04L"}, &kVXA, "F104", 0x3FFF, 0xEC00, 0xFBFF, 0xFBFF, false, kBlock},
    {{"VXA05H", "VXA05L"}, &kVXA, "F108", 0x7FFF, 0xEC00, 0xFBFF, 0xFBFF, false, kBlock},
    {{"VXA06H", "VXA06L"}, &kVXA, "F110", 0xEBFF, 0xEC00, 0xFBFF, 0xFBFF, true, kBlock},
    // VXB: the family the device tree shows as "VXA series".
    {{"VXA01H", "VXA01L"}, &kVXB, "F101", 0x0FFF, 0xEC00, 0xFBFF, 0xFBFF, false, kBlock},
    {{"VXA02H", "VXA02L"}, &kVXB, "F102", 0x1FFF, 0xEC00, 0xFBFF, 0xFBFF, false, kBlock},
    {{"VXA04H", "VXA04L"}, &kVXB, "F104", 0x3FFF, 0xEC00, 0xFBFF, 0xFBFF, false, kBlock},
    {{"VXA05H", "VXA05L"}, &kVXB, "F108", 0x7FFF, 0xEC00, 0xFBFF, 0xFBFF, false, kBlock},
    {{"VXB03H", "VXB03L"}, &kVXB, "F10A", 0x9FFF, 0xEC00, 0xFBFF, 0xFBFF, false, kBlock},
    {{"VXB04H", "VXB04L"}, &kVXB, "F10C", 0xBFFF, 0xEC00, 0xFBFF, 0xFBFF, false, kBlock},
    {{"VXB05H", "VXB05L"}, &kVXB, "F10D", 0xCFFF, 0xEC00, 0xFBFF, 0xFBFF, false, kBlock},
    {{"VXB06H", "VXB06L"}, &kVXB, "F10E", 0xDFFF, 0xEC00, 0xFBFF, 0xFBFF, false, kBlock},
    // The AP area of the VXA06 of this family overlaps its ISP area.
    {{"VXA06H", "VXA06L"}, &kVXB, "F110", 0xF3FF, 0xEC00, 0xFBFF, 0xFBFF, true, kBlock},
    // VXC and VXD: in the tree only while the extra families are shown.
    {{"VXC01H", "VXC01L"}, &kVXC, "F001", 0x0FFF, 0x3400, 0x3BFF, 0x3BFF, false, kBlock},
    {{"VXC02H", "VXC02L"}, &kVXC, "F018", 0x0FFF, 0x3400, 0x3BFF, 0x3BFF, false, kBlock},
    {{"VXC03H", "VXC03L"}, &kVXC, "F01C", 0x0FFF, 0x3400, 0x3BFF, 0x3BFF, false, kBlock},
    {{"VXC04H", "VXC04L"}, &kVXC, "F002", 0x1FFF, 0x3400, 0x3BFF, 0x3BFF, false, kBlock},
    {{"VXC05H", "VXC05L"}, &kVXC, "F028", 0x1FFF, 0x3400, 0x3BFF, 0x3BFF, false, kBlock},
    {{"VXC06H", "VXC06L"}, &kVXC, "F030", 0x1FFF, 0x3400, 0x3BFF, 0x3BFF, false, kBlock},
    {{"VXD01H", "VXD01L"}, &kVXD, "F101", 0x0FFF, 0xEC00, 0xFBFF, 0xFBFF, false, kBlock},
    {{"VXD02H", "VXD02L"}, &kVXD, "F102", 0x1FFF, 0xEC00, 0xFBFF, 0xFBFF, false, kBlock},
    {{"VXD03H", "VXD03L"}, &kVXD, "F104", 0x3FFF, 0xEC00, 0xFBFF, 0xFBFF, false, kBlock},
    {{"VXD04H", "VXD04L"}, &kVXD, "F108", 0x7FFF, 0xEC00, 0xFBFF, 0xFBFF, false, kBlock},
    {{"VXD05H", "VXD05L"}, &kVXD, "F10A", 0x9FFF, 0xEC00, 0xFBFF, 0xFBFF, false, kBlock},
    {{"VXD06H", "VXD06L"}, &kVXD, "F10C", 0xBFFF, 0xEC00, 0xFBFF, 0xFBFF, false, kBlock},
    {{"VXD07H", "VXD07L"}, &kVXD, "F10D", 0xCFFF, 0xEC00, 0xFBFF, 0xFBFF, false, kBlock},
    {{"VXD08H", "VXD08L"}, &kVXD, "F10E", 0xDFFF, 0xEC00, 0xFBFF, 0xFBFF, false, kBlock},
    {{"VXD09H", "VXD09L"}, &kVXD, "F110", 0xF3FF, 0xEC00, 0xFBFF, 0xFBFF, true, kBlock},
    // VXE: chosen through the model list; the user area ends with the AP area.
    {{"VXE01L", ""}, &kVXE, "0055", 0x1FFF, 0xE000, 0xFFFF, 0x1FFF, false, kBlock},
    {{"VXE02L", ""}, &kVXE, "0055", 0x3FFF, 0xE000, 0xFFFF, 0x3FFF, false, kBlock},
    {{"VXE03L", ""}, &kVXE, "0055", 0x7FFF, 0xE000, 0xFFFF, 0x7FFF, false, kBlock},
    {{"VXE04L", ""}, &kVXE, "0055", 0xDFFF, 0xE000, 0xFFFF, 0xDFFF, true, kBlock},
    {{"VXE05L", ""}, &kVXE, "0055", 0xDFFF, 0xE000, 0xFFFF, 0xDFFF, true, kBlock},
});

// Names of a family's rows, all "H" models first, then the "L" models.
void AddFamilyModels(std::vector<TreeNode>& tree, const DeviceFamily& of,
                     std::initializer_list<const char*> order) {
  for (const char* name : order) tree.push_back({name, name, of.key});
}

}  // namespace

std::span<const DeviceModel> CatalogueRows() {
  return kRows;
}

const DeviceModel* FindModel(std::string_view familyKey, std::string_view name) {
  if (name.empty()) return nullptr;
  for (const DeviceModel& row : kRows)
    if (familyKey == row.family->key && row.Named(name)) return &row;
  return nullptr;
}

std::vector<TreeNode> BuildDeviceTree(bool showExtraFamilies) {
  std::vector<TreeNode> tree;
  tree.push_back({kVXB.key, kVXB.text, ""});
  if (showExtraFamilies) {
    tree.push_back({kVXC.key, kVXC.text, ""});
    tree.push_back({kVXD.key, kVXD.text, ""});
  }
  AddFamilyModels(
      tree, kVXB,
      {"VXA01H", "VXA02H", "VXA04H", "VXA05H", "VXB03H", "VXB04H", "VXB05H", "VXB06H", "VXA06H",
       "VXA01L", "VXA02L", "VXA04L", "VXA05L", "VXB03L", "VXB04L", "VXB05L", "VXB06L", "VXA06L"});
  if (showExtraFamilies) {
    AddFamilyModels(tree, kVXC,
                    {"VXC01H", "VXC02H", "VXC03H", "VXC04H", "VXC05H", "VXC06H", "VXC01L", "VXC02L",
                     "VXC03L", "VXC04L", "VXC05L", "VXC06L"});
    AddFamilyModels(
        tree, kVXD,
        {"VXD01H", "VXD02H", "VXD03H", "VXD04H", "VXD05H", "VXD06H", "VXD07H", "VXD08H", "VXD09H",
         "VXD01L", "VXD02L", "VXD03L", "VXD04L", "VXD05L", "VXD06L", "VXD07L", "VXD08L", "VXD09L"});
  }
  return tree;
}

std::vector<std::string> ModelListNames() {
  // The list also carries names of families the catalogue does not hold; choosing one of them
  // changes only the block size (see the model-list selection).
  return {"VXA01H", "VXA02H", "VXA03H", "VXA04H", "VXA05H", "VXA06H", "VXA01L", "VXA02L", "VXA03L",
          "VXA04L", "VXA05L", "VXA06L", "VXE01L", "VXE02L", "VXE03L", "VXE04L", "VXE05L"};
}

}  // namespace kvr
