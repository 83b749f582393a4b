#pragma once
// Shared by the fuzz targets: a finding is reported by aborting, so that
// libFuzzer (and the corpus replay under CTest) stops on it with the input.

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace fuzz {

[[noreturn]] inline void Fail(std::string_view what, std::string_view detail = {}) {
  std::fprintf(stderr, "fuzz finding: %.*s\n", static_cast<int>(what.size()), what.data());
  if (!detail.empty())
    std::fprintf(stderr, "  %.*s\n", static_cast<int>(detail.size() > 2000 ? 2000 : detail.size()), detail.data());
  std::abort();
}

inline void Check(bool ok, std::string_view what, std::string_view detail = {}) {
  if (!ok) Fail(what, detail);
}

}  // namespace fuzz
