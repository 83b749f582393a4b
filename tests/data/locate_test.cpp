// Locate answers alike whether an index on the key fields finds the row or a
// scan does: random rows, random indexes (ascending, descending, case-
// insensitive, with a filter on top), random keys and options, against a
// plain walk over the view that applies Locate's rules by hand.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/data/dataset.h"
#include "platform/rtl/format.h"

using namespace data;
using rtl::Variant;

namespace {

const std::vector<std::string> kNames = {"TX", "NR", "QT", "FL", "DT"};

struct Random {
  std::mt19937 rng{20240101};
  int below(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }
  std::string text() {
    static const char letters[] = "aAbB";
    std::string s(static_cast<size_t>(below(4)), 'a');
    for (auto& c : s) c = letters[below(4)];
    return s;
  }
  Variant value(TFieldType t) {
    if (below(12) == 0) return Variant::Null();
    switch (t) {
      case TFieldType::String: return Variant(text());
      case TFieldType::Integer: return Variant(below(6));
      case TFieldType::Float: return Variant(below(5) / 2.0);
      case TFieldType::Boolean: return Variant(below(2) == 0);
      default: return Variant::FromDate(45292.0 + below(4));
    }
  }
};

// Locate's rules, applied to the row at recNo.
bool matches(TClientDataSet& ds, int recNo, const std::vector<std::string>& fields, const std::vector<Variant>& keys,
             TLocateOptions opt) {
  for (size_t i = 0; i < fields.size(); ++i) {
    TField& f = ds.FieldByName(fields[i]);
    Variant cell = ds.RecordValue(recNo, f);
    const Variant& key = keys[i];
    if (cell.isNullOrEmpty() || key.isNullOrEmpty()) {
      if (cell.isNullOrEmpty() != key.isNullOrEmpty()) return false;
      continue;
    }
    if (f.DataType() == TFieldType::String) {
      std::string c = cell.toString(), k = key.toString();
      if (opt.CaseInsensitive) {
        c = rtl::AnsiUpperCase(c);
        k = rtl::AnsiUpperCase(k);
      }
      if (opt.PartialKey ? c.compare(0, k.size(), k) != 0 || c.size() < k.size() : c != k) return false;
    } else if (f.DataType() == TFieldType::Boolean) {
      if (cell.toBool() != key.toBool()) return false;
    } else if (cell.toDouble() != key.toDouble()) {
      return false;
    }
  }
  return true;
}

TEST(LocateIndex, FindsWhatTheScanFindsOnRandomData) {
  Random rnd;
  TClientDataSet ds("cdsRandom");
  ds.FieldDefs() = {{"TX", TFieldType::String, 3},
                    {"NR", TFieldType::Integer},
                    {"QT", TFieldType::Float},
                    {"FL", TFieldType::Boolean},
                    {"DT", TFieldType::DateTime}};
  ds.CreateDataSet();
  for (int i = 0; i < 400; ++i) {
    ds.Append();
    for (size_t c = 0; c < ds.FieldCount(); ++c) ds.Fields(c).SetValue(rnd.value(ds.Fields(c).DataType()));
    ds.Post();
  }
  ds.AddIndex("ixDesc", "NR;TX;QT", true);
  ds.AddIndex("ixCase", "TX;NR", false, true);

  int located = 0, missed = 0;
  for (int round = 0; round < 60; ++round) {
    // An index: by names (two or three leading fields) or a named one.
    std::vector<std::string> order = kNames;
    std::shuffle(order.begin(), order.end(), rnd.rng);
    int pick = rnd.below(5);
    std::vector<std::string> lead;
    if (pick == 0) {
      ds.SetIndexName("ixDesc");
      lead = {"NR", "TX", "QT"};
    } else if (pick == 1) {
      ds.SetIndexName("ixCase");
      lead = {"TX", "NR"};
    } else {
      lead.assign(order.begin(), order.begin() + 2 + rnd.below(2));
      std::string names;
      for (auto& n : lead) names += (names.empty() ? "" : ";") + n;
      ds.SetIndexFieldNames(names);
    }
    ds.SetFilter("NR <> 5");
    ds.SetFiltered(rnd.below(3) == 0);

    for (int q = 0; q < 80; ++q) {
      // Keys: mostly the index's leading fields in any order, else any fields.
      std::vector<std::string> fields;
      if (rnd.below(4) != 0) {
        fields.assign(lead.begin(), lead.begin() + 1 + rnd.below(static_cast<int>(lead.size())));
        std::shuffle(fields.begin(), fields.end(), rnd.rng);
      } else {
        fields.assign(order.begin(), order.begin() + 1 + rnd.below(3));
      }
      // Values: those of a row of the view (found) or random ones.
      std::vector<Variant> keys;
      int from = 1 + rnd.below(std::max(1, ds.RecordCount()));
      for (auto& f : fields) {
        TField& field = ds.FieldByName(f);
        keys.push_back(rnd.below(3) ? ds.RecordValue(from, field) : rnd.value(field.DataType()));
      }
      TLocateOptions opt;
      opt.CaseInsensitive = rnd.below(4) == 0;
      opt.PartialKey = rnd.below(4) == 0;
      if (opt.PartialKey)
        for (size_t i = 0; i < fields.size(); ++i)
          if (keys[i].isString() && !keys[i].asStringRef().empty() && rnd.below(2))
            keys[i] = Variant(keys[i].asStringRef().substr(0, keys[i].asStringRef().size() - 1));

      int expected = -1;
      for (int r = 1; r <= ds.RecordCount() && expected < 0; ++r)
        if (matches(ds, r, fields, keys, opt)) expected = r;

      std::string names;
      for (auto& n : fields) names += (names.empty() ? "" : ";") + n;
      ds.First();
      ds.MoveBy(rnd.below(std::max(1, ds.RecordCount())));
      int before = ds.RecNo();
      bool found = ds.Locate(names, keys.size() == 1 ? keys[0] : Variant(rtl::VariantArray(keys)), opt);
      SCOPED_TRACE("round " + std::to_string(round) + " keys " + names + " index " + ds.IndexFieldNames() + ds.IndexName());
      ASSERT_EQ(found, expected > 0);
      ASSERT_EQ(ds.RecNo(), found ? expected : before);
      (found ? located : missed)++;
    }
  }
  // Both outcomes were exercised, many times over.
  EXPECT_GT(located, 1000);
  EXPECT_GT(missed, 300);
}

// An edit that moves a row within the index is found at its new place.
TEST(LocateIndex, FollowsRowsMovedByEdits) {
  TClientDataSet ds("cdsCodes");
  ds.FieldDefs() = {{"CD", TFieldType::String, 8}, {"QT", TFieldType::Float}};
  ds.CreateDataSet();
  for (int i = 0; i < 50; ++i) {
    ds.Append();
    ds.FieldByName("CD").SetAsString("C" + std::to_string(100 + i));
    ds.FieldByName("QT").SetAsFloat(i);
    ds.Post();
  }
  ds.SetIndexFieldNames("CD");
  ASSERT_TRUE(ds.Locate("CD", Variant("C120")));
  ds.Edit();
  ds.FieldByName("CD").SetAsString("A000");
  ds.Post();
  EXPECT_FALSE(ds.Locate("CD", Variant("C120")));
  ASSERT_TRUE(ds.Locate("CD", Variant("A000")));
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_DOUBLE_EQ(ds.FieldByName("QT").AsFloat(), 20);
  ds.Append();
  ds.FieldByName("CD").SetAsString("C1205");
  ds.Post();
  ASSERT_TRUE(ds.Locate("CD", Variant("C12"), TLocateOptions{false, true}));
  EXPECT_EQ(ds.FieldByName("CD").AsString(), "C1205");  // before "C121" byte by byte
}

// With no index Locate scans, trying first the key that turns down most rows
// of a sample and comparing texts without copies. It must find what the
// rules find, case-insensitive and partial included, on texts of every case,
// with accents and of several lengths.
TEST(LocateScan, FindsWhatTheRulesFindOnRandomTexts) {
  std::mt19937 rng(99);
  auto below = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const char* pieces[] = {"a", "A", "b", "B", "ç", "Ç", "é", "É", "ab", "AB", "çã"};
  auto text = [&] {
    std::string s;
    for (int i = below(4); i > 0; --i) s += pieces[below(11)];
    return s;
  };
  TClientDataSet ds("cdsScan");
  ds.FieldDefs() = {{"A", TFieldType::String, 12}, {"B", TFieldType::String, 12}, {"N", TFieldType::Integer}};
  ds.CreateDataSet();
  for (int i = 0; i < 1500; ++i) {
    ds.Append();
    if (below(15)) ds.FieldByName("A").SetAsString(text());
    if (below(15)) ds.FieldByName("B").SetAsString(below(3) ? text() : "fixo");
    ds.FieldByName("N").SetAsInteger(below(40));
    ds.Post();
  }
  int located = 0, missed = 0;
  const std::vector<std::vector<std::string>> keySets = {{"A"}, {"A", "B"}, {"B", "A", "N"}, {"N", "B"}};
  for (int q = 0; q < 1500; ++q) {
    const auto& fields = keySets[static_cast<size_t>(below(4))];
    std::vector<Variant> keys;
    int from = 1 + below(ds.RecordCount());
    for (auto& f : fields) {
      TField& field = ds.FieldByName(f);
      Variant v = ds.RecordValue(from, field);
      if (below(4) == 0) v = field.DataType() == TFieldType::String ? Variant(text()) : Variant(below(40));
      if (v.isString() && below(3) == 0) v = Variant(rtl::AnsiLowerCase(v.asStringRef()));
      keys.push_back(v);
    }
    TLocateOptions opt;
    opt.CaseInsensitive = below(2) == 0;
    opt.PartialKey = below(2) == 0;
    if (opt.PartialKey)
      for (auto& k : keys)
        if (k.isString() && k.asStringRef().size() > 1 && below(2)) k = Variant(k.asStringRef().substr(0, 1));

    int expected = -1;
    for (int r = 1; r <= ds.RecordCount() && expected < 0; ++r)
      if (matches(ds, r, fields, keys, opt)) expected = r;
    std::string names;
    for (auto& n : fields) names += (names.empty() ? "" : ";") + n;
    ds.First();
    bool found = ds.Locate(names, keys.size() == 1 ? keys[0] : Variant(rtl::VariantArray(keys)), opt);
    SCOPED_TRACE("query " + std::to_string(q) + " keys " + names);
    ASSERT_EQ(found, expected > 0);
    if (found) ASSERT_EQ(ds.RecNo(), expected);
    (found ? located : missed)++;
  }
  EXPECT_GT(located, 500);
  EXPECT_GT(missed, 100);
}

}  // namespace
