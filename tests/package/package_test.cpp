// The package as the host uses it: found by name, its description read from
// the file, loaded, initialized, its screens opened through the exported
// openers against a real efetivos-server, finalized and unloaded.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "net/http_transport.h"
#include "package/loader.h"
#include "pla01000/cli_pla01000.h"
#include "platform/db/query.h"
#include "platform/host/branch.h"
#include "platform/host/context.h"
#include "platform/ui/driver.h"
#include "server_process.h"

namespace {

const std::vector<std::string> kDirs{EFET_PACKAGE_DIR};

std::string packageFile() { return package::FindPackage("Pkg_Pla01000", kDirs); }

bool loaded(const std::string& file) {
  void* h = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h) dlclose(h);
  return h != nullptr;
}

std::vector<std::string> trace;
void observe(const char* unit, int phase) { trace.push_back((phase == 1 ? "init " : "fini ") + std::string(unit)); }

}  // namespace

// First, while nothing has loaded the library in this process.
TEST(PackageInfo, VersionAndDescriptionComeFromTheFileWithoutLoadingIt) {
  const std::string file = packageFile();
  ASSERT_FALSE(loaded(file));
  package::PackageDescription d = package::ReadPackageInfo(file);
  EXPECT_FALSE(loaded(file));
  EXPECT_EQ(d.version.fileVersion, "6.49.067");
  EXPECT_EQ(d.version.productVersion, "6.49.067");
  EXPECT_EQ(d.version.language, 0x0416u);
  EXPECT_EQ(d.version.codePage, 1252u);
  EXPECT_TRUE(d.runtime);
  EXPECT_EQ(d.containedUnits, (std::vector<std::string>{"Pkg_Pla01000", "CLI_PLA01002", "CLI_PLA01000",
                                                        "CLI_PLA01010", "SysInit", "CLI_PLA01001"}));
  ASSERT_EQ(d.requiredPackages.size(), 8u);
  EXPECT_EQ(d.requiredPackages[3], "_lib");
  EXPECT_EQ(d.requiredPackages[4], "_ger");
  EXPECT_EQ(d.requiredPackages[5], "_frm");
  EXPECT_EQ(d.options.at("Aliases"), "WinTypes=Windows;WinProcs=Windows;DbiTypes=BDE;DbiProcs=BDE;DbiErrs=BDE");
}

TEST(PackageInfo, FilesThatAreNoPackageAreRefusedBeforeAnythingRuns) {
  const std::string text = testing::TempDir() + "not_a_package.so";
  std::ofstream(text) << "just text";
  EXPECT_THROW(package::ReadPackageInfo(text), package::EPackageError);
  EXPECT_THROW(package::TPackage::Open(text), package::EPackageError);
  // An ELF file without our description (this test program).
  EXPECT_THROW(package::ReadPackageInfo("/proc/self/exe"), package::EPackageError);
  EXPECT_THROW(package::FindPackage("Pkg_Nenhum", kDirs), package::EPackageError);
}

TEST(PackageUnits, InitializeInTableOrderOnceFinalizeInReverseOnce) {
  auto pkg = package::TPackage::Open(packageFile());
  ASSERT_TRUE(loaded(pkg->File()));
  pkg->Function<TSetPackageUnitObserver>("SetPackageUnitObserver")(&observe);
  trace.clear();

  const std::vector<std::string> names = pkg->UnitNames();
  const PackageInfoTable& table = pkg->InfoTable();
  ASSERT_EQ(static_cast<size_t>(table.UnitCount), names.size());
  // Own units last, in this order.
  ASSERT_GE(names.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(names.end() - 4, names.end()),
            (std::vector<std::string>{"Cli_pla01001", "Cli_pla01002", "Cli_pla01010", "Cli_pla01000"}));

  // PackageLoad is Initialize: a second path in runs no unit twice.
  EXPECT_EQ(pkg->Symbol("PackageLoad"), pkg->Symbol("Initialize"));
  EXPECT_EQ(pkg->Symbol("PackageUnload"), pkg->Symbol("Finalize"));
  pkg->Initialize();
  pkg->Function<TPackageEntry>("PackageLoad")();
  table.UnitInfo[table.UnitCount - 1].Init();
  std::vector<std::string> expectInit;
  for (auto& n : names) expectInit.push_back("init " + n);
  EXPECT_EQ(trace, expectInit);

  auto* stListaServ = pkg->Variable<std::string>("stListaServ");
  *stListaServ = "00010,00020";
  trace.clear();
  pkg->Finalize();
  pkg->Function<TPackageEntry>("PackageUnload")();
  std::vector<std::string> expectFini;
  for (auto it = names.rbegin(); it != names.rend(); ++it) expectFini.push_back("fini " + *it);
  EXPECT_EQ(trace, expectFini);
  EXPECT_EQ(*stListaServ, "");  // Cli_pla01001's finalization

  // A new load initializes again.
  trace.clear();
  pkg->Initialize();
  EXPECT_EQ(trace, expectInit);
  pkg->Function<TSetPackageUnitObserver>("SetPackageUnitObserver")(nullptr);
  pkg->Unload();
}

// ---- The openers, against a real server process.
class PackageScreens : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    server_ = new pkgtest::ServerProcess(EFET_SERVER_PROGRAM);
    net::RegisterHttpTransport();
    net::Login("127.0.0.1", server_->port(), "DEM", "demo");
    db::dtmDBGeral.Configure("sqlite:" + server_->dbFile());
    host::UseDatabaseForContext();
    auto& c = host::Context();
    c.operador = "DEM";
    c.filiProc = "0001";
    c.webURL = "127.0.0.1";
    c.webPort = server_->port();
  }
  static void TearDownTestSuite() {
    net::Logout("127.0.0.1", server_->port());
    db::dtmDBGeral.Disconnect();
    delete server_;
  }
  void SetUp() override {
    pkg_ = package::TPackage::Load("Pkg_Pla01000", kDirs);
    cria_ = pkg_->Function<TOpener>("CriaMedEfetivos");
    global_ = pkg_->Variable<pla01000::TfrmMediEfetivos*>("frmMediEfetivos");
  }
  void TearDown() override {
    driver_.reset();  // frees the forms before the code that made them goes
    pkg_.reset();
  }
  void open(TOpener fn) {
    driver_->act([&] { fn(); });
  }

  static pkgtest::ServerProcess* server_;
  std::unique_ptr<ui::Driver> driver_ = std::make_unique<ui::Driver>();
  std::unique_ptr<package::TPackage> pkg_;
  TOpener cria_ = nullptr;
  pla01000::TfrmMediEfetivos** global_ = nullptr;
};
pkgtest::ServerProcess* PackageScreens::server_ = nullptr;

TEST_F(PackageScreens, OneScreenAtATimeBackToNormalAndInFront) {
  const int before = server_->calls("GetParamGeral");
  open(cria_);
  pla01000::TfrmMediEfetivos* first = *global_;
  ASSERT_NE(first, nullptr);
  // The package's form lives in the host's screen: one toolkit for both.
  EXPECT_NE(ui::Screen().FindForm(first->Name()), nullptr);
  EXPECT_EQ(ui::Screen().ActiveForm(), first);
  EXPECT_EQ(server_->calls("GetParamGeral"), before + 1);  // first activation
  EXPECT_EQ(ui::Driver::text(*first->medCdFilial), "0001");
  EXPECT_TRUE(driver_->errors().empty()) << driver_->lastError();

  // Another window in front and PLA01000 minimised.
  auto* other = ui::CreateForm<ui::TForm>(nullptr);
  other->SetName("frmOutra");
  driver_->act([&] {
    first->SetWindowState(ui::TWindowState::Minimized);
    other->Show();
  });
  ASSERT_EQ(ui::Screen().ActiveForm(), other);

  const size_t forms = ui::Screen().Forms().size();
  open(cria_);
  EXPECT_EQ(*global_, first);
  EXPECT_EQ(ui::Screen().Forms().size(), forms);
  EXPECT_EQ(first->WindowState(), ui::TWindowState::Normal);
  EXPECT_EQ(ui::Screen().ActiveForm(), first);
  EXPECT_EQ(server_->calls("GetParamGeral"), before + 1);  // no second first activation

  // IniProc is the same opener.
  driver_->act([&] { other->Show(); });
  open(pkg_->Function<TOpener>("IniProc"));
  EXPECT_EQ(*global_, first);
  EXPECT_EQ(ui::Screen().Forms().size(), forms);
  EXPECT_EQ(ui::Screen().ActiveForm(), first);
  // The hourglass went back to the default after each call.
  auto& history = driver_->services().Cursor.History;
  ASSERT_FALSE(history.empty());
  EXPECT_EQ(history.back(), ui::TCursor::Default);
  EXPECT_EQ(ui::Screen().Cursor(), ui::TCursor::Default);
}

TEST_F(PackageScreens, AClosedScreenIsReleasedAndTheNextCallCreatesANewOne) {
  const int before = server_->calls("GetParamGeral");
  open(cria_);
  ASSERT_NE(*global_, nullptr);
  std::string firstName = (*global_)->Name();
  driver_->close(**global_);
  // Released by its base form; the global does not dangle.
  EXPECT_EQ(*global_, nullptr);
  EXPECT_EQ(ui::Screen().FindForm(firstName), nullptr);

  open(cria_);
  ASSERT_NE(*global_, nullptr);
  EXPECT_EQ(ui::Screen().ActiveForm(), *global_);
  EXPECT_EQ(server_->calls("GetParamGeral"), before + 2);  // its first activation ran again
  EXPECT_EQ(ui::Driver::text(*(*global_)->medCdFilial), "0001");
}

TEST_F(PackageScreens, EveryScreenOpenerIsExportedByName) {
  EXPECT_TRUE(pkg_->Has("CriaItRatEfet"));
  EXPECT_TRUE(pkg_->Has("frmItRatEfet"));
  EXPECT_TRUE(pkg_->Has("CriaListEfet"));
  EXPECT_TRUE(pkg_->Has("frmListEfet"));
  EXPECT_TRUE(pkg_->Has("CriaConsEfetClie"));
  EXPECT_FALSE(pkg_->Has("CriaNadaAinda"));
  EXPECT_TRUE(pkg_->Has("CriaMedEfetivos"));
  EXPECT_TRUE(pkg_->Has("IniProc"));
}

TEST_F(PackageScreens, EachConsolidationCallShowsAFreshModalScreen) {
  if (!pkg_->Has("CriaConsEfetClie")) GTEST_SKIP() << "PLA01010 is not part of this build";
  auto cons = pkg_->Function<TOpener>("CriaConsEfetClie");
  auto** global = pkg_->Variable<ui::TCustomForm*>("frmConsEfetClie");
  int ran = 0;
  for (int i = 0; i < 2; ++i) {
    driver_->onModal([&](ui::TCustomForm& f) {
      ++ran;
      EXPECT_EQ(*global, &f);
      EXPECT_EQ(ui::Screen().Cursor(), ui::TCursor::HourGlass);
      driver_->close(f);
    });
    open(cons);
    EXPECT_EQ(ui::Screen().Cursor(), ui::TCursor::Default);
    EXPECT_EQ(*global, nullptr);  // released after its loop, not left dangling
  }
  EXPECT_EQ(ran, 2);
  EXPECT_EQ(driver_->services().Modal.Pending(), 0u);
}
