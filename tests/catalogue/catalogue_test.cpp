#include <gtest/gtest.h>

#include <set>

#include "catalogue/catalogue.h"

namespace kvr {
namespace {

TEST(Catalogue, SameNameMeansDifferentRowsPerFamily) {
  const DeviceModel* tree = FindModel("FamilyVXB", "VXA06H");
  const DeviceModel* list = FindModel("FamilyVXA", "VXA06L");
  ASSERT_NE(tree, nullptr);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(tree->family->classCode, 11);
  EXPECT_EQ(tree->apEnd, 0xF3FF);
  EXPECT_TRUE(tree->apUpToIsp);
  EXPECT_EQ(list->family->classCode, 2);
  EXPECT_EQ(list->apEnd, 0xEBFF);
  EXPECT_EQ(list->ispStart, 0xEC00);
  EXPECT_EQ(list->ispEnd, 0xFBFF);
  EXPECT_TRUE(list->apUpToIsp);
  EXPECT_EQ(FindModel("FamilyVXA", "VXB03H"), nullptr);
  EXPECT_EQ(FindModel("FamilyVXE", ""), nullptr);
}

TEST(Catalogue, EveryRowKeepsItsFamilysRules) {
  int rows = 0;
  for (const DeviceModel& row : CatalogueRows()) {
    SCOPED_TRACE(row.names[0]);
    ++rows;
    EXPECT_EQ(row.blockSize, 512);
    EXPECT_EQ(std::string(row.identity).size(), 4U);
    EXPECT_LT(row.apEnd, 0x10000);
    EXPECT_LT(row.ispStart, row.ispEnd);
    // Without a data area the AP area reaches the ISP area.
    EXPECT_EQ(row.apUpToIsp, row.apEnd + 1 >= row.ispStart);
    if (row.family == &family::kVXE) {
      EXPECT_EQ(std::string(row.identity), "0055");
      EXPECT_EQ(row.userEnd, row.apEnd);
      EXPECT_EQ(row.ispStart, 0xE000);
    } else {
      EXPECT_EQ(row.userEnd, row.ispEnd);
    }
  }
  EXPECT_EQ(rows, 6 + 9 + 6 + 9 + 5);
}

TEST(Catalogue, TreeHoldsOneFamilyAndEighteenModelsUnlessExtraFamiliesAreShown) {
  const auto tree = BuildDeviceTree(false);
  ASSERT_EQ(tree.size(), 19U);
  EXPECT_EQ(tree[0].key, "FamilyVXB");
  EXPECT_EQ(tree[0].text, "VXA series");
  const char* order[] = {"VXA01H", "VXA02H", "VXA04H", "VXA05H", "VXB03H", "VXB04H",
                         "VXB05H", "VXB06H", "VXA06H", "VXA01L", "VXA02L", "VXA04L",
                         "VXA05L", "VXB03L", "VXB04L", "VXB05L", "VXB06L", "VXA06L"};
  for (std::size_t i = 0; i < 18; ++i) {
    EXPECT_EQ(tree[i + 1].key, order[i]);
    EXPECT_EQ(tree[i + 1].text, order[i]);
    EXPECT_EQ(tree[i + 1].parentKey, "FamilyVXB");
    EXPECT_NE(FindModel("FamilyVXB", order[i]), nullptr);
  }

  const auto extra = BuildDeviceTree(true);
  ASSERT_EQ(extra.size(), 3U + 18 + 12 + 18);
  EXPECT_EQ(extra[1].key, "FamilyVXC");
  EXPECT_EQ(extra[1].text, "VXC series");
  EXPECT_EQ(extra[2].key, "FamilyVXD");
  for (const TreeNode& node : extra) {
    if (!node.parentKey.empty()) {
      EXPECT_NE(FindModel(node.parentKey, node.key), nullptr);
    }
  }
  EXPECT_EQ(extra[21].key, "VXC01H");
  EXPECT_EQ(extra[27].key, "VXC01L");
  EXPECT_EQ(extra[33].key, "VXD01H");
  EXPECT_EQ(extra.back().key, "VXD09L");
}

TEST(Catalogue, ModelListNamesAreTheVxaThenTheVxeModels) {
  const auto names = ModelListNames();
  ASSERT_EQ(names.size(), 17U);
  EXPECT_EQ(names[0], "VXA01H");
  EXPECT_EQ(names[5], "VXA06H");
  EXPECT_EQ(names[6], "VXA01L");
  EXPECT_EQ(names[11], "VXA06L");
  EXPECT_EQ(names[12], "VXE01L");
  EXPECT_EQ(names[16], "VXE05L");
  for (std::size_t i = 0; i < names.size(); ++i) {
    const char* familyKey = i < 12 ? "FamilyVXA" : "FamilyVXE";
    EXPECT_NE(FindModel(familyKey, names[i]), nullptr) << names[i];
  }
}

}  // namespace
}  // namespace kvr
