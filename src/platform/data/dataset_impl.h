#pragma once
// The data set's private parts, shared by the files of the engine: the Impl
// behind TClientDataSet, its members and the small helpers it uses. Its
// member functions live in one file per concern, included at the end:
// row_storage.h, field_access.h, row_view.h, locate.h, editing.h and
// packet_codec.h. Not for code outside src/platform/data.

#include <algorithm>
#include <cmath>
#include <optional>

#include "changelog.h"
#include "dataset.h"
#include "filter.h"
#include "packet.h"
#include "packet_internal.h"
#include "rowvector.h"
#include "platform/rtl/format.h"
#include "platform/rtl/mask.h"
#include "platform/rtl/text.h"
#include "storage.h"

namespace data {

namespace detail {

enum Event {
  evUpdateState,
  evFieldChange,
  evRecordChange,
  evDataSetChange,
  evDataSetScroll,
  evLayoutChange,
  evUpdateRecord
};

inline std::vector<std::string> splitNames(std::string_view text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string_view::npos) end = text.size();
    std::string name = rtl::Trim(text.substr(start, end - start));
    if (!name.empty()) out.push_back(std::move(name));
    start = end + 1;
  }
  return out;
}

inline const char* typeText(TFieldType t) {
  switch (t) {
    case TFieldType::String: return "String";
    case TFieldType::Float: return "Float";
    case TFieldType::DateTime: return "DateTime";
    case TFieldType::Integer: return "Integer";
    case TFieldType::Boolean: return "Boolean";
  }
  return "?";
}

inline bool isAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}


}  // namespace detail

using detail::ChangeLog;
using detail::Column;
using detail::LogEntry;
using detail::RowDead;
using detail::RowDeleted;
using detail::RowLive;
using detail::RowOrig;
using detail::RowVector;
using rtl::EDatabaseError;
using detail::Event;
using detail::isAscii;
using detail::splitNames;
using detail::typeText;
using detail::evDataSetChange;
using detail::evDataSetScroll;
using detail::evFieldChange;
using detail::evLayoutChange;
using detail::evRecordChange;
using detail::evUpdateRecord;
using detail::evUpdateState;

// ====================================================================== Impl

struct TClientDataSet::Impl {
  TClientDataSet& ds;
  explicit Impl(TClientDataSet& d) : ds(d) {}

  // ---- fields
  std::vector<std::unique_ptr<TField>> fields;
  std::vector<std::unique_ptr<TField>> retired;  // dynamic fields of an earlier structure
  bool persistentData = false;
  std::vector<TFieldDef> fieldDefs;
  std::vector<int> fieldCol;   // per field: its column, -1 for calculated
  std::vector<int> calcSlot;   // per field: its calculated slot, -1 for data
  int calcCount = 0;

  // ---- storage
  std::vector<TFieldDef> colDefs;
  std::vector<Column> cols;
  RowVector<uint8_t> rowState;
  std::vector<int32_t> spareOrig;  // dead rows that held original values, for reuse
  detail::SavedCells saved;        // which cells of those rows hold an original
  ChangeLog log;
  bool hasStorage = false;
  uint32_t generation = 0;  // changes whenever row numbers do

  // ---- view: the rows the filter lets through, in index order
  RowVector<int32_t> view;
  RowVector<int32_t> order;  // natural order (live and deleted rows), kept while derived
  bool derived = false;        // view differs from the natural order
  int cur = 0;
  bool bof = true, eof = true;

  // ---- state
  TDataSetState state = TDataSetState::Inactive;
  int inCalc = 0;
  int inFilter = 0;
  std::vector<Variant> editBuf;  // per column
  bool modified = false;
  int32_t editRow = -1;
  int insPos = 0;
  int prevCur = 0;

  // ---- calculated fields
  std::vector<Variant> calcBuf;
  bool calcValid = false;
  int32_t ctxRow = -1;                  // reading another row (filters, lookups, grids)
  std::vector<Variant>* ctxCalc = nullptr;  // calculated values being computed or read

  // ---- filter
  std::string filterText;
  bool filtered = false;
  std::unique_ptr<FilterExpression> expr;

  // ---- indexes
  struct IndexDef {
    std::string name, fields;
    bool descending = false, caseInsensitive = false;
  };
  std::vector<IndexDef> indexes;
  std::string indexFieldNames, indexName;
  std::vector<int> sortCols;
  bool sortDesc = false, sortCI = false;

  // ---- controls
  std::vector<TDataSource*> sources;
  int disableCount = 0;
  TDataSetState disableState = TDataSetState::Inactive;
  Event enableEvent = evDataSetChange;

  // ================================================================ helpers
  std::string prefix() const { return ds.Name.empty() ? std::string() : ds.Name + ": "; }
  [[noreturn]] void fail(const std::string& what) const { throw EDatabaseError(prefix() + what); }
  void checkActive() const {
    if (state == TDataSetState::Inactive) fail("Cannot perform this operation on a closed dataset");
  }
  bool editing() const { return state == TDataSetState::Edit || state == TDataSetState::Insert; }
  void fire(const TDataSetNotifyEvent& e) {
    if (e) e(ds);
  }
  int32_t curRow() const { return view.empty() ? -1 : view[static_cast<size_t>(cur)]; }
  // Inline for the common case of no control attached: scrolling through
  // rows in code pays nothing for it.
  void dataEvent(Event ev, TField* field = nullptr, int info = 0) {
    if (disableCount == 0 && sources.empty()) return;
    notifySources(ev, field, info);
  }
  void notifySources(Event ev, TField* field, int info) {
    if (disableCount > 0) {
      if ((ev == evUpdateState && state == TDataSetState::Inactive) || ev == evLayoutChange)
        enableEvent = evLayoutChange;
      return;
    }
    auto copy = sources;
    for (auto* s : copy)
      if (std::find(sources.begin(), sources.end(), s) != sources.end()) s->notify(ev, field, info);
  }
  void setState(TDataSetState s) {
    if (state == s) return;
    state = s;
    dataEvent(evUpdateState);
  }

  // ---- storage (row_storage.h)
  int32_t newRow(uint8_t st);
  int32_t copyRow(int32_t from, uint8_t st);
  int32_t origRow(int32_t from);
  void releaseOrig(int32_t o);
  void copyValues(int32_t from, int32_t to);
  size_t origCell(size_t c, int32_t r, int32_t o) const {
    return o >= 0 && saved.has(static_cast<size_t>(o), c) ? static_cast<size_t>(o) : static_cast<size_t>(r);
  }
  bool keptDiffers(size_t c, int32_t r, int32_t o) const {
    return saved.has(static_cast<size_t>(o), c) && !cols[c].sameCell(static_cast<size_t>(r), static_cast<size_t>(o));
  }
  bool unchanged(int32_t r, int32_t o) const;
  void restoreOriginals(int32_t o, int32_t r);
  void resetStorage(const std::vector<TFieldDef>& defs);
  void compactIfWorthIt();

  // ---- fields (field_access.h)
  void reindexFields();
  int colIndex(const std::vector<TFieldDef>& defs, std::string_view name) const;
  void checkBinding(const std::vector<TFieldDef>& defs) const;
  void bindFields();
  TField* findField(std::string_view name) const;
  TField& fieldByName(std::string_view name) const;

  // ---- values (field_access.h)
  void ensureCalc();
  void runCalc(std::vector<Variant>* target);
  Variant calcFor(int32_t row, int slot);
  Variant value(const TField& f);
  const Column* storedCell(const TField& f, size_t& row) const;
  bool isNull(const TField& f);
  Variant oldValue(const TField& f);
  Variant convert(const TField& f, const Variant& v) const;
  void setValue(TField& f, const Variant& raw);
  void setText(TField& f, std::string_view s);
  static std::string_view fitText(const TField& f, std::string_view s);
  template <class MakeValue>
  void assign(TField& f, MakeValue make);

  // ---- filter and order (row_view.h)
  struct Schema;
  struct RowAdapter;
  std::unique_ptr<FilterExpression> parseFilter(const std::string& text) const;
  bool filterActive() const;
  bool passes(int32_t r);
  bool less(int32_t a, int32_t b) const;
  bool sorted() const;
  void sortView();
  void resolveSort();
  RowVector<int32_t>& natural();
  void updateDerived();
  void rebuildView();
  void placeCursor(int32_t row);
  void clampCursor();
  void reposition(int32_t r, int pos);
  void mergeRevived(std::vector<int32_t> revived);

  // ---- editing (editing.h)
  void updateRecord();
  void loadEditBuf(int32_t);
  void checkRequired();
  void writeEditBuf(int32_t r, int32_t o);
  void internalPost();
  void endEdit();
  void post();
  void cancel();
  void checkBrowseMode();
  void beginInsert(bool append);
  void edit();
  void deleteRecord();

  // ---- navigation (row_view.h)
  void first();
  void last();
  int moveBy(int d);
  void moveTo(int pos);

  // ---- search (locate.h)
  struct Key;
  std::vector<Key> makeKeys(std::string_view keyFields, const Variant& keyValues, const TLocateOptions& opt) const;
  static bool textMatches(std::string_view cell, const Key& k, const TLocateOptions& opt);
  bool keyMatches(const Key& k, int32_t r, const TLocateOptions& opt);
  bool rowMatches(const std::vector<Key>& keys, int32_t r, const TLocateOptions& opt);
  std::vector<const Key*> indexKeys(const std::vector<Key>& keys, const TLocateOptions& opt) const;
  int compareToKeys(int32_t r, const std::vector<const Key*>& keys, bool partial) const;
  int find(const std::vector<Key>& keys, const TLocateOptions& opt);

  // ---- opening (row_view.h)
  void openInternal();
  void closeInternal();

  // ---- packets (packet_codec.h)
  std::vector<int32_t> packetOrder();
  void writeRow(std::string& out, int32_t r) const;
  void writeOriginals(std::string& out, int32_t r, int32_t o) const;
  void writeLogged(PacketWriter& w, int32_t r, const LogEntry* e) const;
  size_t estimateBytes(size_t rows) const;
  rtl::DataPacket encodeData();
  rtl::DataPacket encodeDelta() const;
  struct Loaded;
  class LoadSink;
  static Loaded load(const rtl::DataPacket& packet);
  Loaded copyRows();
  void install(Loaded&& l);
};

}  // namespace data

// The member functions, one file per concern.
#include "row_storage.h"
#include "field_access.h"
#include "row_view.h"
#include "locate.h"
#include "editing.h"
#include "packet_codec.h"
