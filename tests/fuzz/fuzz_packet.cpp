// Fuzz target: data packets, text filters, Locate and indexes of the
// data-set engine.
//
// Input: up to five parts separated by NUL bytes:
//   packet \0 filter text \0 Locate fields \0 Locate value(s, ';'-separated) \0 options+index fields
// The first byte of the last part is a bit set of options (case-insensitive
// filter, no partial compare, case-insensitive and partial Locate); the rest
// names the index fields.
//
// A packet goes through PacketReader (what the server reads deltas with) and
// TClientDataSet::SetData. What SetData accepts must re-encode, load again and
// re-encode to the same bytes; its delta must read back. When the packet is
// refused the filter and the searches run on a small fixed data set instead.
// Refusals (rtl::Exception and its kin) are expected; anything else is a finding.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_common.h"
#include "platform/data/dataset.h"
#include "platform/data/packet.h"
#include "platform/rtl/datetime.h"

namespace {

using data::TClientDataSet;
using data::TFieldType;
using rtl::Variant;

std::vector<std::string_view> Split(std::string_view s, char sep, size_t maxParts) {
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < maxParts) {
    size_t p = s.find(sep);
    if (p == std::string_view::npos) break;
    parts.push_back(s.substr(0, p));
    s.remove_prefix(p + 1);
  }
  parts.push_back(s);
  return parts;
}

void ReadAll(const rtl::DataPacket& p, bool mustSucceed) {
  try {
    data::PacketReader r(p);
    size_t n = r.FieldDefs().size();
    while (r.Next()) {
      fuzz::Check(r.Values().size() == n, "PacketReader: values do not match the fields");
      fuzz::Check(r.OldValues().size() == n, "PacketReader: original values do not match the fields");
      fuzz::Check(r.Changed().size() == n, "PacketReader: change mask does not match the fields");
    }
  } catch (const rtl::Exception& e) {
    if (mustSucceed) fuzz::Fail("a packet the engine wrote does not read back", std::string(e.what()) + "\n  " + p.bytes());
  }
}

void Fixed(TClientDataSet& ds) {
  ds.Close();
  ds.FieldDefs().clear();
  ds.FieldDefs().push_back({"CDFILIAL", TFieldType::String, 4, true, true});
  ds.FieldDefs().push_back({"NMCLIENTE", TFieldType::String, 30});
  ds.FieldDefs().push_back({"QTEFET", TFieldType::Float});
  ds.FieldDefs().push_back({"DTCARDAPIO", TFieldType::DateTime});
  ds.FieldDefs().push_back({"NRSEQ", TFieldType::Integer});
  ds.FieldDefs().push_back({"IDATIVO", TFieldType::Boolean});
  ds.CreateDataSet();
  const rtl::TDateTime d = rtl::EncodeDate(2024, 6, 20);
  struct Row {
    const char* branch;
    const char* name;
    Variant qty;
    Variant day;
    Variant seq;
    Variant active;
  };
  const Row rows[] = {
      {"0001", "Cliente Um Ltda", 12.5, Variant::FromDate(d), 1, true},
      {"0001", "cliente dois S.A.", Variant::Null(), Variant::FromDate(d + 1), 2, false},
      {"0002", "O'Brien & Filhos", -3.0, Variant::Null(), Variant::Null(), Variant::Null()},
      {"0003", "", 0.0, Variant::FromDate(d - 0.5), 40, true},
      {"0001", "Ação Social", 1e300, Variant::FromDate(d), -7, false},
  };
  for (const auto& r : rows) {
    ds.Append();
    ds.FieldByName("CDFILIAL").SetValue(r.branch);
    ds.FieldByName("NMCLIENTE").SetValue(r.name);
    ds.FieldByName("QTEFET").SetValue(r.qty);
    ds.FieldByName("DTCARDAPIO").SetValue(r.day);
    ds.FieldByName("NRSEQ").SetValue(r.seq);
    ds.FieldByName("IDATIVO").SetValue(r.active);
    ds.Post();
  }
  ds.MergeChangeLog();
}

// Walks the current view; the rows met must be the rows counted.
void Walk(TClientDataSet& ds, const char* what) {
  int n = 0;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    for (size_t i = 0; i < ds.FieldCount(); ++i) (void)ds.Fields(i).Value();
    if (++n > 1'000'000) fuzz::Fail("endless walk", what);
  }
  fuzz::Check(n == ds.RecordCount(), "RecordCount differs from the rows walked", what);
}

void RoundTrip(TClientDataSet& ds) {
  rtl::DataPacket a = ds.Data();
  TClientDataSet again;
  try {
    again.SetData(a);
  } catch (const rtl::Exception& e) {
    fuzz::Fail("a packet the engine wrote is refused", std::string(e.what()) + "\n  " + a.bytes());
  }
  rtl::DataPacket b = again.Data();
  fuzz::Check(a == b, "packet round trip differs", a.bytes() + "\n  " + b.bytes());
  fuzz::Check(ds.RecordCount() == again.RecordCount(), "row count differs after the round trip");
  fuzz::Check(ds.ChangeCount() == again.ChangeCount(), "change count differs after the round trip");
  if (ds.Active()) ReadAll(ds.Delta(), true);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(bytes), size);
  auto parts = Split(input, '\0', 5);
  rtl::DataPacket packet{std::string(parts[0])};

  ReadAll(packet, false);

  TClientDataSet ds("cdsFuzz");
  bool loaded = false;
  try {
    ds.SetData(packet);
    loaded = true;
  } catch (const rtl::Exception&) {
  }
  if (loaded && ds.Active()) {  // an empty packet closes the data set
    RoundTrip(ds);
    Walk(ds, "after loading");
  } else {
    Fixed(ds);
  }
  if (parts.size() < 2) return 0;

  unsigned flags = parts.size() >= 5 && !parts[4].empty() ? static_cast<unsigned char>(parts[4][0]) : 0;
  if (!parts[1].empty()) {
    ds.FilterOptions.CaseInsensitive = flags & 1;
    ds.FilterOptions.NoPartialCompare = flags & 2;
    try {
      ds.SetFilter(std::string(parts[1]));
      ds.SetFiltered(true);
      Walk(ds, "filtered");
    } catch (const rtl::Exception&) {
    }
  }

  if (parts.size() >= 4) {
    data::TLocateOptions lo;
    lo.CaseInsensitive = flags & 4;
    lo.PartialKey = flags & 8;
    auto values = Split(parts[3], ';', 16);
    Variant key;
    if (values.size() == 1) {
      key = Variant(std::string(values[0]));
    } else {
      rtl::VariantArray a;
      for (auto v : values) a.push_back(v == "null" ? Variant::Null() : Variant(std::string(v)));
      key = Variant(std::move(a));
    }
    try {
      if (ds.Locate(parts[2], key, lo)) fuzz::Check(!ds.Eof() || ds.RecordCount() > 0, "Locate found a row in an empty view");
    } catch (const rtl::Exception&) {
    }
  }

  if (parts.size() >= 5 && parts[4].size() > 1) {
    try {
      ds.SetIndexFieldNames(std::string(parts[4].substr(1)));
      Walk(ds, "indexed");
    } catch (const rtl::Exception&) {
    }
  }

  // Whatever the filter and the index did, the contents still round-trip.
  if (!ds.Active()) return 0;
  try {
    ds.SetFiltered(false);
  } catch (const rtl::Exception&) {
  }
  RoundTrip(ds);
  return 0;
}
