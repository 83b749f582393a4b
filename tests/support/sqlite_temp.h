#pragma once
// A SQLite database file in the temporary folder, removed (with its WAL and
// shared-memory files) when the helper goes out of scope.

#include <string>
#include <string_view>

namespace testsupport {

class TempSqlite {
public:
  explicit TempSqlite(std::string_view prefix = "efet");
  ~TempSqlite();
  TempSqlite(const TempSqlite&) = delete;
  TempSqlite& operator=(const TempSqlite&) = delete;

  const std::string& path() const { return path_; }
  std::string connectionString() const { return "sqlite:" + path_; }

private:
  std::string path_;
};

}  // namespace testsupport
