#include "sqlite_temp.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace testsupport {

TempSqlite::TempSqlite(std::string_view prefix) {
  std::string tmpl = (fs::temp_directory_path() / (std::string(prefix) + "-XXXXXX.db")).string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  int fd = mkstemps(buf.data(), 3);
  if (fd < 0) throw std::runtime_error("could not create a temporary SQLite file");
  close(fd);  // an empty file is a valid, empty database
  path_ = buf.data();
}

TempSqlite::~TempSqlite() {
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(path_ + suffix, ec);
}

}  // namespace testsupport
