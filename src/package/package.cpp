// Pkg_Pla01000: the package entry points, the unit table and the description
// the host reads from the file. The screens' openers are in exports.cpp.

#include "package/package.h"

#include <array>
#include <string>

#include "package/units.h"

// ---- Description and version, as key=value lines in a section of their own,
// so that the host reads them from the file without running any of our code.
// "used" keeps the section through the link; it is allocated, so strip keeps it.
extern const char efetPackageInfo[];
__attribute__((section(".efet_pkginfo"), used)) const char efetPackageInfo[] =
    "[PACKAGEINFO]\n"
    "Kind=runtime\n"
    "Requires=efet_host,efet_rtl,efet_report,_lib,_ger,_frm,efet_db,efet_ui\n"
    "Contains=Pkg_Pla01000,CLI_PLA01002,CLI_PLA01000,CLI_PLA01010,SysInit,CLI_PLA01001\n"
    "[PACKAGEOPTIONS]\n"
    "Aliases=WinTypes=Windows;WinProcs=Windows;DbiTypes=BDE;DbiProcs=BDE;DbiErrs=BDE\n"
    "[VERSIONINFO]\n"
    "FileVersion=6.49.067\n"
    "ProductVersion=6.49.067\n"
    "Language=0416\n"
    "CodePage=1252\n"
    "LanguageName=Português (Brasil)\n"
    "ProductName=Efetivos\n"
    "CompanyName=Efetivos\n"
    "FileDescription=Efetivos diários (PLA01000)\n";

#ifndef EFET_HAVE_PLA01001
// Unit state of Cli_pla01001 that lives in the package until its screen joins;
// with the screen built in, the link exports the screen's own variable.
extern "C" __attribute__((visibility("default"))) std::string stListaServ;
#endif

namespace {

// The units in initialization order: first those used from the required
// packages (their state is set up once per process by the shared platform
// library, so they have no routines here), last our own units.
struct Unit {
  const char* name;
  void (*body)();   // initialization body, or null
  void (*fbody)();  // finalization body, or null
};

constexpr std::array<Unit, 11> kUnits{{
    {"efet_rtl", nullptr, nullptr},
    {"efet_data", nullptr, nullptr},
    {"efet_ui", nullptr, nullptr},
    {"efet_db", nullptr, nullptr},
    {"efet_contracts", nullptr, nullptr},
    {"efet_host", nullptr, nullptr},
    {"SysInit", nullptr, nullptr},
    {"Cli_pla01001", nullptr, &package::FinalizeCliPla01001},
    {"Cli_pla01002", nullptr, nullptr},
    {"Cli_pla01010", nullptr, nullptr},
    {"Cli_pla01000", &package::InitializeCliPla01000, nullptr},
}};

std::array<bool, kUnits.size()> initialized{};
TPackageUnitObserver observer = nullptr;

// Each unit runs its body once per load and its finalization once per unload,
// however many paths reach it (PackageLoad and Initialize, a host calling the
// table itself): the table's routines are these guarded wrappers.
template <size_t I>
void initUnit() {
  if (initialized[I]) return;
  initialized[I] = true;
  if (observer) observer(kUnits[I].name, 1);
  if constexpr (kUnits[I].body != nullptr) kUnits[I].body();
}

template <size_t I>
void finitUnit() {
  if (!initialized[I]) return;
  initialized[I] = false;
  if (observer) observer(kUnits[I].name, 2);
  if constexpr (kUnits[I].fbody != nullptr) kUnits[I].fbody();
}

template <size_t... I>
constexpr std::array<PackageUnitEntry, sizeof...(I)> makeEntries(std::index_sequence<I...>) {
  return {{{&initUnit<I>, &finitUnit<I>}...}};
}

const std::array<PackageUnitEntry, kUnits.size()> kEntries = makeEntries(std::make_index_sequence<kUnits.size()>{});
const PackageInfoTable kTable{static_cast<int32_t>(kUnits.size()), kEntries.data()};

template <size_t... I>
constexpr std::array<const char*, sizeof...(I) + 1> makeNames(std::index_sequence<I...>) {
  return {{kUnits[I].name..., nullptr}};
}
const std::array<const char*, kUnits.size() + 1> kNames = makeNames(std::make_index_sequence<kUnits.size()>{});

}  // namespace

#ifndef EFET_HAVE_PLA01001
void package::FinalizeCliPla01001() { stListaServ.clear(); }
#endif

extern "C" {

#ifndef EFET_HAVE_PLA01001
// Cli_pla01001's unit string (the listing screen's list of services).
std::string stListaServ;
#endif

__attribute__((visibility("default"))) void Initialize() {
  for (const PackageUnitEntry& e : kEntries) e.Init();
}

__attribute__((visibility("default"))) void Finalize() {
  // A unit whose initialization did not run (an earlier one raised) is skipped
  // by its own guard.
  for (auto it = kEntries.rbegin(); it != kEntries.rend(); ++it) it->FInit();
}

// The package unit's names for the same code.
__attribute__((visibility("default"))) void PackageLoad() __attribute__((alias("Initialize")));
__attribute__((visibility("default"))) void PackageUnload() __attribute__((alias("Finalize")));

__attribute__((visibility("default"))) const PackageInfoTable* GetPackageInfoTable() { return &kTable; }

__attribute__((visibility("default"))) const char* const* GetPackageUnitNames() { return kNames.data(); }

__attribute__((visibility("default"))) void SetPackageUnitObserver(TPackageUnitObserver o) { observer = o; }
}
