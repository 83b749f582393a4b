#pragma once
// The data set's packets: its rows and change log written as a data packet or
// a delta, and a data packet loaded into fresh storage (or another data
// set's rows, loaded as its packet would load them).
// Part of TClientDataSet::Impl (dataset_impl.h), which includes it.

#include <charconv>

#include "dataset_impl.h"

namespace data {

// Natural order of the rows to encode: live rows as they are shown without
// filter or index, deleted rows where they were.
inline std::vector<int32_t> TClientDataSet::Impl::packetOrder() {
  std::vector<int32_t> seq = natural().toVector();
  std::vector<int32_t> deleted;
  std::vector<uint8_t> present(rowState.size(), 0);
  for (int32_t r : seq) present[static_cast<size_t>(r)] = 1;
  log.forEach([&](int32_t r, LogEntry e) {
    if (e.status == TUpdateStatus::Deleted && !present[static_cast<size_t>(r)]) deleted.push_back(r);
  });
  if (deleted.empty()) {
    seq.erase(
        std::remove_if(seq.begin(), seq.end(), [&](int32_t r) { return rowState[static_cast<size_t>(r)] == RowDead; }),
        seq.end());
    return seq;
  }
  std::sort(deleted.begin(), deleted.end());
  std::vector<int32_t> out;
  out.reserve(seq.size() + deleted.size());
  size_t k = 0;
  for (int32_t r : seq) {
    if (rowState[static_cast<size_t>(r)] == RowDead) continue;
    while (k < deleted.size() && deleted[k] < r) out.push_back(deleted[k++]);
    out.push_back(r);
  }
  while (k < deleted.size()) out.push_back(deleted[k++]);
  return out;
}

inline void TClientDataSet::Impl::writeRow(std::string& out, int32_t r) const {
  for (auto& c : cols) c.appendJson(out, static_cast<size_t>(r));
}

// The originals of row r kept in row o, the others r's own values.
inline void TClientDataSet::Impl::writeOriginals(std::string& out, int32_t r, int32_t o) const {
  for (size_t c = 0; c < cols.size(); ++c) cols[c].appendJson(out, origCell(c, r, o));
}

inline void TClientDataSet::Impl::writeLogged(PacketWriter& w, int32_t r, const LogEntry* e) const {
  using detail::WriterAccess;
  TUpdateStatus st = e ? e->status : TUpdateStatus::Unmodified;
  if (st == TUpdateStatus::Modified) {
    // The compact form: the originals of the changed fields only, since
    // an unchanged field's original is its value.
    std::string& out = WriterAccess::beginCompactRow(w);
    out += ",[";
    auto orig = static_cast<size_t>(e->orig);
    uint64_t changed = 0;  // one bit per column below 64; the others compared again
    for (size_t c = 0; c < cols.size(); ++c)
      if (keptDiffers(c, r, e->orig)) {
        if (out.back() != '[') out.push_back(',');
        char buf[12];
        out.append(buf, std::to_chars(buf, buf + sizeof buf, c).ptr);
        if (c < 64) changed |= uint64_t{1} << c;
      }
    out.push_back(']');
    writeRow(out, r);
    for (size_t c = 0; c < cols.size(); ++c)
      if (c < 64 ? (changed >> c) & 1 : keptDiffers(c, r, e->orig)) cols[c].appendJson(out, orig);
    WriterAccess::endRow(w);
    return;
  }
  std::string& out = WriterAccess::beginRow(w, st);
  if (st == TUpdateStatus::Deleted) {
    writeOriginals(out, r, e->orig);
  } else {
    writeRow(out, r);
  }
  WriterAccess::endRow(w);
}

inline size_t TClientDataSet::Impl::estimateBytes(size_t rows) const {
  size_t perRow = 4;
  for (auto& c : cols) perRow += (c.type() == TFieldType::String ? 4 : 20);
  size_t text = 0;
  for (auto& c : cols) text += c.bytes();
  return rows * perRow + text + 256;
}

inline rtl::DataPacket TClientDataSet::Impl::encodeData() {
  PacketWriter w(colDefs, PacketKind::Data);
  auto seq = packetOrder();
  w.Reserve(estimateBytes(seq.size()));
  for (int32_t r : seq) {
    auto e = log.get(r);
    writeLogged(w, r, e ? &*e : nullptr);
  }
  return w.Finish();
}

inline rtl::DataPacket TClientDataSet::Impl::encodeDelta() const {
  PacketWriter w(colDefs, PacketKind::Delta);
  std::vector<std::pair<int32_t, LogEntry>> entries;
  entries.reserve(log.size());
  log.forEach([&](int32_t r, LogEntry e) { entries.emplace_back(r, e); });
  // The edited rows lie far apart in a large data set: each cell read is a
  // cache and TLB miss. Reading the cells of the next rows ahead, all in one
  // loop without dependencies between them, lets those misses overlap
  // instead of coming one after the other while the text is written.
  constexpr size_t kAhead = 16;
  size_t touched = 0;
  auto touch = [&](size_t from, size_t to) {
    auto read = [&](size_t c, int32_t row) {
      auto cell = static_cast<size_t>(row);
      bool null = cols[c].isNull(cell);
      touched += null || cols[c].type() != TFieldType::String ? null : cols[c].str(cell).size();
    };
    // The row's own cells, and the originals it keeps apart.
    for (size_t i = from; i < to && i < entries.size(); ++i) {
      int32_t r = entries[i].first, o = entries[i].second.orig;
      for (size_t c = 0; c < cols.size(); ++c) {
        read(c, r);
        if (o >= 0 && saved.has(static_cast<size_t>(o), c)) read(c, o);
      }
    }
  };
  touch(0, kAhead);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i % kAhead == 0) touch(i + kAhead, i + 2 * kAhead);
    writeLogged(w, entries[i].first, &entries[i].second);
  }
  volatile size_t sink = touched;  // keeps the reads ahead
  (void)sink;
  return w.Finish();
}

// Loads a packet into fresh storage of a scratch Impl-like holder.
struct TClientDataSet::Impl::Loaded {
  std::vector<TFieldDef> defs;
  std::vector<Column> cols;
  RowVector<uint8_t> rowState;
  ChangeLog log;
  RowVector<int32_t> natural;
};

class TClientDataSet::Impl::LoadSink : public detail::RowSink {
public:
  explicit LoadSink(Loaded& l) : l_(l) {}
  void beginRow(TUpdateStatus st) override {
    status_ = st;
    row_ = static_cast<int32_t>(l_.rowState.size());
    orig_ = -1;
    if (st == TUpdateStatus::Modified) {
      orig_ = row_ + 1;
      l_.rowState.push_back(RowLive);
      l_.rowState.push_back(RowOrig);
    } else {
      l_.rowState.push_back(st == TUpdateStatus::Deleted ? RowDeleted : RowLive);
    }
  }
  void null(int, int f) override { l_.cols[static_cast<size_t>(f)].pushNull(); }
  void str(int, int f, std::string_view t) override { l_.cols[static_cast<size_t>(f)].pushStr(t); }
  void num(int, int f, double d) override { l_.cols[static_cast<size_t>(f)].pushNum(d); }
  void integer(int, int f, int64_t v) override { l_.cols[static_cast<size_t>(f)].pushInt(v); }
  void boolean(int, int f, bool b) override { l_.cols[static_cast<size_t>(f)].pushBool(b); }
  void sameOriginal(int f) override { l_.cols[static_cast<size_t>(f)].pushCopy(static_cast<size_t>(row_)); }
  void endRow() override {
    if (status_ != TUpdateStatus::Unmodified) l_.log.set(row_, LogEntry{status_, orig_});
    if (status_ == TUpdateStatus::Modified && rowsEqual(row_, orig_)) {
      // A change put back by hand is no change.
      l_.rowState[static_cast<size_t>(orig_)] = RowDead;
      l_.log.erase(row_);
    }
    l_.natural.push_back(row_);
  }

private:
  bool rowsEqual(int32_t a, int32_t b) const {
    for (auto& c : l_.cols)
      if (!c.sameCell(static_cast<size_t>(a), static_cast<size_t>(b))) return false;
    return true;
  }
  Loaded& l_;
  TUpdateStatus status_ = TUpdateStatus::Unmodified;
  int32_t row_ = -1, orig_ = -1;
};

inline auto TClientDataSet::Impl::load(const rtl::DataPacket& packet) -> Loaded {
  detail::PacketParser parser(packet.bytes());
  if (parser.kind() != PacketKind::Data) throw EDatabaseError("Data packet: a delta cannot be loaded as contents");
  Loaded l;
  l.defs = parser.defs();
  for (auto& d : l.defs) l.cols.emplace_back(d.DataType);
  LoadSink sink(l);
  size_t rows = 0;
  while (parser.next(sink)) {
    // Size the storage once from a sample, instead of regrowing it.
    if (++rows == 2048) {
      double p = parser.progress();
      if (p > 0.0 && p < 0.9) {
        double f = 1.02 / p;
        for (auto& c : l.cols) c.reserveFactor(f);
        // The first edit or append then grows them in place rather than
        // moving them off the heap into fresh pages, a stall of
        // milliseconds on a large data set.
        l.rowState.reserveToGrow(static_cast<size_t>(static_cast<double>(l.rowState.size()) * f));
        l.natural.reserveToGrow(static_cast<size_t>(static_cast<double>(l.natural.size()) * f));
      }
    }
  }
  for (auto& c : l.cols) c.shrink();
  l.rowState.shrink_to_fit();
  l.natural.shrink_to_fit();
  return l;
}

// This data set's rows loaded into fresh storage as reading its data packet
// would load them (the packet's order, statuses and originals, through the
// same sink), copied cell by cell instead of written as text and parsed back.
inline auto TClientDataSet::Impl::copyRows() -> Loaded {
  Loaded l;
  l.defs = colDefs;
  for (auto& d : l.defs) {  // as a packet's field list carries them
    if (d.DataType == TFieldType::String && d.Size <= 0) d.Size = 20;
    if (d.DataType != TFieldType::String) d.FixedChar = false;
  }
  auto seq = packetOrder();
  size_t rows = seq.size();
  log.forEach([&](int32_t, LogEntry e) { rows += e.status == TUpdateStatus::Modified; });
  const size_t n = cols.size();
  std::vector<Column::CodeMap> codes(n);
  for (auto& d : l.defs) {
    l.cols.emplace_back(d.DataType);
    l.cols.back().reserve(rows);
  }
  // As a load leaves them: the first edit or append grows them in place.
  l.rowState.reserveToGrow(rows);
  l.natural.reserveToGrow(seq.size());
  LoadSink sink(l);
  for (int32_t r : seq) {
    auto e = log.get(r);
    TUpdateStatus st = e ? e->status : TUpdateStatus::Unmodified;
    auto row = static_cast<size_t>(r);
    sink.beginRow(st);
    if (st == TUpdateStatus::Modified) {
      auto orig = static_cast<size_t>(e->orig);
      for (size_t f = 0; f < n; ++f) l.cols[f].pushFrom(cols[f], row, codes[f]);
      for (size_t f = 0; f < n; ++f)
        if (!keptDiffers(f, r, e->orig)) sink.sameOriginal(static_cast<int>(f));
        else l.cols[f].pushFrom(cols[f], orig, codes[f]);
    } else {
      int32_t o = st == TUpdateStatus::Deleted ? e->orig : -1;
      for (size_t f = 0; f < n; ++f) l.cols[f].pushFrom(cols[f], origCell(f, r, o), codes[f]);
    }
    sink.endRow();
  }
  for (auto& c : l.cols) c.shrink();
  return l;
}

// Loaded rows replace the contents, once the bound fields accept them (a
// refusal leaves the contents as they were), and the data set opens on them.
inline void TClientDataSet::Impl::install(Loaded&& l) {
  checkBinding(l.defs);
  closeInternal();
  resetStorage(l.defs);
  cols = std::move(l.cols);
  rowState = std::move(l.rowState);
  log = std::move(l.log);
  // The loaded order becomes the view in place: a packet's rows are
  // nearly all live, and copying them would write the array twice.
  auto live = std::remove_if(l.natural.begin(), l.natural.end(),
                             [this](int32_t r) { return rowState[static_cast<size_t>(r)] != RowLive; });
  l.natural.resize(static_cast<size_t>(live - l.natural.begin()));
  view = std::move(l.natural);
  // Deleted rows stay out of the natural order; CancelUpdates and Data put
  // them back by row number.
  openInternal();
}

}  // namespace data
