#include "platform/line_database.h"

#include <string_view>

namespace kvr {

namespace {

constexpr std::string_view kSqlite = "sqlite:";
constexpr std::string_view kPostgres[] = {"postgresql://", "postgres://"};

// Whether the URI's user information or its parameters carry a password.
bool HoldsPassword(std::string_view uri) {
  const std::size_t query = uri.find('?');
  const std::string_view authority = uri.substr(0, uri.find_first_of("/?"));
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos && authority.substr(0, at).find(':') != std::string_view::npos)
    return true;
  if (query == std::string_view::npos) return false;
  for (std::string_view rest = uri.substr(query + 1); !rest.empty();) {
    const std::size_t end = rest.find('&');
    const std::string_view pair = rest.substr(0, end);
    if (pair.substr(0, pair.find('=')) == "password") return true;
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  return false;
}

}  // namespace

LineEngine LineEngineOf(const std::string& url) {
  if (url.starts_with(kSqlite)) return LineEngine::Sqlite;
  for (const std::string_view scheme : kPostgres)
    if (url.starts_with(scheme)) return LineEngine::Postgres;
  return LineEngine::None;
}

bool LineUrlHoldsPassword(const std::string& url) {
  return LineEngineOf(url) == LineEngine::Postgres &&
         HoldsPassword(std::string_view(url).substr(url.find("://") + 3));
}

std::string LineUrlProblem(const std::string& url) {
  // The URL itself is never repeated: it might hold a password.
  switch (LineEngineOf(url)) {
    case LineEngine::Sqlite:
      if (url.size() == kSqlite.size())
        return "sqlite: wants the database file, e.g. sqlite:line.db";
      return {};
    case LineEngine::Postgres:
      if (LineUrlHoldsPassword(url))
        return "the URL holds a password: give it in PGPASSWORD or ~/.pgpass instead, so that it "
               "is never stored or shown";
      return {};
    case LineEngine::None:
      break;
  }
  return "a line database is named by sqlite:PATH or postgresql://user@host:port/dbname";
}

}  // namespace kvr
