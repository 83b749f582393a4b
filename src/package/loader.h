#pragma once
// The host's side of a package: finds the file by name, reads its description
// and version from the file (no code of the package runs for that), loads it,
// resolves entry points by name, runs its units' initialization and
// finalization, and unloads it.

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "package/package.h"

namespace package {

class EPackageError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct VersionInfo {
  std::string fileVersion;
  std::string productVersion;
  unsigned language = 0;  // 0x0416: Portuguese (Brazil)
  unsigned codePage = 0;  // 1252
  std::map<std::string, std::string> strings;  // ProductName, CompanyName, ...
};

struct PackageDescription {
  bool runtime = false;
  std::vector<std::string> requiredPackages;
  std::vector<std::string> containedUnits;
  std::map<std::string, std::string> options;
  VersionInfo version;
};

// Reads the description of a package file. Raises EPackageError naming the
// file when it is no package of ours (not ELF, truncated, no description).
PackageDescription ReadPackageInfo(const std::string& file);

// The file of package `name` ("Pkg_Pla01000") in the first folder of `dirs`
// that holds it; raises EPackageError listing the folders searched.
std::string FindPackage(const std::string& name, const std::vector<std::string>& dirs);

class TPackage {
public:
  // Loads the library (no unit initialization yet).
  static std::unique_ptr<TPackage> Open(const std::string& file);
  // Finds, opens and initializes: what the host does to use a package.
  static std::unique_ptr<TPackage> Load(const std::string& name, const std::vector<std::string>& dirs);
  // Finalizes (when initialized) and unloads.
  ~TPackage();
  TPackage(const TPackage&) = delete;
  TPackage& operator=(const TPackage&) = delete;

  const std::string& File() const { return file_; }
  const PackageDescription& Description() const { return description_; }

  // The address of an exported symbol, or null.
  void* Symbol(const std::string& name) const;
  // Like Symbol, raising EPackageError when it is missing.
  void* Require(const std::string& name) const;
  template <class Fn>
  Fn Function(const std::string& name) const {
    return reinterpret_cast<Fn>(Require(name));
  }
  template <class T>
  T* Variable(const std::string& name) const {
    return static_cast<T*>(Require(name));
  }
  bool Has(const std::string& name) const { return Symbol(name) != nullptr; }

  void Initialize();
  void Finalize();
  bool Initialized() const { return initialized_; }
  const PackageInfoTable& InfoTable() const;
  // The unit names of the table, in initialization order.
  std::vector<std::string> UnitNames() const;
  // Finalizes (when needed) and unloads; the object is unusable afterwards.
  void Unload();

private:
  TPackage() = default;
  std::string file_;
  PackageDescription description_;
  void* handle_ = nullptr;
  bool initialized_ = false;
};

}  // namespace package
