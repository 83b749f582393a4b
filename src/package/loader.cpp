// Host-side loading of packages (dlopen) and reading of their description
// straight from the ELF file.

#include "package/loader.h"

#include <dlfcn.h>
#include <elf.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace package {

namespace {

std::string readSection(const std::string& file, const char* wanted) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw EPackageError("Pacote " + file + " não encontrado.");
  in.seekg(0, std::ios::end);
  const auto size = static_cast<uint64_t>(in.tellg());
  auto readAt = [&](uint64_t off, void* dst, uint64_t len) {
    if (off > size || len > size - off) throw EPackageError("Pacote " + file + " truncado ou inválido.");
    in.seekg(static_cast<std::streamoff>(off));
    in.read(static_cast<char*>(dst), static_cast<std::streamsize>(len));
    if (!in) throw EPackageError("Pacote " + file + " ilegível.");
  };
  Elf64_Ehdr eh{};
  if (size < sizeof eh) throw EPackageError(file + " não é um pacote.");
  readAt(0, &eh, sizeof eh);
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64)
    throw EPackageError(file + " não é um pacote.");
  if (eh.e_shentsize != sizeof(Elf64_Shdr) || eh.e_shnum == 0 || eh.e_shstrndx >= eh.e_shnum)
    throw EPackageError(file + " não tem tabela de seções.");
  std::vector<Elf64_Shdr> sh(eh.e_shnum);
  readAt(eh.e_shoff, sh.data(), sizeof(Elf64_Shdr) * sh.size());
  const Elf64_Shdr& strs = sh[eh.e_shstrndx];
  std::string names(strs.sh_size, '\0');
  readAt(strs.sh_offset, names.data(), names.size());
  for (const Elf64_Shdr& s : sh) {
    if (s.sh_name >= names.size() || std::strcmp(names.c_str() + s.sh_name, wanted) != 0) continue;
    if (s.sh_type == SHT_NOBITS) break;
    std::string data(s.sh_size, '\0');
    readAt(s.sh_offset, data.data(), data.size());
    if (auto nul = data.find('\0'); nul != std::string::npos) data.resize(nul);
    return data;
  }
  throw EPackageError(file + " não traz a descrição do pacote.");
}

std::vector<std::string> splitList(const std::string& s) {
  std::vector<std::string> out;
  std::stringstream ss(s);
  for (std::string item; std::getline(ss, item, ',');)
    if (!item.empty()) out.push_back(item);
  return out;
}

unsigned hexOrDec(const std::string& file, const std::string& key, const std::string& v, int base) {
  try {
    size_t used = 0;
    unsigned long n = std::stoul(v, &used, base);
    if (used != v.size()) throw std::invalid_argument(v);
    return static_cast<unsigned>(n);
  } catch (const std::exception&) {
    throw EPackageError(file + ": valor inválido em " + key + ": \"" + v + "\".");
  }
}

std::string dlerr() {
  const char* e = dlerror();
  return e ? e : "erro desconhecido";
}

}  // namespace

PackageDescription ReadPackageInfo(const std::string& file) {
  std::stringstream in(readSection(file, kInfoSection));
  PackageDescription d;
  std::string section;
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    if (line.front() == '[') {
      section = line;
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string::npos) throw EPackageError(file + ": linha inválida na descrição: \"" + line + "\".");
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (section == "[PACKAGEINFO]") {
      if (key == "Kind") d.runtime = value == "runtime";
      else if (key == "Requires") d.requiredPackages = splitList(value);
      else if (key == "Contains") d.containedUnits = splitList(value);
    } else if (section == "[PACKAGEOPTIONS]") {
      d.options[key] = value;
    } else if (section == "[VERSIONINFO]") {
      if (key == "FileVersion") d.version.fileVersion = value;
      else if (key == "ProductVersion") d.version.productVersion = value;
      else if (key == "Language") d.version.language = hexOrDec(file, key, value, 16);
      else if (key == "CodePage") d.version.codePage = hexOrDec(file, key, value, 10);
      else d.version.strings[key] = value;
    }
  }
  return d;
}

std::string FindPackage(const std::string& name, const std::vector<std::string>& dirs) {
  namespace fs = std::filesystem;
  std::string searched;
  for (const std::string& dir : dirs) {
    if (dir.empty()) continue;
    for (const char* ext : {".so", ""}) {
      fs::path p = fs::path(dir) / (name + ext);
      std::error_code ec;
      if (fs::is_regular_file(p, ec)) return fs::absolute(p).string();
    }
    searched += (searched.empty() ? "" : ", ") + dir;
  }
  throw EPackageError("Pacote " + name + " não encontrado em: " + (searched.empty() ? "(nenhuma pasta)" : searched) + ".");
}

std::unique_ptr<TPackage> TPackage::Open(const std::string& file) {
  std::unique_ptr<TPackage> p(new TPackage);
  p->file_ = file;
  p->description_ = ReadPackageInfo(file);  // refuses a file that is not ours before running any of it
  dlerror();
  p->handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!p->handle_) throw EPackageError("Não foi possível carregar o pacote " + file + ": " + dlerr());
  return p;
}

std::unique_ptr<TPackage> TPackage::Load(const std::string& name, const std::vector<std::string>& dirs) {
  auto p = Open(FindPackage(name, dirs));
  p->Initialize();
  return p;
}

TPackage::~TPackage() {
  try {
    Unload();
  } catch (...) {
    // A unit's finalization that raises must not take the host down with it.
  }
}

void* TPackage::Symbol(const std::string& name) const {
  if (!handle_) return nullptr;
  return dlsym(handle_, name.c_str());
}

void* TPackage::Require(const std::string& name) const {
  if (!handle_) throw EPackageError("Pacote " + file_ + " não está carregado.");
  void* s = Symbol(name);
  if (!s) throw EPackageError("O pacote " + file_ + " não exporta " + name + ".");
  return s;
}

void TPackage::Initialize() {
  if (initialized_) return;
  // Marked first: a unit that raises leaves the others to Finalize, whose
  // guards skip the units that never ran.
  initialized_ = true;
  Function<TPackageEntry>("Initialize")();
}

void TPackage::Finalize() {
  if (!initialized_) return;
  initialized_ = false;
  Function<TPackageEntry>("Finalize")();
}

const PackageInfoTable& TPackage::InfoTable() const {
  return *Function<TGetPackageInfoTable>("GetPackageInfoTable")();
}

std::vector<std::string> TPackage::UnitNames() const {
  std::vector<std::string> out;
  auto fn = reinterpret_cast<TGetPackageUnitNames>(Symbol("GetPackageUnitNames"));
  if (!fn) return out;
  for (const char* const* n = fn(); *n; ++n) out.emplace_back(*n);
  return out;
}

void TPackage::Unload() {
  if (!handle_) return;
  void* h = handle_;
  try {
    Finalize();
  } catch (...) {
    handle_ = nullptr;
    dlclose(h);
    throw;
  }
  handle_ = nullptr;
  dlclose(h);
}

}  // namespace package
