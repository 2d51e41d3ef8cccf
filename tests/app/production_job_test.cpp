// Production jobs: saved on one station, opened on another with every control as it was, the
// image's checksum guarding the line, malformed files refused with a reason, and operator mode
// keeping the job as it is.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/station_fixture.h"
#include "support/intel_hex.h"

namespace kvr {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A 2 KB image whose bytes depend on `seed`.
std::string Image(int seed = 1) {
  std::string image(0x800, '\0');
  for (std::size_t a = 0; a < image.size(); ++a) image[a] = static_cast<char>(a * 13 + seed);
  return image;
}

// Another station of the line: a platform and settings of its own.
struct OtherStation {
  VirtualPlatform vp;
  Station station{vp.platform};
};

class JobTest : public StationTest {
 protected:
  JobTest() {
    dir_ = fs::temp_directory_path() /
           ("kvr-job-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  ~JobTest() override { fs::remove_all(dir_); }

  // Opens the image as the Open file command does.
  void Load(Station& on, VirtualPlatform& platform, const fs::path& file) {
    platform.dialogs.ExpectOpenFile(file.string());
    on.OnLoadFileClick();
  }
  // A job of this station's VXA05H, with every setting away from its default.
  fs::path SetUpJob(const fs::path& image) {
    WriteText(image, test::IntelHex(Image()));
    EXPECT_TRUE(station.ChooseModel("VXA05H", true));
    station.Combo2.index = 1;  // 1.0k
    station.OnIspSizeChange();
    station.Option[0].selected = 1;
    station.Option[6].selected = 0;
    station.Text4.text = "0";
    station.OnFillByteClick(0);
    station.Check6.checked = true;
    station.DeferredSave();
    station.texAuto_Increase[0].text = "7FFF";
    station.texAuto_Increase[1].text = "4";
    station.texAuto_Increase[3].text = "2";
    station.optAuto_Increase.selected = 1;
    station.OnSerialFieldChange();
    Load(station, vp, image);
    station.cheAuto_Increase.checked = true;
    station.OnAutoIncreaseClick();
    EXPECT_FALSE(station.SetAutoSequence({"Erase MCU", "Program File", "Verify Program"}));
    station.txtReportFile.text = (dir_ / "line.csv").string();
    station.OnReportFormatClick(0);
    station.OnRepeatDelayChange(3);
    station.txtJobProduct.text = "Thermostat, rev. B";
    station.txtJobNote.text = "Serial number at 7FFF";
    const fs::path job = dir_ / "line.kvrjob";
    EXPECT_TRUE(station.SaveJobFile(job.string())) << station.LastJobError;
    return job;
  }

  fs::path dir_;
};

TEST_F(JobTest, SavedOnOneStationItOpensOnAnotherWithEveryControlEqual) {
  const fs::path job = SetUpJob(dir_ / "fw.hex");
  const nlohmann::json saved = nlohmann::json::parse(ReadText(job));
  EXPECT_EQ(saved["format"], 1);
  EXPECT_EQ(saved["image"]["file"], "fw.hex") << "beside the job: its name alone";
  EXPECT_EQ(saved["report"]["file"], "line.csv");
  EXPECT_EQ(saved["serial"].dump(),
            R"({"address":"7FFF","bytes":4,"enabled":true,"mode":"dec","step":2})");

  OtherStation other;
  ASSERT_TRUE(other.station.OpenJobFile(job.string(), false)) << other.station.LastJobError;
  const Station& b = other.station;
  EXPECT_EQ(b.CaptureJob(), station.CaptureJob());
  EXPECT_EQ(b.ModelName(), "VXA05H");
  EXPECT_TRUE(b.ModelChosenFromList());
  EXPECT_EQ(b.Combo2.Text(), "1.0k");
  for (std::size_t row = 0; row < 8; ++row)
    EXPECT_EQ(b.Option[row].selected, station.Option[row].selected) << row;
  EXPECT_EQ(b.FillByte(), 0xFF);
  EXPECT_TRUE(b.Check6.checked);
  EXPECT_EQ(b.LoadedFileName, (dir_ / "fw.hex").string());
  EXPECT_EQ(b.ProgramEnd, station.ProgramEnd);
  for (std::int32_t a = 0; a <= 0x7FFF; ++a)
    ASSERT_EQ(b.ImageBuffer.Get(a), station.ImageBuffer.Get(a)) << a;
  EXPECT_TRUE(b.cheAuto_Increase.checked && b.SerialActive);
  EXPECT_EQ(b.texAuto_Increase[3].text, "2");
  EXPECT_EQ(b.optAuto_Increase.selected, 1);
  EXPECT_EQ(b.txtAuto[9].text, "Program File");
  EXPECT_EQ(b.txtReportFile.text, (dir_ / "line.csv").string());
  EXPECT_EQ(b.comDalay_ReDownLoad.index, 3);
  EXPECT_EQ(b.JobProductName(), "Thermostat, rev. B");
  EXPECT_EQ(b.txtJobNote.text, "Serial number at 7FFF");
  EXPECT_TRUE(b.JobInForce());
  EXPECT_EQ(b.JobTitle(), "Thermostat, rev. B (line.kvrjob)");
  EXPECT_EQ(b.Job->fileCrc32, station.Job->fileCrc32);
  // The next number stays with each line's settings.
  EXPECT_EQ(other.vp.settings.Read(Station::kApplication, "Auto_Increase", "next_value", "-"),
            "00000000");
}

TEST_F(JobTest, AJobOfEachModelFamilyComesBackAsItWasSaved) {
  WriteText(dir_ / "small.hex", test::IntelHex(std::string(256, '\x5A')));
  const struct {
    const char* model;
    bool fromList;
  } models[] = {{"VXE02L", true},  {"VXA06H", true},  {"VXA04H", false},
                {"VXB05L", false}, {"VXC03H", false}, {"VXD09H", false}};
  for (const auto& [model, fromList] : models) {
    OtherStation a;
    a.station.SetShowExtraFamilies(true);
    ASSERT_TRUE(a.station.ChooseModel(model, fromList)) << model;
    a.station.Text4.text = "0";
    a.station.DeferredSave();
    // The last row the model shows, the other way round.
    std::size_t last = 0;
    for (std::size_t row = 0; row < a.station.Picture2.size(); ++row)
      if (a.station.Picture2[row].visible) last = row;
    a.station.Option[last].selected ^= 1;
    a.station.comWDT_Prescalar.index = 2;
    a.station.function_enable[1].checked = true;
    Load(a.station, a.vp, dir_ / "small.hex");
    const std::string job = (dir_ / (std::string(model) + ".kvrjob")).string();
    ASSERT_TRUE(a.station.SaveJobFile(job)) << model << ": " << a.station.LastJobError;

    OtherStation b;
    ASSERT_TRUE(b.station.OpenJobFile(job, false)) << model << ": " << b.station.LastJobError;
    EXPECT_EQ(b.station.CaptureJob(), a.station.CaptureJob()) << model;
    EXPECT_EQ(b.station.SelectedDevice.IdentityCode, a.station.SelectedDevice.IdentityCode)
        << model;
    EXPECT_EQ(b.station.Option[last].selected, a.station.Option[last].selected) << model;
    // A peripheral box changes what the chip gets: the setup is the job's no more.
    EXPECT_TRUE(b.station.JobInForce()) << model;
    b.station.function_enable[1].checked = false;
    EXPECT_FALSE(b.station.JobInForce()) << model;
  }
}

TEST_F(JobTest, TheImageTravelsWithTheJobAndItsChecksumGuardsTheLine) {
  const fs::path job = SetUpJob(dir_ / "fw.hex");
  // Job and image moved together to another folder: the job finds its image there.
  const fs::path moved = dir_ / "moved";
  fs::create_directories(moved);
  fs::rename(job, moved / "line.kvrjob");
  fs::rename(dir_ / "fw.hex", moved / "fw.hex");
  {
    OtherStation other;
    ASSERT_TRUE(other.station.OpenJobFile((moved / "line.kvrjob").string(), false))
        << other.station.LastJobError;
    EXPECT_EQ(other.station.LoadedFileName, (moved / "fw.hex").string());
  }

  // One byte of the image changed since: the job is refused, naming the file and both sums.
  std::string text = test::IntelHex(Image(2));
  WriteText(moved / "fw.hex", text);
  const std::string now =
      Crc32Text(Crc32(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  OtherStation other;
  other.vp.dialogs.ExpectOpenFile((moved / "line.kvrjob").string());
  other.vp.dialogs.ExpectInformation();
  other.station.OnOpenJobClick(false);
  const std::string expected =
      "The image file has changed since the job was saved.\r\n" + (moved / "fw.hex").string() +
      "\r\nCRC-32 in the job: " + Crc32Text(station.Job->job.imageCrc32) + ", now: " + now;
  EXPECT_EQ(other.vp.dialogs.ShownDialogs().back().text, expected);
  EXPECT_FALSE(other.station.FileLoaded);
  EXPECT_FALSE(other.station.Job);

  // An image that lies elsewhere is named with its whole path.
  fs::create_directories(dir_ / "images");
  WriteText(dir_ / "images" / "fw.hex", test::IntelHex(Image()));
  Load(station, vp, dir_ / "images" / "fw.hex");
  const fs::path elsewhere = dir_ / "moved" / "other.kvrjob";
  ASSERT_TRUE(station.SaveJobFile(elsewhere.string())) << station.LastJobError;
  EXPECT_EQ(nlohmann::json::parse(ReadText(elsewhere))["image"]["file"],
            (dir_ / "images" / "fw.hex").string());

  // "Reopen file every time" reads the job's image afresh for each chip, under the same guard.
  station.OnReloadFileClick(true);
  WriteText(dir_ / "images" / "fw.hex", text);
  station.OnFunctionClick(4);  // "Program File"
  vp.dialogs.ExpectInformation();
  station.OnProgramClick();
  EXPECT_EQ(station.LastRun.result, -1);
  EXPECT_EQ(vp.dialogs.ShownDialogs().back().text.substr(0, 51),
            "The image file has changed since the job was saved.");
  EXPECT_TRUE(writer.Flash()[0] == 0xFF) << "nothing was programmed";
}

TEST_F(JobTest, AMalformedJobIsRefusedWithWhatIsWrong) {
  const fs::path job = SetUpJob(dir_ / "fw.hex");
  const std::string text = ReadText(job);
  const nlohmann::ordered_json good = nlohmann::ordered_json::parse(text);
  using Change = std::function<void(nlohmann::ordered_json&)>;
  const std::pair<Change, std::string> cases[] = {
      {[](auto& j) { j["fill"] = 255; },
       "In the job file, \"fill\" must be one of \"FF\", \"00\"."},
      {[](auto& j) { j["serial"]["bytes"] = "4"; },
       "In the job file, \"serial.bytes\" must be a whole number from 0 to 32767."},
      {[](auto& j) {
         j["options"]["rows"] = {0, 2};
       },
       "In the job file, \"options.rows\" must be a list of at most 9 choices 0 or 1."},
      {[](auto& j) { j["model"] = "VXA05H"; }, "In the job file, \"model\" must be an object."},
      {[](auto& j) { j["image"]["crc32"] = "1234"; },
       "In the job file, \"image.crc32\" must be 8 hexadecimal digits."},
      {[](auto& j) { j["colour"] = "red"; }, "The job file holds the unknown key \"colour\"."},
      {[](auto& j) { j["model"]["family"] = "VXA"; },
       "The job file holds the unknown key \"model.family\"."},
      {[](auto& j) { j.erase("repeat_delay"); }, "The job file lacks \"repeat_delay\"."},
      {[](auto& j) {
         j["format"] = 2;
         j["checksum_of_everything"] = true;
       },
       "The job file has format 2, written by a later station; this station reads format 1."},
      {[](auto& j) { j = nlohmann::ordered_json::array(); },
       "The job file holds no job: it is not a JSON object."},
  };
  for (const auto& [change, message] : cases) {
    nlohmann::ordered_json changed = good;
    change(changed);
    std::string error;
    EXPECT_FALSE(ParseJob(changed.dump(2), true, error));
    EXPECT_EQ(error, message);
  }
  std::string error;
  EXPECT_FALSE(ParseJob(text.substr(0, text.size() / 2), true, error));
  EXPECT_EQ(error.rfind("The job file is not valid JSON: parse error at line ", 0), 0U) << error;
  EXPECT_TRUE(ParseJob(text, true, error));

  // What only the station can judge is refused before any control changes.
  const std::pair<Change, std::string> refusals[] = {
      {[](auto& j) { j["model"]["name"] = "VXZ99H"; },
       "The job names the model VXZ99H, which the model list does not hold."},
      {[](auto& j) { j["sequence"][1] = "Program Everything"; },
       "The job's sequence names the step \"Program Everything\", which does not exist."},
      {[this](auto& j) { j["image"]["file"] = (dir_ / "gone.hex").string(); },
       "The job's image file is missing: " + (dir_ / "gone.hex").string()},
  };
  OtherStation other;
  for (const auto& [change, message] : refusals) {
    nlohmann::ordered_json changed = good;
    change(changed);
    WriteText(dir_ / "changed.kvrjob", changed.dump(2));
    EXPECT_FALSE(other.station.OpenJobFile((dir_ / "changed.kvrjob").string(), false));
    EXPECT_EQ(other.station.LastJobError, message);
    EXPECT_EQ(other.station.ModelName(), "VXA01H");
  }
  EXPECT_FALSE(other.station.OpenJobFile((dir_ / "none.kvrjob").string(), false));
  EXPECT_EQ(other.station.LastJobError,
            "There is no job file " + (dir_ / "none.kvrjob").string() + ".");
}

TEST_F(JobTest, OnlyWhatTheDiskHoldsBecomesAJob) {
  EXPECT_FALSE(station.SaveJobFile((dir_ / "a.kvrjob").string()));
  EXPECT_EQ(station.LastJobError, "A job needs its image: open the file first.");

  // A second file opened on top of the first makes a buffer that no file is.
  WriteText(dir_ / "a.hex", test::IntelHex(Image(1)));
  WriteText(dir_ / "b.hex", test::IntelHex(std::string(16, '\x22'), 0x0800));
  Load(station, vp, dir_ / "a.hex");
  Load(station, vp, dir_ / "b.hex");
  EXPECT_FALSE(station.SaveJobFile((dir_ / "a.kvrjob").string()));
  EXPECT_EQ(station.LastJobError.rfind("The buffer is not the file as it lies on the disk", 0), 0U);
  // The same file again at the same place is still that file.
  Load(station, vp, dir_ / "a.hex");
  station.Check6.checked = true;
  Load(station, vp, dir_ / "a.hex");
  station.Check6.checked = false;
  Load(station, vp, dir_ / "a.hex");
  EXPECT_TRUE(station.SaveJobFile((dir_ / "a.kvrjob").string())) << station.LastJobError;

  // The file changed on the disk after it was opened: the job would name other bytes.
  WriteText(dir_ / "a.hex", test::IntelHex(Image(3)));
  EXPECT_FALSE(station.SaveJobFile((dir_ / "a.kvrjob").string()));
  EXPECT_EQ(station.LastJobError,
            "The image file has changed since it was opened: open it again, then save the job.");
}

// On a line database the job's product is the line, unless the station was given another; its
// records there name the job too, and operator mode keeps the database as it is.
TEST_F(JobTest, AJobsProductNamesItsLineInTheLineDatabase) {
  station.txtLineDatabase.text = "sqlite:/srv/line.db";
  station.OnLineDatabaseChange();
  EXPECT_EQ(station.LineName(), "default");
  const fs::path job = SetUpJob(dir_ / "fw.hex");
  ASSERT_TRUE(station.SaveJobFile(job.string()));
  ASSERT_TRUE(station.OpenJobFile(job.string(), true)) << station.LastJobError;
  const std::string product = "Thermostat, rev. B";
  EXPECT_EQ(station.LineName(), product);
  EXPECT_FALSE(station.txtLineDatabase.enabled);
  station.OnProgramClick();
  ASSERT_EQ(station.LastRun.result, 0) << station.textMsg.Text();
  const auto& db = vp.lineDatabases.database;
  ASSERT_EQ(db.records.size(), 1U);
  EXPECT_EQ(db.records[0].line, product);
  EXPECT_EQ(db.records[0].record.jobProduct, product);
  EXPECT_EQ(db.records[0].record.jobCrc32, Crc32Text(station.Job->fileCrc32));
  EXPECT_EQ(db.lines.at(product).goodCount, 1);
}

TEST_F(JobTest, OperatorModeKeepsTheJobAndRecordsNameItWhileItIsInForce) {
  const fs::path job = SetUpJob(dir_ / "fw.hex");
  station.cheAuto_Increase.checked = false;
  station.OnAutoIncreaseClick();
  ASSERT_TRUE(station.SaveJobFile(job.string()));
  ASSERT_TRUE(station.OpenJobFile(job.string(), true)) << station.LastJobError;
  const std::string product = "Thermostat, rev. B";
  EXPECT_EQ(station.JobTitle(), product + " (line.kvrjob), operator mode");
  const bool* locked[] = {&station.txtDevice.enabled,
                          &station.combMcuModel.enabled,
                          &station.Combo2.enabled,
                          &station.Text4.enabled,
                          &station.optFillbyte.enabled,
                          &station.comLoadFile.enabled,
                          &station.Option[0].enabled,
                          &station.txtAuto[9].enabled,
                          &station.comAuto[2].enabled,
                          &station.cheAuto_Increase.enabled,
                          &station.texAuto_Increase[1].enabled,
                          &station.txtFuction[4].enabled,
                          &station.com_write_ISP_demo.enabled,
                          &station.txtReportFile.enabled};
  const bool* left[] = {&station.comDownload.enabled, &station.comReDownload.enabled,
                        &station.combCommPort.enabled};
  auto expectLocked = [&](const char* when) {
    for (const bool* enabled : locked) EXPECT_FALSE(*enabled) << when;
    for (const bool* enabled : left) EXPECT_TRUE(*enabled) << when;
  };
  expectLocked("opened");
  EXPECT_TRUE(station.txtFuction[0].highlighted) << "Program runs the job's sequence";

  station.OnProgramClick();
  ASSERT_EQ(station.LastRun.result, 0) << station.textMsg.Text();
  expectLocked("after a run");
  // The handlers refuse too, whoever calls them.
  station.OnFillByteClick(1);
  station.OnTreeNodeClick("VXB03H");
  station.EditAutoSequence(2);
  station.OnBufferMouseDown(station.txtBuffer2.text.find(" 000000   ") + 10);
  ASSERT_EQ(station.txtBuffer2.selLength, 1U);
  station.OnBufferKeyPress('5');
  EXPECT_EQ(station.FillByte(), 0xFF);
  EXPECT_EQ(station.ModelName(), "VXA05H");
  EXPECT_EQ(station.txtAuto[8].text, "Erase MCU");
  EXPECT_FALSE(station.BufferChanged);
  EXPECT_TRUE(station.JobInForce());

  vp.dialogs.ExpectQuestion(false);
  EXPECT_FALSE(station.OnLeaveOperatorModeClick());
  expectLocked("the operator said No");
  vp.dialogs.ExpectQuestion(true);
  EXPECT_TRUE(station.OnLeaveOperatorModeClick());
  for (const bool* enabled : locked) EXPECT_TRUE(*enabled);
  EXPECT_EQ(station.JobTitle(), product + " (line.kvrjob)");

  // A setup changed after the job was opened is no longer the job's.
  station.OnFillByteClick(1);
  EXPECT_EQ(station.JobTitle(), product + " (line.kvrjob), changed");
  station.OnProgramClick();
  std::ifstream in(dir_ / "line.csv");
  std::vector<std::vector<std::string>> records;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::stringstream record(line + ",");
    for (std::string field; std::getline(record, field, ',');) fields.push_back(field);
    records.push_back(fields);
  }
  ASSERT_EQ(records.size(), 3U);
  // The product's comma is quoted: the last two fields stand after it.
  const std::vector<std::string>& first = records[1];
  EXPECT_EQ(first[first.size() - 3] + "," + first[first.size() - 2], "\"" + product + "\"");
  EXPECT_EQ(first.back(), Crc32Text(station.Job->fileCrc32));
  EXPECT_EQ(records[2][records[2].size() - 2], "");
  EXPECT_EQ(records[2].back(), "");
}

}  // namespace
}  // namespace kvr
