// The data-set engine on the two peers' own row and operations (bench/peers):
// the same 13 fields, the same generator and seed (splitmix64, accented
// names, fractional quantities), the same steps timed. Times are CPU time
// (Google Benchmark's default clock); the allocator keeps its defaults.
//
// Each benchmark sets the counter "rows": the rows (or edits, or lookups) one
// iteration handles, so ns per row = CPU time / rows, as the peers print it.
// Extra counters: heap bytes per row, delta bytes per edit, the slowest
// single operation.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/data/dataset.h"
#include "platform/data/packet.h"
#include "platform/data/rowvector.h"
#include "platform/data/storage.h"
#include "platform/rtl/datetime.h"

using namespace data;
using rtl::Variant;

namespace {

// ---- the peers' data (a port of their GenerateRows)

constexpr uint64_t kSeed = 20240101ULL;
constexpr int kMaxEdits = 10000;

const char* const kWords[32] = {"Café",     "Crème",   "Brûlée",  "Jalapeño", "Façade",     "Naïve",   "Gâteau",
                                "Piñata",   "Señor",   "Déjà",    "Über",     "Smörgås",    "Fiancé",  "Rösti",
                                "Kitchen",  "Grill",   "Bakery",  "Foods",    "Market",     "Supply",  "Catering",
                                "Services", "Group",   "Trading", "Company",  "Restaurant", "Deli",    "Express",
                                "North",    "Central", "Golden",  "Green"};

struct Row {
  std::string filial, servfili, cliente, razsoc, fant;
  double qtcomefet, vrservfatu, dtefet;
  std::string servplan, nrapurac, idtpijur, nrinsjur;
  double qtvendaefet;
};

struct Rng {
  uint64_t state = kSeed;
  uint64_t next() {
    state += 0x9E3779B97F4A7C15ULL;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
};

int utf8Chars(const std::string& s) {
  int c = 0;
  for (unsigned char ch : s) c += (ch & 0xC0) != 0x80;
  return c;
}

// The first maxChars characters, never more than maxBytes bytes, cut at a
// character boundary (the peers' CutUtf8, kept 1-based as there).
std::string cutUtf8(const std::string& s, int maxChars, int maxBytes) {
  int len = static_cast<int>(s.size()), chars = 0, lastGood = 0, i = 1;
  auto at = [&](int k) { return static_cast<unsigned char>(s[static_cast<size_t>(k - 1)]); };
  while (i <= len) {
    if ((at(i) & 0xC0) != 0x80) {
      lastGood = i - 1;
      if (chars == maxChars) break;
      ++chars;
    }
    if (i > maxBytes) break;
    ++i;
    if (i > len) lastGood = len;
  }
  lastGood = std::min(lastGood, maxBytes);
  while (lastGood > 0 && lastGood < len && (at(lastGood + 1) & 0xC0) == 0x80) --lastGood;
  return s.substr(0, static_cast<size_t>(lastGood));
}

std::string makeName(Rng& rng, int maxBytes) {
  int target = 20 + rng.below(41);
  std::string s;
  while (utf8Chars(s) < target) {
    if (!s.empty()) s += ' ';
    s += kWords[rng.below(32)];
  }
  std::string r = cutUtf8(s, target, maxBytes);
  if (!r.empty() && r.back() == ' ') r.back() = '.';
  return r;
}

std::string digits(Rng& rng, int n) {
  std::string s(static_cast<size_t>(n), '0');
  for (auto& c : s) c = static_cast<char>('0' + rng.below(10));
  return s;
}

std::vector<Row> generate(int n) {
  Rng rng;
  const double base = rtl::EncodeDate(2024, 1, 1);
  std::vector<Row> rows(static_cast<size_t>(n));
  char buf[32];
  for (int i = 0; i < n; ++i) {
    Row& r = rows[static_cast<size_t>(i)];
    r.filial = "000" + std::to_string(1 + rng.below(3));
    std::snprintf(buf, sizeof buf, "%05d", 1 + rng.below(10));
    r.servfili = buf;
    std::snprintf(buf, sizeof buf, "C%07d", i + 1);
    r.cliente = buf;
    r.razsoc = makeName(rng, 50);
    r.fant = makeName(rng, 100);
    r.qtcomefet = rng.below(100000) / 100.0;
    r.vrservfatu = rng.below(10000000) / 100.0;
    r.dtefet = base + rng.below(90);
    std::snprintf(buf, sizeof buf, "PL%03d", 1 + rng.below(20));
    r.servplan = buf;
    r.nrapurac = "2024" + digits(rng, 6);
    if (rng.below(2) == 0) {
      r.idtpijur = "F";
      r.nrinsjur = digits(rng, 11);
    } else {
      r.idtpijur = "J";
      r.nrinsjur = digits(rng, 14);
    }
    r.qtvendaefet = rng.below(100000) / 100.0;
  }
  return rows;
}

const std::vector<Row>& rowsOf(int n) {
  static std::map<int, std::vector<Row>> cache;
  auto it = cache.find(n);
  if (it == cache.end()) it = cache.emplace(n, generate(n)).first;
  return it->second;
}

// ---- the data set, filled as the peers fill theirs

std::unique_ptr<TClientDataSet> newDataSet() {
  auto ds = std::make_unique<TClientDataSet>("cdsServCli");
  ds->FieldDefs() = {{"CDFILIAL", TFieldType::String, 4},         {"CDSERVFILI", TFieldType::String, 5},
                     {"CDCLIENTE", TFieldType::String, 21},       {"NMRAZSOCCLIE", TFieldType::String, 50},
                     {"NMFANTCLIE", TFieldType::String, 100},     {"QTCOMEFETCLI", TFieldType::Float},
                     {"VRSERVFATUEFCLI", TFieldType::Float},      {"DTEFETCLIE", TFieldType::DateTime},
                     {"CDSERVPLAN", TFieldType::String, 5, true}, {"NRAPURACFAT", TFieldType::String, 10},
                     {"IDTPIJURCLIE", TFieldType::String, 1},     {"NRINSJURCLIE", TFieldType::String, 20},
                     {"QTVENDAEFETCLI", TFieldType::Float}};
  ds->CreateDataSet();
  return ds;
}

struct Fields {
  TField* f[13];
  explicit Fields(TClientDataSet& ds) {
    for (size_t i = 0; i < 13; ++i) f[i] = &ds.Fields(i);
  }
};

inline void appendRow(TClientDataSet& ds, const Fields& fs, const Row& r) {
  ds.Append();
  fs.f[0]->SetAsString(r.filial);
  fs.f[1]->SetAsString(r.servfili);
  fs.f[2]->SetAsString(r.cliente);
  fs.f[3]->SetAsString(r.razsoc);
  fs.f[4]->SetAsString(r.fant);
  fs.f[5]->SetAsFloat(r.qtcomefet);
  fs.f[6]->SetAsFloat(r.vrservfatu);
  fs.f[7]->SetAsDateTime(r.dtefet);
  fs.f[8]->SetAsString(r.servplan);
  fs.f[9]->SetAsString(r.nrapurac);
  fs.f[10]->SetAsString(r.idtpijur);
  fs.f[11]->SetAsString(r.nrinsjur);
  fs.f[12]->SetAsFloat(r.qtvendaefet);
  ds.Post();
}

void fill(TClientDataSet& ds, const std::vector<Row>& rows) {
  Fields fs(ds);
  for (auto& r : rows) appendRow(ds, fs, r);
}

// Heap in use, including the large blocks malloc maps on their own and the
// engine's row arrays, which map theirs without malloc; less the column
// chunks kept for reuse, which no data set holds.
size_t heapInUse() {
  auto m = mallinfo2();
  return m.uordblks + m.hblkhd + data::detail::rowVectorMappedBytes.load() - data::detail::pooledChunkBytes();
}

// The loaded data set the read-only operations run on, with its packet.
struct Loaded {
  rtl::DataPacket packet;
  std::unique_ptr<TClientDataSet> ds;
  double heapPerRowInsert = 0;  // after insert_all, with the insert log
  double heapPerRowLoad = 0;    // after loading the packet
};

Loaded& loaded(int n) {
  static std::map<int, Loaded> cache;
  auto it = cache.find(n);
  if (it != cache.end()) return it->second;
  Loaded l;
  const auto& rows = rowsOf(n);
  size_t before = heapInUse();
  auto filled = newDataSet();
  fill(*filled, rows);
  l.heapPerRowInsert = static_cast<double>(heapInUse() - before) / n;
  filled->MergeChangeLog();
  l.packet = filled->Data();
  filled.reset();
  {
    TClientDataSet warm;  // the first load sets up the parser's reusable buffers
    warm.SetData(l.packet);
  }
  before = heapInUse();
  l.ds = std::make_unique<TClientDataSet>("cdsServCli");
  l.ds->SetData(l.packet);
  l.heapPerRowLoad = static_cast<double>(heapInUse() - before) / n;
  return cache.emplace(n, std::move(l)).first->second;
}

void setRows(benchmark::State& state, double rows) { state.counters["rows"] = rows; }

// Minor page faults (first touches of memory new to the process) per row
// over a benchmark's whole loop, timed or not: what tells a size whose
// iterations reuse memory already mapped from one that maps fresh pages.
long minorFaults() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_minflt;
}
struct FaultCount {
  benchmark::State& state;
  double rows;
  long start = minorFaults();
  FaultCount(benchmark::State& s, double r) : state(s), rows(r) {}
  ~FaultCount() {
    double it = static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
    state.counters["faults_per_row"] = static_cast<double>(minorFaults() - start) / (rows * it);
  }
};

int editStep(int n) { return std::max(1, n / kMaxEdits); }
int editCount(int n) { return std::min(kMaxEdits, n); }

// The peers' edit pass: from First, Edit, QTCOMEFETCLI + 1, Post, MoveBy(step).
void editPass(TClientDataSet& ds, int count, int step) {
  TField& qt = ds.FieldByName("QTCOMEFETCLI");
  ds.First();
  int k = 0;
  while (k < count && !ds.Eof()) {
    ds.Edit();
    qt.SetAsFloat(qt.AsFloat() + 1);
    ds.Post();
    if (++k < count) ds.MoveBy(step);
  }
}

// ---- operations, named as the peers name them

void insert_all(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const auto& rows = rowsOf(n);
  const double heapPerRow = loaded(n).heapPerRowInsert;  // built before the faults are counted
  // One pass untimed first: at 100,000 rows the runs that settle the
  // iteration count already reuse the memory a pass frees, at 1,000,000 one
  // pass is the whole run, which would pay first touch alone. x_insert_cold
  // measures that cost.
  {
    auto warm = newDataSet();
    fill(*warm, rows);
  }
  FaultCount faults(state, n);
  for (auto _ : state) {
    state.PauseTiming();
    auto ds = newDataSet();
    state.ResumeTiming();
    fill(*ds, rows);
    benchmark::DoNotOptimize(ds->ChangeCount());
    state.PauseTiming();
    ds.reset();
    state.ResumeTiming();
  }
  setRows(state, n);
  state.counters["heap_bytes_per_row"] = heapPerRow;
}

// insert_all with no memory to reuse: every slab kept is given back (and the
// heap trimmed) before each pass, so each pass faults all its pages in anew,
// as the first data set of a fresh process does.
void x_insert_cold(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const auto& rows = rowsOf(n);
  FaultCount faults(state, n);
  for (auto _ : state) {
    state.PauseTiming();
    data::detail::releaseAllChunks();
    malloc_trim(0);
    auto ds = newDataSet();
    state.ResumeTiming();
    fill(*ds, rows);
    benchmark::DoNotOptimize(ds->ChangeCount());
    state.PauseTiming();
    ds.reset();
    state.ResumeTiming();
  }
  setRows(state, n);
}

void save_packet(benchmark::State& state) {
  auto& l = loaded(static_cast<int>(state.range(0)));
  // One untimed save first, as insert_all does: at 1,000,000 rows a single
  // timed pass would otherwise be the first, on memory never written, while
  // the smaller sizes are timed over many passes on memory reused.
  size_t bytes = l.ds->Data().bytes().size();
  FaultCount faults(state, static_cast<double>(state.range(0)));
  for (auto _ : state) {
    auto p = l.ds->Data();
    bytes = p.bytes().size();
    benchmark::DoNotOptimize(bytes);
  }
  setRows(state, static_cast<double>(state.range(0)));
  state.counters["packet_bytes_per_row"] = static_cast<double>(bytes) / static_cast<double>(state.range(0));
}

void load_packet(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto& l = loaded(n);
  FaultCount faults(state, n);
  for (auto _ : state) {
    auto ds = std::make_unique<TClientDataSet>("cdsServCli");
    ds->SetData(l.packet);
    if (ds->RecordCount() != n) state.SkipWithError("wrong row count");
    state.PauseTiming();
    ds.reset();  // freeing is not part of loading
    state.ResumeTiming();
  }
  setRows(state, n);
  state.counters["heap_bytes_per_row"] = l.heapPerRowLoad;
}

std::string midKey(int n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "C%07d", n / 2);
  return buf;
}

int countVisible(TClientDataSet& ds) {
  int c = 0;
  for (ds.First(); !ds.Eof(); ds.Next()) ++c;
  return c;
}

void filter_text(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto& ds = *loaded(n).ds;
  const std::string text = "CDCLIENTE = '" + midKey(n) + "'";
  for (auto _ : state) {
    ds.SetFilter(text);
    ds.SetFiltered(true);
    int c = countVisible(ds);
    ds.SetFiltered(false);
    state.PauseTiming();
    ds.SetFilter("");  // the next repetition parses the text again
    if (c != 1) state.SkipWithError("filter_text: expected one row");
    state.ResumeTiming();
  }
  setRows(state, n);
}

void filter_record(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto& ds = *loaded(n).ds;
  TField& cli = ds.FieldByName("CDCLIENTE");
  const std::string key = midKey(n);
  for (auto _ : state) {
    ds.OnFilterRecord = [&](TClientDataSet&, bool& accept) { accept = cli.AsString() == key; };
    ds.SetFiltered(true);
    int c = countVisible(ds);
    ds.SetFiltered(false);
    state.PauseTiming();
    ds.OnFilterRecord = nullptr;
    if (c != 1) state.SkipWithError("filter_record: expected one row");
    state.ResumeTiming();
  }
  setRows(state, n);
}

Variant lastKeys(int n) {
  const Row& r = rowsOf(n).back();
  return rtl::VarArrayOf({Variant(r.filial), Variant(r.servfili), Variant(r.cliente)});
}

void locateLast(benchmark::State& state, TClientDataSet& ds, const Variant& keys, const std::string& want) {
  TField& cli = ds.FieldByName("CDCLIENTE");
  // First is timed with the search: pausing the clock around it costs two
  // reads of the process CPU clock, a system call each, more than an
  // indexed search.
  for (auto _ : state) {
    ds.First();
    if (!ds.Locate("CDFILIAL;CDSERVFILI;CDCLIENTE", keys)) state.SkipWithError("not found");
  }
  if (cli.AsString() != want) state.SkipWithError("located the wrong row");
}

// Locate with no index: a scan, as in both peers' locate3(_scan).
void locate3(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto& ds = *loaded(n).ds;
  locateLast(state, ds, lastKeys(n), rowsOf(n).back().cliente);
  setRows(state, n);
}

// The index on the key fields (SQLite's CREATE INDEX ix3).
void locate3_index_build(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto& ds = *loaded(n).ds;
  FaultCount faults(state, n);
  for (auto _ : state) {
    ds.SetIndexFieldNames("CDFILIAL;CDSERVFILI;CDCLIENTE");
    state.PauseTiming();
    ds.SetIndexFieldNames("");
    state.ResumeTiming();
  }
  setRows(state, n);
}

// Locate with that index set: one lookup per iteration (rows = 1).
void locate3_index(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto& ds = *loaded(n).ds;
  ds.SetIndexFieldNames("CDFILIAL;CDSERVFILI;CDCLIENTE");
  locateLast(state, ds, lastKeys(n), rowsOf(n).back().cliente);
  ds.SetIndexFieldNames("");
  setRows(state, 1);
}

void walk_sum(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto& ds = *loaded(n).ds;
  TField& qt = ds.FieldByName("QTCOMEFETCLI");
  TField& qv = ds.FieldByName("QTVENDAEFETCLI");
  double sum = 0;
  for (auto _ : state) {
    sum = 0;
    for (ds.First(); !ds.Eof(); ds.Next()) sum = sum + qt.AsFloat() + qv.AsFloat();
    benchmark::DoNotOptimize(sum);
  }
  setRows(state, n);
  state.counters["checksum"] = sum;
}

// Edits on a fresh copy of the loaded rows, so every pass starts alike.
std::unique_ptr<TClientDataSet> freshCopy(int n) {
  auto ds = std::make_unique<TClientDataSet>("cdsServCli");
  ds->SetData(loaded(n).packet);
  return ds;
}

void edit_post_10k(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto ds = freshCopy(n);
  FaultCount faults(state, editCount(n));
  for (auto _ : state) {
    editPass(*ds, editCount(n), editStep(n));
    state.PauseTiming();
    if (ds->ChangeCount() != editCount(n)) state.SkipWithError("wrong ChangeCount");
    ds->MergeChangeLog();
    state.ResumeTiming();
  }
  setRows(state, editCount(n));
}

void merge_change_log(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto ds = freshCopy(n);
  FaultCount faults(state, editCount(n));
  for (auto _ : state) {
    state.PauseTiming();
    editPass(*ds, editCount(n), editStep(n));
    state.ResumeTiming();
    ds->MergeChangeLog();
  }
  setRows(state, editCount(n));
}

void delta(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto ds = freshCopy(n);
  size_t bytes = 0;
  FaultCount faults(state, editCount(n));
  for (auto _ : state) {
    state.PauseTiming();
    editPass(*ds, editCount(n), editStep(n));
    state.ResumeTiming();
    auto d = ds->Delta();
    bytes = d.bytes().size();
    state.PauseTiming();
    ds->MergeChangeLog();
    state.ResumeTiming();
  }
  setRows(state, editCount(n));
  state.counters["bytes_per_edit"] = static_cast<double>(bytes) / editCount(n);
}

// Not one of the peers' operations: a screen copying a data set it edits.
void x_copy_data(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto src = freshCopy(n);
  editPass(*src, 100, editStep(n));
  {
    // As for insert_all: memory a previous copy freed, kept by the chunk
    // pool (x_insert_cold gives the cost of first touching it).
    TClientDataSet warm;
    warm.CopyDataFrom(*src);
  }
  FaultCount faults(state, n);
  for (auto _ : state) {
    TClientDataSet copy;
    copy.CopyDataFrom(*src);
    benchmark::DoNotOptimize(copy.RecordCount());
  }
  setRows(state, n);
}

// ---- the slowest single operation: every insert (Append, sets, Post) and
// every edit (Edit, set, Post) timed on its own, for the stalls a whole-column
// copy would cause. The thread's CPU clock, so that another process taking
// the core for a while is not counted; page faults are.
double nowNs() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// The slowest operations and what they did: page faults taken during the
// slowest, and during all those over 1 ms (counted outside the timed span),
// and where the slowest fell (its row).
struct Slowest {
  double worst = 0, over = 0, worstFaults = 0, worstRow = 0, overFaults = 0;
  void note(double ns, long faults, size_t row) {
    if (ns > 1e6) over += 1, overFaults += static_cast<double>(faults);
    if (ns > worst) worst = ns, worstFaults = static_cast<double>(faults), worstRow = static_cast<double>(row);
  }
  void report(benchmark::State& state) const {
    state.counters["worst_ns"] = worst;
    state.counters["over_1ms"] = over;
    state.counters["worst_faults"] = worstFaults;
    state.counters["worst_row"] = worstRow;
    state.counters["over_1ms_faults"] = overFaults;
  }
};

void x_worst_insert(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const auto& rows = rowsOf(n);
  Slowest slow;
  FaultCount faults(state, n);
  for (auto _ : state) {
    state.PauseTiming();
    auto ds = newDataSet();
    Fields fs(*ds);
    state.ResumeTiming();
    for (size_t i = 0; i < rows.size(); ++i) {
      long f0 = minorFaults();
      double t0 = nowNs();
      appendRow(*ds, fs, rows[i]);
      double dt = nowNs() - t0;
      slow.note(dt, minorFaults() - f0, i);
    }
    state.PauseTiming();
    ds.reset();
    state.ResumeTiming();
  }
  setRows(state, n);
  slow.report(state);
}

// Edits of every row in turn (rows, not 10,000), so the change log grows to
// the size of the data set.
void x_worst_edit(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Slowest slow;
  FaultCount faults(state, n);
  for (auto _ : state) {
    state.PauseTiming();
    auto ds = freshCopy(n);
    TField& qt = ds->FieldByName("QTCOMEFETCLI");
    state.ResumeTiming();
    size_t i = 0;
    for (ds->First(); !ds->Eof(); ds->Next(), ++i) {
      long f0 = minorFaults();
      double t0 = nowNs();
      ds->Edit();
      qt.SetAsFloat(qt.AsFloat() + 1);
      ds->Post();
      double dt = nowNs() - t0;
      slow.note(dt, minorFaults() - f0, i);
    }
    state.PauseTiming();
    ds.reset();
    state.ResumeTiming();
  }
  setRows(state, n);
  slow.report(state);
}

// A text column holding 255 distinct texts in every row gets a 256th: the
// column changes how it stores its texts, once, and that one insert pays
// for every row.
void x_worst_recode(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<Row> rows = rowsOf(n);
  for (size_t i = 0; i < rows.size(); ++i) rows[i].filial = std::to_string(i % 255);
  Row extra = rows.back();
  extra.filial = "NOVA";
  double worst = 0, worstFaults = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto ds = newDataSet();
    Fields fs(*ds);
    fill(*ds, rows);
    ds->MergeChangeLog();
    state.ResumeTiming();
    long f0 = minorFaults();
    double t0 = nowNs();
    appendRow(*ds, fs, extra);
    double dt = nowNs() - t0;
    if (dt > worst) worst = dt, worstFaults = static_cast<double>(minorFaults() - f0);
    state.PauseTiming();
    ds.reset();
    state.ResumeTiming();
  }
  setRows(state, 1);
  state.counters["worst_ns"] = worst;
  state.counters["worst_faults"] = worstFaults;
}

// The clock's own floor on this machine: as many timings of a fixed loop of
// about a microsecond, which allocates and touches no memory. Its slowest is
// what the machine adds (another process, the hypervisor), not the engine.
void x_worst_noise(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  double worst = 0, over = 0;
  for (auto _ : state) {
    for (int i = 0; i < n; ++i) {
      double t0 = nowNs();
      double x = 0;
      for (int k = 0; k < 1000; ++k) x += k * 0.5;
      benchmark::DoNotOptimize(x);
      double dt = nowNs() - t0;
      over += dt > 1e6;
      worst = std::max(worst, dt);
    }
  }
  setRows(state, n);
  state.counters["worst_ns"] = worst;
  state.counters["over_1ms"] = over;
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(insert_all)->Apply(sizes);
BENCHMARK(save_packet)->Apply(sizes);
BENCHMARK(load_packet)->Apply(sizes);
BENCHMARK(filter_text)->Apply(sizes);
BENCHMARK(filter_record)->Apply(sizes);
BENCHMARK(locate3)->Apply(sizes);
BENCHMARK(locate3_index_build)->Apply(sizes);
BENCHMARK(locate3_index)->Apply(sizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(edit_post_10k)->Apply(sizes);
BENCHMARK(merge_change_log)->Apply(sizes);
BENCHMARK(delta)->Apply(sizes);
BENCHMARK(walk_sum)->Apply(sizes);
BENCHMARK(x_copy_data)->Apply(sizes);
BENCHMARK(x_insert_cold)->Apply(sizes);
BENCHMARK(x_worst_insert)->Apply(sizes)->Iterations(1);
BENCHMARK(x_worst_edit)->Apply(sizes)->Iterations(1);
BENCHMARK(x_worst_recode)->Apply(sizes)->Iterations(3);
BENCHMARK(x_worst_noise)->Apply(sizes)->Iterations(1);

BENCHMARK_MAIN();
