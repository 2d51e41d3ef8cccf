#include "ispdemo/isp_client.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <fstream>
#include <string>
#include <vector>

#include "demo_model.h"
#include "ispdemo/isp_image.h"
#include "ispdemo/isp_tool.h"

namespace kvr::isp {
namespace {

using test::DemoModel;

TEST(IspProtocol, FramesAndCheckValue) {
  const std::string digits = "123456789";
  EXPECT_EQ(Crc16(reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()), 0x29B1);
  EXPECT_EQ(EncodeRequest(Command::Identify), (Bytes{0xA5, 0x01, 0x00, 0x2E, 0x3E}));
  // As the demo answered identify in the 8051 simulator.
  EXPECT_EQ(EncodeAnswer(0x01, 0x00, {0x40, 0x05, 0x10, 0x04, 0xF8, 0x40}),
            (Bytes{0x5A, 0x01, 0x00, 0x06, 0x40, 0x05, 0x10, 0x04, 0xF8, 0x40, 0x0E, 0xF8}));
  EXPECT_TRUE(EncodeRequest(Command::Program, Bytes(67, 0)).empty());
}

// The outcome of the last byte.
template <typename Parser>
ParseOutcome Feed(Parser& parser, const Bytes& bytes) {
  auto outcome = ParseOutcome::Incomplete;
  for (auto b : bytes) outcome = parser.Feed(b);
  return outcome;
}

TEST(IspProtocol, AnswerParserSkipsNoiseAndRefusesDamage) {
  AnswerParser parser;
  Bytes answer = EncodeAnswer(0x04, 0x00, {0x12, 0x34, 0xAA});
  EXPECT_EQ(Feed(parser, {0x00, 0xFF, 0x13}), ParseOutcome::Incomplete);
  EXPECT_EQ(Feed(parser, answer), ParseOutcome::Complete);
  EXPECT_EQ(parser.answer().command, 0x04);
  EXPECT_EQ(parser.answer().data, (Bytes{0x12, 0x34, 0xAA}));
  answer[5] ^= 0x40;
  EXPECT_EQ(Feed(parser, answer), ParseOutcome::Corrupt);
  EXPECT_EQ(Feed(parser, {0x5A, 0x01, 0x00, 67}), ParseOutcome::Corrupt);  // impossible length
  EXPECT_EQ(StatusText(0x07), "sector not blank after erase");
  EXPECT_EQ(StatusText(0x3C), "status 3Ch");
}

// Requests, one byte shorter in their head than answers, as the demo reads them.
TEST(IspProtocol, RequestParserSkipsNoiseAndRefusesDamage) {
  RequestParser parser;
  Bytes request = EncodeRequest(Command::Program, {0x00, 0x40, 0x11, 0x22});
  EXPECT_EQ(Feed(parser, {0x5A, 0x00}), ParseOutcome::Incomplete);
  EXPECT_EQ(Feed(parser, request), ParseOutcome::Complete);
  EXPECT_EQ(parser.command(), 0x03);
  EXPECT_EQ(parser.data(), (Bytes{0x00, 0x40, 0x11, 0x22}));
  EXPECT_EQ(Feed(parser, EncodeRequest(Command::Run)), ParseOutcome::Complete);
  EXPECT_TRUE(parser.data().empty());
  request[6] ^= 0x01;
  EXPECT_EQ(Feed(parser, request), ParseOutcome::Corrupt);
  EXPECT_EQ(Feed(parser, {0xA5, 0x03, 67}), ParseOutcome::Corrupt);  // impossible length
}

class ClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vp.port.SelectPort(1);
    vp.port.Open();
    model.Attach(vp.port);
  }
  // Frames the station sent, decoded to their commands.
  std::vector<std::uint8_t> Commands() const {
    std::vector<std::uint8_t> commands;
    for (const auto& [command, data] : model.requests) commands.push_back(command);
    return commands;
  }

  VirtualPlatform vp;
  DemoModel model;
  IspClient client{vp.port, vp.pump, vp.timers, LineSettings{38400, true}};
  std::string error;
};

TEST_F(ClientTest, IdentifyReadsTheDemo) {
  const auto id = client.Identify(error);
  ASSERT_TRUE(id) << error;
  EXPECT_EQ(id->model, 0x4005);
  EXPECT_EQ(id->version, 0x10);
  EXPECT_EQ(id->sectors, 124);
  EXPECT_EQ(id->base, 0xF800);
  EXPECT_EQ(id->EraseEnd(), 0xF800);
  ASSERT_EQ(vp.port.Written().size(), 1u);
  EXPECT_EQ(vp.port.Written()[0], EncodeRequest(Command::Identify));
}

TEST_F(ClientTest, SilenceIsTriedThreeTimesThenReported) {
  model.dropAnswers = 3;
  EXPECT_FALSE(client.Identify(error));
  EXPECT_EQ(error, "identify: no answer");
  EXPECT_EQ(vp.port.Written().size(), 3u);
  // 5 + 72 bytes of 11 bits at 38400 baud, and 100 ms for the chip: 123 ms an attempt.
  EXPECT_EQ(client.TransferMs(5) + client.TransferMs(72), 23);
  EXPECT_NEAR(vp.clock.NowMs(), 3 * 123, 1);

  // A slow adapter's extra wait lengthens every attempt by as much.
  IspClient patient{vp.port, vp.pump, vp.timers, LineSettings{38400, true, 500}};
  model.dropAnswers = 3;
  const double before = vp.clock.NowMs();
  EXPECT_FALSE(patient.Identify(error));
  EXPECT_NEAR(vp.clock.NowMs() - before, 3 * 623, 1);
}

TEST_F(ClientTest, LineFaultsAreRetriedRefusalsAreNot) {
  model.garbleAnswers = 2;
  model.damagedRequests = 1;
  ASSERT_TRUE(client.Identify(error)) << error;  // damaged and garbled: sent twice
  ASSERT_TRUE(client.Identify(error)) << error;  // garbled: sent twice
  EXPECT_EQ(vp.port.Written().size(), 4u);

  model.refuse = {Command::Program, Status::OutOfRange};
  EXPECT_FALSE(client.Program(0xF7F0, Bytes(32, 0x11), error));
  EXPECT_EQ(error, "program F7F0: the chip answered address out of range at F7F0");
  EXPECT_EQ(vp.port.Written().size(), 5u);

  model.damagedRequests = 3;
  EXPECT_FALSE(client.Erase(124, error));
  EXPECT_EQ(error, "erase: the chip answered check value wrong");
}

TEST_F(ClientTest, StaleAnswerOfAnotherRequestIsIgnored) {
  vp.port.DeliverAfter(500, EncodeAnswer(0x04, 0x00, {0x00, 0x00, 0x01}));
  ASSERT_TRUE(client.Identify(error)) << error;
  Bytes bytes;
  ASSERT_TRUE(client.Read(0x0000, 3, bytes, error)) << error;
  EXPECT_EQ(bytes, (Bytes{0x00, 0x00, 0x00}));
}

IspImage ImageOf(std::initializer_list<std::pair<std::int32_t, std::uint8_t>> bytes) {
  IspImage image;
  for (auto [address, value] : bytes) image.Set(address, value);
  return image;
}

TEST_F(ClientTest, ToolProgramsErasesFirstAndVerifies) {
  std::vector<std::string> lines;
  std::vector<std::string> progress;
  IspTool tool(
      client, [&](const std::string& line) { lines.push_back(line); },
      [&](const std::string& what, int done, int total) {
        progress.push_back(what + " " + std::to_string(done) + "/" + std::to_string(total));
      });
  IspImage image;
  for (int a = 0x10; a < 0x90; ++a) image.Set(a, static_cast<std::uint8_t>(a));
  image.Set(0x400, 0xFF);  // erased already: nothing to send, but still verified
  image.Set(0x401, 0xFF);
  ASSERT_TRUE(tool.Program(image));

  EXPECT_EQ(Commands(), (std::vector<std::uint8_t>{1, 2, 3, 3, 3, 4, 4, 4, 4}));
  const auto& first = model.requests[2].second;  // block 0000: 10h FFh bytes, then data
  ASSERT_EQ(first.size(), 2u + 64);
  EXPECT_EQ(first[2], 0xFF);
  EXPECT_EQ(first[2 + 0x10], 0x10);
  for (int a = 0x10; a < 0x90; ++a) EXPECT_EQ(model.flash[a], a);
  EXPECT_EQ(lines.front(),
            "ISP demo 1.0 on model 4005 at F800: erase clears 0000-F7FF (124 sectors)");
  EXPECT_EQ(lines[1], "Erased 0000-F7FF");
  EXPECT_EQ(lines[2], "Programmed 4 blocks, 0010-0401");
  EXPECT_EQ(lines.back(), "Verified 130 bytes, 0010-0401");
  EXPECT_EQ(progress.front(), "Erasing 0/124");
  EXPECT_EQ(progress[3], "Programming 1/4");
  EXPECT_EQ(progress.back(), "Verifying 4/4");
}

TEST_F(ClientTest, ToolRefusesWhatDoesNotFitAndReportsMismatches) {
  std::vector<std::string> lines;
  IspTool tool(
      client, [&](const std::string& line) { lines.push_back(line); }, [](auto&&...) {});
  EXPECT_FALSE(tool.Program(ImageOf({{0x0000, 1}, {0xF800, 2}})));
  EXPECT_EQ(lines.back(),
            "Failed: the file reaches F800, beyond F7FF, the last address the demo erases");
  EXPECT_EQ(Commands(), (std::vector<std::uint8_t>{1}));  // nothing erased

  model.flash[0x1234] = 0x00;
  EXPECT_FALSE(tool.Verify(ImageOf({{0x1233, 0x00}, {0x1234, 0x5A}})));
  EXPECT_EQ(lines.back(), "Failed: verify: 1234 holds 00, the file 5A");

  model.dropAnswers = 3;
  EXPECT_FALSE(tool.Erase());
  EXPECT_EQ(lines.back(),
            "Failed: identify: no answer (is the ISP demo running, at this baud rate and parity?)");

  model.refuse = {Command::Erase, Status::NotBlank};
  EXPECT_FALSE(tool.Erase());
  EXPECT_EQ(lines.back(), "Failed: erase: the chip answered sector not blank after erase");
  EXPECT_TRUE(tool.Run());
  EXPECT_EQ(lines.back(), "The application at 0000 is running");
}

class ImageFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& content) {
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  IspImage image;
  std::string error;
};

TEST_F(ImageFileTest, IntelHexWithMarkBlanksAndAddressRecords) {
  const std::string path = Write("bom.hex", "\xEF\xBB\xBF:03000000020800F3  \r\n\n:00000001FF\t\n");
  ASSERT_TRUE(LoadIspImage(path, image, error)) << error;
  EXPECT_EQ(image.first, 0);
  EXPECT_EQ(image.last, 2);
  EXPECT_EQ(image.bytes[1], 0x08);
  EXPECT_FALSE(image.present[3]);

  IspImage linear;
  ASSERT_TRUE(ParseIntelHex(":020000040000FA\n:02FFFE00AABB9C\n:00000001FF\n", linear, error))
      << error;
  EXPECT_EQ(linear.bytes[0xFFFF], 0xBB);
  // Segment 1000h puts the next data at 10010h, beyond the code space.
  IspImage segment;
  EXPECT_FALSE(ParseIntelHex(":020000021000EC\n:01001000559A\n:00000001FF\n", segment, error));
  EXPECT_EQ(error, "line 2: data beyond FFFFh");
}

TEST_F(ImageFileTest, BrokenFilesGiveClearMessages) {
  EXPECT_FALSE(ParseIntelHex(":03000000020800\n:00000001FF\n", image, error));
  EXPECT_EQ(error, "line 1: the length does not match the record");
  EXPECT_FALSE(ParseIntelHex(":03000000020800F4\n:00000001FF\n", image, error));
  EXPECT_EQ(error, "line 1: checksum wrong");
  EXPECT_FALSE(ParseIntelHex(":0300000002G800F3\n", image, error));
  EXPECT_EQ(error, "line 1: not a hexadecimal digit");
  EXPECT_FALSE(ParseIntelHex("hello\n", image, error));
  EXPECT_EQ(error, "line 1: not an Intel HEX record");
  EXPECT_FALSE(ParseIntelHex(":03000000020800F3\n", image, error));
  EXPECT_EQ(error, "no end-of-file record: the file is cut short");
  EXPECT_FALSE(ParseIntelHex(":00000001FF\n:03000000020800F3\n", image, error));
  EXPECT_EQ(error, "line 2: data after the end-of-file record");
  IspImage none;
  EXPECT_FALSE(ParseIntelHex(":00000001FF\n", none, error));
  EXPECT_EQ(error, "the file holds no data");

  const std::string missing = ::testing::TempDir() + "no-such.hex";
  EXPECT_FALSE(LoadIspImage(missing, image, error));
  EXPECT_EQ(error, "no such file: " + missing);
  const std::string empty = Write("empty.bin", "");
  EXPECT_FALSE(LoadIspImage(empty, image, error));
  EXPECT_EQ(error, empty + ": the file is empty");
  const std::string big = Write("big.bin", std::string(0x10001, 'x'));
  EXPECT_FALSE(LoadIspImage(big, image, error));
  EXPECT_EQ(error, big + ": the file is larger than 64 KB");
  // Refused by its size before it is read: a sparse file of 2 GB takes no memory.
  const std::string huge = Write("huge.hex", "");
  std::filesystem::resize_file(huge, std::uintmax_t{2} << 30);
  EXPECT_FALSE(LoadIspImage(huge, image, error));
  EXPECT_EQ(error, huge + ": the file is larger than 4 MB");
  std::filesystem::remove(huge);

  const std::string binary = Write("app.bin", std::string("\x02\x00\x10", 3));
  ASSERT_TRUE(LoadIspImage(binary, image, error)) << error;
  EXPECT_EQ(image.first, 0);
  EXPECT_EQ(image.last, 2);
  EXPECT_EQ(image.bytes[0], 0x02);
}

}  // namespace
}  // namespace kvr::isp
