#pragma once
// The binary interface of the package: what the host finds by name in
// Pkg_Pla01000 and the description it reads from the file without loading it.

#include <cstdint>

extern "C" {

// One unit of the package table: its initialization and finalization routines
// (either may be null: a unit without a body).
struct PackageUnitEntry {
  void (*Init)();
  void (*FInit)();
};

struct PackageInfoTable {
  int32_t UnitCount;
  const PackageUnitEntry* UnitInfo;
};

using TPackageEntry = void (*)();
using TGetPackageInfoTable = const PackageInfoTable* (*)();
// Names of the units of the table, in the same order (for the host's log).
using TGetPackageUnitNames = const char* const* (*)();
// The host may watch unit initialization and finalization (phase 1 and 2).
using TPackageUnitObserver = void (*)(const char* unit, int phase);
using TSetPackageUnitObserver = void (*)(TPackageUnitObserver);

using TOpener = void (*)();
using TOpenerWithArg = double (*)(const char*);
}

namespace package {

// The ELF section that carries the description and the version, readable from
// the file with no code of the package running.
inline constexpr const char* kInfoSection = ".efet_pkginfo";

}  // namespace package
