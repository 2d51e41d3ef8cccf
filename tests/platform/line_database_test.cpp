// The line database on its real engines, SQLite in a temporary file and PostgreSQL on a server of
// the test's own: one schema and one code path, so every case runs on both.

#include "platform/sql/sql_line_database.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <set>
#include <thread>

#include "support/pg_cluster.h"

namespace kvr {
namespace {

namespace fs = std::filesystem;

enum class Engine { Sqlite, Postgres };

class LineDatabaseTest : public ::testing::TestWithParam<Engine> {
 protected:
  static void SetUpTestSuite() { cluster_ = new test::PgCluster(); }
  static void TearDownTestSuite() {
    delete cluster_;
    cluster_ = nullptr;
  }

  void SetUp() override {
    static int made = 0;
    const std::string name = "line" + std::to_string(++made);
    if (GetParam() == Engine::Sqlite) {
      folder_ = fs::temp_directory_path() / ("kvr-line-" + std::to_string(::getpid()) + "-" + name);
      fs::create_directories(folder_);
      url_ = "sqlite:" + (folder_ / "line.db").string();
      return;
    }
    if (!cluster_->Ready())
      GTEST_SKIP() << "no PostgreSQL server for this test: " << cluster_->Why();
    std::string error;
    const auto admin = sql::ConnectPostgres(cluster_->Url(), error);
    ASSERT_TRUE(admin) << error;
    ASSERT_TRUE(admin->Run("CREATE DATABASE " + name)) << admin->Error();
    url_ = cluster_->Url(name);
  }
  void TearDown() override {
    if (!folder_.empty()) fs::remove_all(folder_);
  }

  std::unique_ptr<SqlLineDatabase> Made() {
    auto database = std::make_unique<SqlLineDatabase>(url_);
    EXPECT_TRUE(database->Init()) << database->LastError();
    return database;
  }
  // Hands out the pool's next number, as a station does.
  static std::string Reserve(LineDatabase& database, const std::string& line = "default") {
    std::string number;
    const auto pool = database.ChangePool(
        line, {"pc1", "COM1", 1, 0},
        [&](const std::optional<SerialPool>& stored, std::string& spent) {
          SerialPool pool = stored.value_or(SerialPool{"FFFF", "4", "0", "1", 1});
          number = spent = pool.next;
          pool.next = std::to_string(std::stoll(pool.next) + 1);
          return pool;
        });
    return pool ? number : "";
  }
  static LineRecord Chip(const std::string& serial, const std::string& result) {
    LineRecord r;
    r.station = {"pc1", "COM1 (/dev/ttyUSB0)", 1'700'000'000'000'000, 60};
    r.model = "VXA01H";
    r.identity = "F101";
    r.serial = serial;
    r.image = "fw.hex";
    r.imageCrc32 = "0123ABCD";
    r.result = result;
    r.failedStep = result == "OK" ? "" : "Verify Program";
    r.steps = R"([{"name":"Program File","ms":1200,"result":"OK"}])";
    r.totalMs = 1500;
    return r;
  }

  static test::PgCluster* cluster_;
  fs::path folder_;
  std::string url_;
};

test::PgCluster* LineDatabaseTest::cluster_ = nullptr;

TEST_P(LineDatabaseTest, RefusesADatabaseWithoutTheSchemaOrWithANewerOne) {
  SqlLineDatabase database(url_);
  if (GetParam() == Engine::Sqlite) {
    // A station never makes the file: a mistyped path would start a second line of its own.
    EXPECT_FALSE(database.Read("default"));
    EXPECT_NE(database.LastError().find("kvr-line URL init makes it"), std::string::npos)
        << database.LastError();
    EXPECT_FALSE(fs::exists(folder_ / "line.db"));
  } else {
    EXPECT_FALSE(database.Read("default"));
    EXPECT_EQ(database.LastError(),
              "the line database has no tables yet: set it up with kvr-line URL init");
  }
  ASSERT_TRUE(database.Init()) << database.LastError();
  ASSERT_TRUE(database.Init()) << "a second init leaves the schema as it is";
  EXPECT_EQ(Reserve(database), "0");

  std::string error;
  ASSERT_TRUE(sql::Connect(url_, false, error)->Run("UPDATE kvr_schema SET version = 2"));
  SqlLineDatabase later(url_);
  EXPECT_FALSE(later.Read("default"));
  EXPECT_EQ(later.LastError(),
            "the line database has schema version 2, newer than this program's 1: update the "
            "programs");
  EXPECT_FALSE(later.Init());
  EXPECT_EQ(later.LastError(),
            "the line database has schema version 2, newer than this program's 1: it is left as "
            "it is");
}

TEST_P(LineDatabaseTest, ANumberIsHandedOutOnceAndTheCountIsTheGoodRecords) {
  const auto database = Made();
  EXPECT_EQ(Reserve(*database), "0");
  EXPECT_EQ(Reserve(*database), "1");
  // Another line numbers its chips on its own.
  EXPECT_EQ(Reserve(*database, "other"), "0");

  // Stored back (an operator's typing), a number already spent is refused, with or without its
  // leading zeros, and nothing of the change is kept.
  const auto refused =
      database->ChangePool("default", {"pc2", "COM2", 2, 0},
                           [](const std::optional<SerialPool>& stored, std::string& spent) {
                             SerialPool pool = *stored;
                             spent = "0001";
                             pool.next = "7";
                             return pool;
                           });
  EXPECT_FALSE(refused);
  EXPECT_EQ(database->LastError(), "the number 0001 was handed out on line default before");
  EXPECT_EQ(database->Read("default")->pool->next, "2");

  LineRecord good = Chip("0", "OK");
  LineRecord failed = Chip("1", "failed");
  LineRecord second = Chip("2", "OK");
  ASSERT_TRUE(database->AddRecord("default", good));
  ASSERT_TRUE(database->AddRecord("default", failed));
  const auto after = database->AddRecord("default", second);
  ASSERT_TRUE(after);
  EXPECT_EQ(after->goodCount, 2);
  EXPECT_EQ(good.goodCount, 1);
  EXPECT_EQ(failed.goodCount, 1);
  EXPECT_EQ(second.goodCount, 2);
  EXPECT_EQ(database->Read("default")->goodCount, 2);
  EXPECT_EQ(database->Read("other")->goodCount, 0);

  // A count cleared by an operator is stored as it is.
  EXPECT_EQ(database->ChangeCount("default", [](std::int64_t) { return 0; }), 0);
  EXPECT_EQ(database->Read("default")->goodCount, 0);

  // What kvr-line answers from it.
  const auto records = database->Records("", 0);
  ASSERT_TRUE(records);
  ASSERT_EQ(records->size(), 3u);
  const LineRecord& back = (*records)[1].record;
  EXPECT_EQ((*records)[1].line, "default");
  EXPECT_EQ(back.serial, "1");
  EXPECT_EQ(back.result, "failed");
  EXPECT_EQ(back.failedStep, "Verify Program");
  EXPECT_EQ(back.station.port, "COM1 (/dev/ttyUSB0)");
  EXPECT_EQ(back.station.utcOffsetMinutes, 60);
  EXPECT_EQ(back.steps, R"([{"name":"Program File","ms":1200,"result":"OK"}])");
  EXPECT_EQ(database->Records("default", 1'700'000'000'000'001)->size(), 0u);

  const auto status = database->Status("");
  ASSERT_TRUE(status);
  ASSERT_EQ(status->size(), 2u);
  EXPECT_EQ((*status)[0].line, "default");
  EXPECT_EQ((*status)[0].failed, 1);
  EXPECT_EQ((*status)[0].stations, 1);
  ASSERT_TRUE((*status)[0].last);
  EXPECT_EQ((*status)[0].last->serial, "2");

  const auto uses = database->FindSerial("00000");
  ASSERT_TRUE(uses);
  ASSERT_EQ(uses->size(), 2u);
  EXPECT_EQ((*uses)[0].line, "default");
  ASSERT_TRUE((*uses)[0].record);
  EXPECT_EQ((*uses)[0].record->result, "OK");
  EXPECT_EQ((*uses)[1].line, "other");
  EXPECT_FALSE((*uses)[1].record) << "handed out, but its station never recorded a chip";
}

TEST_P(LineDatabaseTest, StationsOnTheirOwnConnectionsNeverShareANumber) {
  Made();
  constexpr int kStations = 4;
  constexpr int kChips = 25;
  std::vector<std::vector<std::string>> got(kStations);
  std::vector<std::thread> stations;
  for (int s = 0; s < kStations; ++s)
    stations.emplace_back([&, s] {
      SqlLineDatabase database(url_);
      for (int i = 0; i < kChips; ++i) {
        got[s].push_back(Reserve(database));
        LineRecord record = Chip(got[s].back(), i % 3 == 0 ? "failed" : "OK");
        if (!database.AddRecord("default", record))
          got[s].push_back("record: " + database.LastError());
      }
    });
  for (std::thread& station : stations) station.join();
  std::set<std::string> numbers;
  for (const auto& mine : got)
    for (const std::string& number : mine) EXPECT_TRUE(numbers.insert(number).second) << number;
  EXPECT_EQ(numbers.size(), std::size_t{kStations * kChips});
  EXPECT_EQ(*numbers.begin(), "0");
  SqlLineDatabase database(url_);
  EXPECT_EQ(database.Read("default")->goodCount, kStations * (kChips - 9));
}

INSTANTIATE_TEST_SUITE_P(Engines, LineDatabaseTest,
                         ::testing::Values(Engine::Sqlite, Engine::Postgres), [](const auto& info) {
                           return info.param == Engine::Sqlite ? "Sqlite" : "Postgres";
                         });

TEST(LineDatabaseUrl, NamesAnEngineAndNeverHoldsAPassword) {
  struct Case {
    const char* url;
    LineEngine engine;
    bool refused;
  };
  const Case cases[] = {
      {"sqlite:/var/lib/line.db", LineEngine::Sqlite, false},
      {"sqlite:", LineEngine::Sqlite, true},
      {"postgresql://kvr@db.example:5432/line", LineEngine::Postgres, false},
      {"postgres://db/line?sslmode=require", LineEngine::Postgres, false},
      {"postgresql://kvr:secret@db/line", LineEngine::Postgres, true},
      {"postgresql://db/line?sslmode=require&password=secret", LineEngine::Postgres, true},
      {"mysql://db/line", LineEngine::None, true},
      {"line.db", LineEngine::None, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LineEngineOf(c.url), c.engine) << c.url;
    const std::string problem = LineUrlProblem(c.url);
    EXPECT_EQ(!problem.empty(), c.refused) << c.url;
    EXPECT_EQ(problem.find("secret"), std::string::npos) << "the URL is never repeated";
  }
}

TEST(LineDatabaseUnreachable, SaysWhyInTheDriversWords) {
  // A port nothing listens on: the driver's refusal, on one line.
  SqlLineDatabase database("postgresql://kvr@127.0.0.1:1/line");
  EXPECT_FALSE(database.Read("default"));
  EXPECT_NE(database.LastError().find("Connection refused"), std::string::npos)
      << database.LastError();
  EXPECT_EQ(database.LastError().find('\n'), std::string::npos);
}

}  // namespace
}  // namespace kvr
