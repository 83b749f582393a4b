// Behaviour of the data-set engine that the screens rely on: event order,
// state after refused operations, the change log, Locate, filters, indexes,
// data links and Data.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/data/dataset.h"
#include "platform/data/packet.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/text.h"

using namespace data;
using rtl::Variant;

namespace {

// A data set shaped like the client headcounts, with a trace of its events.
struct Fixture : ::testing::Test {
  TClientDataSet ds{"cdsServCli"};
  std::vector<std::string> trace;

  void SetUp() override {
    ds.FieldDefs() = {{"CDCLIENTE", TFieldType::String, 21},
                      {"NMRAZSOCCLIE", TFieldType::String, 50},
                      {"QTCOMEFETCLI", TFieldType::Float},
                      {"DTEFETCLIE", TFieldType::DateTime},
                      {"CDSERVPLAN", TFieldType::String, 5, true}};
    ds.CreateDataSet();
    add("C1", "Alfa", 10, rtl::EncodeDate(2024, 3, 1));
    add("C2", "Beta", 20, rtl::EncodeDate(2024, 3, 2));
    add("C3", "Gama", 30, rtl::EncodeDate(2024, 3, 3));
    ds.MergeChangeLog();
    ds.First();
  }
  void add(const char* code, const char* name, double qt, double dt) {
    ds.Append();
    F("CDCLIENTE").SetAsString(code);
    F("NMRAZSOCCLIE").SetAsString(name);
    F("QTCOMEFETCLI").SetAsFloat(qt);
    F("DTEFETCLIE").SetAsDateTime(dt);
    ds.Post();
  }
  TField& F(const char* n) { return ds.FieldByName(n); }
  void traceEvents() {
    auto ev = [this](const char* n) { return [this, n](TClientDataSet&) { trace.push_back(n); }; };
    ds.BeforeInsert = ev("BeforeInsert");
    ds.AfterInsert = ev("AfterInsert");
    ds.BeforeEdit = ev("BeforeEdit");
    ds.AfterEdit = ev("AfterEdit");
    ds.BeforePost = ev("BeforePost");
    ds.AfterPost = ev("AfterPost");
    ds.BeforeCancel = ev("BeforeCancel");
    ds.AfterCancel = ev("AfterCancel");
    ds.BeforeDelete = ev("BeforeDelete");
    ds.AfterDelete = ev("AfterDelete");
    ds.BeforeScroll = ev("BeforeScroll");
    ds.AfterScroll = ev("AfterScroll");
    ds.OnNewRecord = ev("OnNewRecord");
    ds.BeforeOpen = ev("BeforeOpen");
    ds.AfterOpen = ev("AfterOpen");
    ds.BeforeClose = ev("BeforeClose");
    ds.AfterClose = ev("AfterClose");
  }
  std::vector<std::string> codes() {
    std::vector<std::string> out;
    auto bm = ds.GetBookmark();
    for (int i = 1; i <= ds.RecordCount(); ++i) out.push_back(ds.RecordValue(i, F("CDCLIENTE")).toString());
    (void)bm;
    return out;
  }
  using V = std::vector<std::string>;
};

struct Link : TDataLink {
  std::vector<std::string>* trace;
  TField* pending = nullptr;
  std::string pendingText;
  explicit Link(std::vector<std::string>* t) : trace(t) {}
  void ActiveChanged() override { trace->push_back("link.ActiveChanged"); }
  void DataSetChanged() override { trace->push_back("link.DataSetChanged"); }
  void DataSetScrolled(int) override { trace->push_back("link.DataSetScrolled"); }
  void RecordChanged(TField* f) override { trace->push_back(std::string("link.RecordChanged ") + (f ? f->FieldName() : "-")); }
  void EditingChanged() override { trace->push_back("link.EditingChanged"); }
  void UpdateData() override {
    trace->push_back("link.UpdateData");
    if (pending) pending->SetText(pendingText);
    pending = nullptr;
  }
};

// ---------------------------------------------------------------- events

using Events = Fixture;

TEST_F(Events, InsertEditPostCancelDeleteRunInThePlatformsOrder) {
  traceEvents();
  ds.Insert();
  EXPECT_EQ(trace, (V{"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll"}));
  trace.clear();
  ds.Cancel();
  EXPECT_EQ(trace, (V{"BeforeCancel", "AfterCancel"}));
  trace.clear();
  ds.Edit();
  EXPECT_EQ(trace, (V{"BeforeEdit", "AfterEdit"}));
  trace.clear();
  F("QTCOMEFETCLI").SetAsFloat(11);
  ds.Post();
  EXPECT_EQ(trace, (V{"BeforePost", "AfterPost"}));
  trace.clear();
  ds.Delete();
  EXPECT_EQ(trace, (V{"BeforeDelete", "BeforeScroll", "AfterDelete", "AfterScroll"}));
}

TEST_F(Events, RefusedPostStaysInEditWithTheTypedValues) {
  ds.BeforePost = [](TClientDataSet&) { rtl::Abort(); };
  ds.Edit();
  F("QTCOMEFETCLI").SetAsFloat(99);
  EXPECT_THROW(ds.Post(), rtl::EAbort);
  EXPECT_EQ(ds.State(), TDataSetState::Edit);
  EXPECT_EQ(F("QTCOMEFETCLI").AsFloat(), 99);
  EXPECT_TRUE(ds.Modified());
  // Navigation posts first, so it is refused too and the cursor stays.
  EXPECT_THROW(ds.Next(), rtl::EAbort);
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_EQ(ds.ChangeCount(), 0);
}

TEST_F(Events, RefusedEditAndInsertStayInBrowse) {
  ds.BeforeEdit = [](TClientDataSet&) { rtl::Abort(); };
  EXPECT_THROW(ds.Edit(), rtl::EAbort);
  EXPECT_EQ(ds.State(), TDataSetState::Browse);
  EXPECT_THROW(F("QTCOMEFETCLI").SetAsFloat(1), rtl::EDatabaseError);

  ds.OnNewRecord = [](TClientDataSet&) { throw rtl::Exception("no"); };
  ds.Next();
  EXPECT_THROW(ds.Insert(), rtl::Exception);
  EXPECT_EQ(ds.State(), TDataSetState::Browse);
  EXPECT_EQ(ds.RecNo(), 2);
  EXPECT_EQ(ds.RecordCount(), 3);
}

TEST_F(Events, RefusedDeleteKeepsTheRow) {
  ds.BeforeDelete = [](TClientDataSet&) { rtl::Abort(); };
  EXPECT_THROW(ds.Delete(), rtl::EAbort);
  EXPECT_EQ(ds.RecordCount(), 3);
  EXPECT_EQ(ds.ChangeCount(), 0);
}

TEST_F(Events, ScrollEventsAtTheEnds) {
  traceEvents();
  ds.Last();
  trace.clear();
  ds.Next();  // Last already set Eof
  EXPECT_EQ(trace, (V{"BeforeScroll"}));
  ds.Prior();
  ds.Next();
  EXPECT_FALSE(ds.Eof());
  trace.clear();
  ds.Next();  // reaches Eof: the move is tried, so AfterScroll runs
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(trace, (V{"BeforeScroll", "AfterScroll"}));
  trace.clear();
  ds.Next();  // already at Eof
  EXPECT_EQ(trace, (V{"BeforeScroll"}));
  EXPECT_EQ(ds.RecNo(), 3);
}

TEST_F(Events, NavigationPostsAModifiedRowAndCancelsAnUntouchedInsert) {
  ds.Edit();
  F("NMRAZSOCCLIE").SetAsString("Alfa Ltda");
  ds.Next();
  EXPECT_EQ(ds.State(), TDataSetState::Browse);
  EXPECT_EQ(ds.ChangeCount(), 1);
  ds.Append();
  ds.First();
  EXPECT_EQ(ds.RecordCount(), 3);
  EXPECT_EQ(ds.ChangeCount(), 1);
}

TEST_F(Events, EditOnAnEmptyDataSetInserts) {
  ds.EmptyDataSet();
  ds.Edit();
  EXPECT_EQ(ds.State(), TDataSetState::Insert);
}

TEST_F(Events, SetDataClosesReopensAndScrollsOnlyWhenNotEmpty) {
  auto packet = ds.Data();
  traceEvents();
  ds.SetData(packet);
  EXPECT_EQ(trace, (V{"BeforeClose", "AfterClose", "BeforeOpen", "AfterOpen", "AfterScroll"}));
  EXPECT_EQ(ds.RecordCount(), 3);

  TClientDataSet empty;
  empty.FieldDefs() = {{"A", TFieldType::String, 3}};
  empty.CreateDataSet();
  trace.clear();
  ds.SetData(empty.Data());
  EXPECT_EQ(trace, (V{"BeforeClose", "AfterClose", "BeforeOpen", "AfterOpen"}));
  EXPECT_EQ(ds.FieldCount(), 1u);
}

TEST_F(Events, ReadingDataPostsAPendingEdit) {
  ds.Edit();
  F("QTCOMEFETCLI").SetAsFloat(77);
  auto packet = ds.Data();
  EXPECT_EQ(ds.State(), TDataSetState::Browse);
  TClientDataSet copy;
  copy.SetData(packet);
  EXPECT_EQ(copy.FieldByName("QTCOMEFETCLI").AsFloat(), 77);
}

TEST_F(Events, ABadPacketLeavesTheDataSetAsItWas) {
  EXPECT_THROW(ds.SetData(rtl::DataPacket(std::string("{\"packet\":\"efet\""))), rtl::EDatabaseError);
  EXPECT_TRUE(ds.Active());
  EXPECT_EQ(ds.RecordCount(), 3);
}

// ---------------------------------------------------------------- fields

using Fields = Fixture;

TEST_F(Fields, ConversionsAndRounding) {
  ds.Edit();
  F("QTCOMEFETCLI").SetAsFloat(2.5);
  EXPECT_EQ(F("QTCOMEFETCLI").AsInteger(), 2);
  F("QTCOMEFETCLI").SetAsFloat(3.5);
  EXPECT_EQ(F("QTCOMEFETCLI").AsInteger(), 4);
  F("QTCOMEFETCLI").SetAsFloat(1.5);
  EXPECT_EQ(F("QTCOMEFETCLI").AsString(), "1,5");
  F("QTCOMEFETCLI").Clear();
  EXPECT_TRUE(F("QTCOMEFETCLI").IsNull());
  EXPECT_EQ(F("QTCOMEFETCLI").AsFloat(), 0.0);
  EXPECT_EQ(F("QTCOMEFETCLI").AsString(), "");
  F("QTCOMEFETCLI").SetText("");
  EXPECT_TRUE(F("QTCOMEFETCLI").IsNull());
  EXPECT_THROW(F("QTCOMEFETCLI").SetText("abc"), rtl::EConvertError);
  F("DTEFETCLIE").SetText("05/03/2024");
  EXPECT_EQ(F("DTEFETCLIE").AsDateTime(), rtl::EncodeDate(2024, 3, 5));
  EXPECT_EQ(F("DTEFETCLIE").Value().type(), rtl::VarType::DateTime);
}

TEST_F(Fields, StringsAreCutToTheirSizeInCharactersAndKeepBlanks) {
  ds.Edit();
  F("CDSERVPLAN").SetAsString("ÁÉÍÓÚXYZ");
  EXPECT_EQ(F("CDSERVPLAN").AsString(), "ÁÉÍÓÚ");
  F("CDSERVPLAN").SetAsString("AB  ");
  EXPECT_EQ(F("CDSERVPLAN").AsString(), "AB  ");
  F("NMRAZSOCCLIE").SetAsString("");
  EXPECT_FALSE(F("NMRAZSOCCLIE").IsNull());  // empty is not null
  ds.Post();
  EXPECT_EQ(F("CDSERVPLAN").AsString(), "AB  ");
  EXPECT_THROW({ ds.Edit(); F("NMRAZSOCCLIE").SetAsString(std::string("\xff\xfe")); }, rtl::EConvertError);
}

TEST_F(Fields, DisplayTextFormatsAndGetText) {
  auto& q = F("QTCOMEFETCLI");
  q.DisplayFormat = "#,##0.00";
  q.EditFormat = "0.000";
  ds.Edit();
  q.SetAsFloat(1234.5);
  EXPECT_EQ(q.DisplayText(), "1.234,50");
  EXPECT_EQ(q.Text(), "1234,500");
  q.OnGetText = [](TField& f, std::string& text, bool display) { text = display ? "D" + f.AsString() : "E"; };
  EXPECT_EQ(q.DisplayText(), "D1234,5");
  EXPECT_EQ(q.Text(), "E");
}

TEST_F(Fields, ValidateBeforeAndChangeAfterTheAssignment) {
  auto& q = F("QTCOMEFETCLI");
  std::vector<std::string> seen;
  q.OnValidate = [&](TField& f) {
    seen.push_back("validate " + f.AsString());
    if (f.AsFloat() < 0) throw rtl::Exception("negative");
  };
  q.OnChange = [&](TField& f) { seen.push_back("change " + f.AsString()); };
  ds.Edit();
  q.SetAsFloat(5);
  EXPECT_THROW(q.SetAsFloat(-1), rtl::Exception);
  EXPECT_EQ(q.AsFloat(), 5);
  EXPECT_EQ(seen, (std::vector<std::string>{"validate 5", "change 5", "validate -1"}));
}

TEST_F(Fields, OldValueAndCalculatedFieldsStayOutOfTheLog) {
  TClientDataSet c("cdsDtCardapio");
  c.AddField({"DTORDENA", TFieldType::DateTime});
  auto& dia = c.AddCalcField({"DSDIASEMANA", TFieldType::String, 15});
  int calls = 0;
  c.OnCalcFields = [&](TClientDataSet& d) {
    ++calls;
    d.FieldByName("DSDIASEMANA").SetAsString(rtl::DayOfWeek(d.FieldByName("DTORDENA").AsDateTime()) == 1 ? "Domingo" : "Outro");
  };
  c.CreateDataSet();
  c.Append();
  c.FieldByName("DTORDENA").SetAsDateTime(rtl::EncodeDate(2024, 3, 3));  // a Sunday
  c.Post();
  EXPECT_EQ(dia.AsString(), "Domingo");
  EXPECT_THROW(dia.SetAsString("x"), rtl::EDatabaseError);
  EXPECT_GT(calls, 0);
  c.MergeChangeLog();
  c.Edit();
  c.FieldByName("DTORDENA").SetAsDateTime(rtl::EncodeDate(2024, 3, 4));
  EXPECT_EQ(dia.AsString(), "Outro");
  EXPECT_EQ(c.FieldByName("DTORDENA").OldValue().toDateTime(), rtl::EncodeDate(2024, 3, 3));
  c.Post();
  PacketReader r(c.Data());
  ASSERT_EQ(r.FieldDefs().size(), 1u);  // calculated fields are not stored
  EXPECT_EQ(r.FieldDefs()[0].Name, "DTORDENA");
}

TEST_F(Fields, RequiredFieldsRefuseThePost) {
  TClientDataSet c;
  c.AddField({"CDFILIAL", TFieldType::String, 4, false, true});
  c.CreateDataSet();
  c.Append();
  EXPECT_THROW(c.Post(), rtl::EDatabaseError);
  EXPECT_EQ(c.State(), TDataSetState::Insert);
  c.FieldByName("CDFILIAL").SetAsString("0001");
  c.Post();
  EXPECT_EQ(c.RecordCount(), 1);
}

TEST_F(Fields, PersistentFieldsMustMatchThePacket) {
  TClientDataSet c;
  c.AddField({"CDCLIENTE", TFieldType::Float});
  EXPECT_THROW(c.SetData(ds.Data()), rtl::EDatabaseError);
  TClientDataSet d;
  d.AddField({"NAOEXISTE", TFieldType::String, 5});
  EXPECT_THROW(d.SetData(ds.Data()), rtl::EDatabaseError);
  EXPECT_THROW(ds.FieldByName("NAOEXISTE"), rtl::EDatabaseError);
}

// Float reads take a short way while browsing: it must give what Value gives in
// every state, and follow a persistent field to its column in each new packet.
TEST_F(Fields, FloatReadsFollowStateAndColumn) {
  TClientDataSet other;
  other.FieldDefs() = {{"DTEFETCLIE", TFieldType::DateTime}, {"QTCOMEFETCLI", TFieldType::Float}};
  other.CreateDataSet();
  other.Append();
  other.Fields(0).SetAsDateTime(7.0);
  other.Fields(1).SetAsFloat(99.0);
  other.Post();
  other.MergeChangeLog();

  TClientDataSet c;
  TField& qt = c.AddField({"QTCOMEFETCLI", TFieldType::Float});
  TField& dt = c.AddField({"DTEFETCLIE", TFieldType::DateTime});
  c.SetData(ds.Data());
  std::vector<double> seen;
  for (c.First(); !c.Eof(); c.Next()) seen.push_back(qt.AsFloat());
  EXPECT_EQ(seen, (std::vector<double>{10, 20, 30}));
  EXPECT_EQ(dt.AsFloat(), rtl::EncodeDate(2024, 3, 3));

  c.Edit();
  qt.SetAsFloat(31);
  EXPECT_EQ(qt.AsFloat(), 31);
  c.Cancel();
  EXPECT_EQ(qt.AsFloat(), 30);
  c.Append();
  EXPECT_EQ(qt.AsFloat(), 0.0);
  c.Cancel();

  c.SetData(other.Data());  // the same fields, their columns swapped
  EXPECT_EQ(qt.AsFloat(), 99.0);
  EXPECT_EQ(dt.AsFloat(), 7.0);
  c.Close();
  EXPECT_EQ(qt.AsFloat(), 0.0);
}

// ---------------------------------------------------------------- change log

using ChangeLog = Fixture;

TEST_F(ChangeLog, CountsChangedRecordsNotEdits) {
  ds.Append();
  F("CDCLIENTE").SetAsString("C4");
  ds.Post();
  ds.Edit();
  F("QTCOMEFETCLI").SetAsFloat(4);
  ds.Post();
  EXPECT_EQ(ds.ChangeCount(), 1);  // inserted then modified

  ds.First();
  ds.Edit();
  F("QTCOMEFETCLI").SetAsFloat(11);
  ds.Post();
  ds.Edit();
  F("QTCOMEFETCLI").SetAsFloat(12);
  ds.Post();
  EXPECT_EQ(ds.ChangeCount(), 2);
  ds.Edit();
  F("QTCOMEFETCLI").SetAsFloat(10);  // back to the original by hand
  ds.Post();
  EXPECT_EQ(ds.ChangeCount(), 1);
  EXPECT_EQ(ds.UpdateStatus(), TUpdateStatus::Unmodified);

  ds.Last();
  ds.Delete();  // the inserted row
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_TRUE(ds.Delta().empty() || PacketReader(ds.Delta()).Next() == false);
}

TEST_F(ChangeLog, DeltaCarriesStatesOriginalsAndChangedFields) {
  ds.Edit();
  F("QTCOMEFETCLI").SetAsFloat(15);
  ds.Post();
  ds.Next();
  ds.Delete();
  ds.Append();
  F("CDCLIENTE").SetAsString("C9");
  ds.Post();

  PacketReader r(ds.Delta());
  EXPECT_EQ(r.Kind(), PacketKind::Delta);
  int q = r.FieldIndex("qtcomefetcli");
  ASSERT_TRUE(r.Next());
  EXPECT_EQ(r.Status(), TUpdateStatus::Modified);
  EXPECT_EQ(r.Values()[q].toDouble(), 15);
  EXPECT_EQ(r.OldValues()[q].toDouble(), 10);
  EXPECT_EQ(r.Changed(), (std::vector<bool>{false, false, true, false, false}));
  ASSERT_TRUE(r.Next());
  EXPECT_EQ(r.Status(), TUpdateStatus::Deleted);
  EXPECT_EQ(r.OldValues()[0].toString(), "C2");
  ASSERT_TRUE(r.Next());
  EXPECT_EQ(r.Status(), TUpdateStatus::Inserted);
  EXPECT_EQ(r.Values()[0].toString(), "C9");
  EXPECT_TRUE(r.OldValues()[0].isNull());
  EXPECT_FALSE(r.Next());
}

TEST_F(ChangeLog, CancelUpdatesRestoresEverythingInPlace) {
  auto before = ds.Data();
  ds.Edit();
  F("NMRAZSOCCLIE").SetAsString("Mudou");
  ds.Post();
  ds.Next();
  ds.Edit();
  F("QTCOMEFETCLI").SetAsFloat(1);
  ds.Post();
  ds.Delete();  // modified, then deleted
  ds.Append();
  F("CDCLIENTE").SetAsString("C4");
  ds.Post();
  ds.CancelUpdates();
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_EQ(codes(), (V{"C1", "C2", "C3"}));
  ds.Locate("CDCLIENTE", "C2");
  EXPECT_EQ(F("QTCOMEFETCLI").AsFloat(), 20);
  EXPECT_EQ(ds.Data(), before);
}

TEST_F(ChangeLog, MergeMakesChangesTheBaseAndRevertUndoesOneRow) {
  ds.Edit();
  F("QTCOMEFETCLI").SetAsFloat(1);
  ds.Post();
  ds.Next();
  ds.Edit();
  F("QTCOMEFETCLI").SetAsFloat(2);
  ds.Post();
  ds.RevertRecord();
  EXPECT_EQ(F("QTCOMEFETCLI").AsFloat(), 20);
  EXPECT_EQ(ds.ChangeCount(), 1);
  ds.MergeChangeLog();
  EXPECT_EQ(ds.ChangeCount(), 0);
  ds.First();
  EXPECT_EQ(F("QTCOMEFETCLI").AsFloat(), 1);
  EXPECT_EQ(F("QTCOMEFETCLI").OldValue().toDouble(), 1);
  ds.CancelUpdates();
  EXPECT_EQ(F("QTCOMEFETCLI").AsFloat(), 1);
}

TEST_F(ChangeLog, DataRoundTripsPendingChanges) {
  ds.Edit();
  F("QTCOMEFETCLI").SetAsFloat(0.1 + 0.2);
  ds.Post();
  ds.Next();
  ds.Delete();
  ds.Append();
  F("CDCLIENTE").SetAsString("C4");
  ds.Post();
  TClientDataSet copy;
  copy.CopyDataFrom(ds);
  EXPECT_EQ(copy.ChangeCount(), 3);
  EXPECT_EQ(copy.Delta(), ds.Delta());
  EXPECT_EQ(copy.Data(), ds.Data());
  copy.CancelUpdates();
  EXPECT_EQ(copy.RecordCount(), 3);
  copy.First();
  copy.Next();
  EXPECT_EQ(copy.FieldByName("CDCLIENTE").AsString(), "C2");  // back where it was
}

TEST_F(ChangeLog, RepeatedEditsAndMergesKeepValuesAndRefuseStaleBookmarks) {
  ds.EmptyDataSet();
  for (int i = 0; i < 5000; ++i) add(("K" + std::to_string(i)).c_str(), "Nome", i, 1.0);
  ds.MergeChangeLog();
  ds.Last();
  auto old = ds.GetBookmark();
  for (int round = 1; round <= 3; ++round) {
    for (ds.First(); !ds.Eof(); ds.Next()) {
      ds.Edit();
      F("NMRAZSOCCLIE").SetAsString("Nome " + std::to_string(round));
      F("QTCOMEFETCLI").SetAsFloat(F("QTCOMEFETCLI").AsFloat() + 1);
      ds.Post();
    }
    ds.MergeChangeLog();
  }
  EXPECT_EQ(ds.RecordCount(), 5000);
  EXPECT_EQ(ds.ChangeCount(), 0);
  // Rows of original values are reused from merge to merge: the storage did
  // not grow, and the bookmark still leads to its row.
  ASSERT_TRUE(ds.BookmarkValid(old));
  ds.GotoBookmark(old);
  EXPECT_EQ(F("CDCLIENTE").AsString(), "K4999");
  // Deleting most rows and merging compacts the storage: the old bookmark is
  // then refused, not misread.
  ds.First();
  for (int i = 0; i < 4000; ++i) ds.Delete();
  ds.MergeChangeLog();
  EXPECT_EQ(ds.RecordCount(), 1000);
  EXPECT_FALSE(ds.BookmarkValid(old));
  EXPECT_THROW(ds.GotoBookmark(old), rtl::EDatabaseError);
  ds.Last();
  EXPECT_EQ(F("CDCLIENTE").AsString(), "K4999");
  EXPECT_EQ(F("NMRAZSOCCLIE").AsString(), "Nome 3");
  EXPECT_EQ(F("QTCOMEFETCLI").AsFloat(), 4999 + 3);
  auto b = ds.GetBookmark();
  ds.First();
  ds.GotoBookmark(b);
  EXPECT_EQ(F("CDCLIENTE").AsString(), "K4999");
  TClientDataSet copy;
  copy.CopyDataFrom(ds);
  EXPECT_EQ(copy.Data(), ds.Data());
}

// Enough rows that the change log spans several of its pages and the view
// and row states outgrow the ordinary heap: edits, deletes and an insert
// spread over all of them keep their originals, travel in the delta, and
// are undone in place.
TEST_F(ChangeLog, ChangesSpreadOverManyRowsKeepTheirOriginals) {
  ds.EmptyDataSet();
  const int n = 70000;
  for (int i = 0; i < n; ++i) add(("K" + std::to_string(i)).c_str(), "Nome", i, 1.0);
  ds.MergeChangeLog();
  auto before = ds.Data();
  int edits = 0;
  for (int rec = 1; rec <= n; rec += 6999) {
    ds.SetRecNo(rec);
    ds.Edit();
    F("QTCOMEFETCLI").SetAsFloat(-rec);
    ds.Post();
    ++edits;
  }
  ds.SetRecNo(n);
  ds.Delete();
  ds.SetRecNo(35000);
  ds.Insert();
  F("CDCLIENTE").SetAsString("NOVO");
  ds.Post();
  EXPECT_EQ(ds.RecNo(), 35000);
  EXPECT_EQ(ds.ChangeCount(), edits + 2);
  ASSERT_TRUE(ds.Locate("CDCLIENTE", Variant("K" + std::to_string(6999 * 9))));
  EXPECT_EQ(F("QTCOMEFETCLI").AsFloat(), -(1 + 6999 * 9));
  EXPECT_EQ(F("QTCOMEFETCLI").OldValue().toDouble(), 6999 * 9);

  PacketReader r(ds.Delta());
  int modified = 0, inserted = 0, deleted = 0;
  while (r.Next()) {
    switch (r.Status()) {
      case TUpdateStatus::Modified:
        ++modified;
        EXPECT_EQ(r.Values()[0].toString(), "K" + std::to_string(r.OldValues()[2].toInt()));
        EXPECT_EQ(r.Values()[2].toDouble(), -(r.OldValues()[2].toDouble() + 1));
        break;
      case TUpdateStatus::Inserted: ++inserted; break;
      case TUpdateStatus::Deleted:
        ++deleted;
        EXPECT_EQ(r.Values()[0].toString(), "K" + std::to_string(n - 1));
        break;
      default: ADD_FAILURE();
    }
  }
  EXPECT_EQ(modified, edits);
  EXPECT_EQ(inserted, 1);
  EXPECT_EQ(deleted, 1);

  // An edit put back is no change; the rest are undone where they were.
  ASSERT_TRUE(ds.Locate("CDCLIENTE", Variant("K6999")));
  ds.Edit();
  F("QTCOMEFETCLI").SetAsFloat(6999);
  ds.Post();
  EXPECT_EQ(ds.ChangeCount(), edits + 1);
  ds.CancelUpdates();
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_EQ(ds.Data(), before);
  ds.SetIndexFieldNames("QTCOMEFETCLI");
  ds.Last();
  EXPECT_EQ(F("CDCLIENTE").AsString(), "K" + std::to_string(n - 1));
}

// Chunks freed by one data set serve the next one, never one still in use;
// a column of codes that never repeat stops looking for repeats, then finds
// them again when they come.
TEST(Storage, FreedChunksAreReusedAndShortTextsStayExact) {
  auto make = [](const std::string& tag, int n) {
    auto ds = std::make_unique<TClientDataSet>();
    ds->FieldDefs() = {{"CODE", TFieldType::String, 20}, {"QT", TFieldType::Float}};
    ds->CreateDataSet();
    for (int i = 0; i < n; ++i) {
      ds->Append();
      // Unique codes first, then a handful repeated.
      ds->FieldByName("CODE").SetAsString(i < n / 2 ? tag + std::to_string(i) : tag + std::to_string(i % 3));
      ds->FieldByName("QT").SetAsFloat(i);
      ds->Post();
    }
    return ds;
  };
  auto check = [](TClientDataSet& ds, const std::string& tag, int n) {
    int i = 0;
    for (ds.First(); !ds.Eof(); ds.Next(), ++i) {
      ASSERT_EQ(ds.FieldByName("CODE").AsString(), i < n / 2 ? tag + std::to_string(i) : tag + std::to_string(i % 3));
      ASSERT_EQ(ds.FieldByName("QT").AsFloat(), i);
    }
    EXPECT_EQ(i, n);
  };
  const int n = 150000;
  auto a = make("A", n);
  auto b = make("B", n);
  a.reset();
  auto c = make("C", n);
  check(*b, "B", n);
  check(*c, "C", n);
  // A load sizes its columns ahead, in slabs of its own; freeing the rows
  // it was loaded from and appending more leaves it whole.
  TClientDataSet d;
  d.SetData(b->Data());
  b.reset();
  auto e = make("E", n);
  check(d, "B", n);
  check(*c, "C", n);
  check(*e, "E", n);
}

// CopyDataFrom copies straight from the other data set's storage; what it
// leaves must be what loading the other's packet leaves, change log and
// originals included, whatever was done to the rows.
TEST(Storage, CopyDataFromLeavesWhatTheDataPacketLeaves) {
  for (unsigned seed : {1u, 2u, 3u, 4u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    TClientDataSet src;
    src.FieldDefs() = {{"K", TFieldType::Integer},        {"S", TFieldType::String, 4},
                       {"T", TFieldType::String, 60},     {"B", TFieldType::Boolean},
                       {"F", TFieldType::Float},          {"D", TFieldType::DateTime},
                       {"FX", TFieldType::String, 3, true}};
    src.CreateDataSet();
    const char* words[] = {"", "a", "Ação", "coração e maçã", "0001", "um texto bem mais longo que dezesseis"};
    int next = 0;
    auto fill = [&]() {
      auto set = [&](const char* name, auto&& put) {
        if (pick(6) == 0) src.FieldByName(name).Clear();
        else put(src.FieldByName(name));
      };
      src.FieldByName("K").SetAsInteger(next++);
      set("S", [&](TField& f) { f.SetAsString("S" + std::to_string(pick(5))); });
      // Many distinct texts after the first rows, so T leaves its codes.
      set("T", [&](TField& f) { f.SetAsString(std::string(words[pick(6)]) + std::to_string(pick(400))); });
      set("B", [&](TField& f) { f.SetAsBoolean(pick(2) == 1); });
      set("F", [&](TField& f) { f.SetAsFloat(pick(3) == 0 ? -0.0 : (pick(20000) - 10000) / 7.0); });
      set("D", [&](TField& f) { f.SetAsDateTime(rtl::EncodeDate(2024, 1, 1) + pick(900) / 8.0); });
      set("FX", [&](TField& f) { f.SetAsString(pick(2) ? "X" : "YZ"); });
    };
    for (int i = 0; i < 1500; ++i) {
      src.Append();
      fill();
      src.Post();
    }
    src.MergeChangeLog();
    for (int op = 0; op < 700; ++op) {
      src.SetRecNo(1 + pick(src.RecordCount()));
      switch (pick(6)) {
        case 0: src.Delete(); break;
        case 1:
          src.Insert();
          fill();
          src.Post();
          break;
        case 2: {  // an edit put back by hand
          std::string was = src.FieldByName("T").AsString();
          bool wasNull = src.FieldByName("T").IsNull();
          src.Edit();
          src.FieldByName("T").SetAsString("outro");
          src.Post();
          src.Edit();
          if (wasNull) src.FieldByName("T").Clear();
          else src.FieldByName("T").SetAsString(was);
          src.Post();
          break;
        }
        default:
          src.Edit();
          fill();
          src.FieldByName("K").SetAsInteger(src.FieldByName("K").AsInteger());
          src.Post();
      }
    }
    // The view's order and a filter are the source's own, not its contents.
    src.SetIndexFieldNames("T;F");
    src.SetFilter("B = True");
    src.SetFiltered(true);
    src.First();
    src.Edit();  // pending: both ways post it first
    src.FieldByName("F").SetAsFloat(0.5);

    TClientDataSet copied, loaded;
    copied.CopyDataFrom(src);
    loaded.SetData(src.Data());
    ASSERT_GT(src.ChangeCount(), 0);
    EXPECT_EQ(copied.ChangeCount(), loaded.ChangeCount());
    EXPECT_EQ(copied.RecordCount(), loaded.RecordCount());
    EXPECT_EQ(copied.Data(), loaded.Data());
    EXPECT_EQ(copied.Data(), src.Data());
    EXPECT_EQ(copied.Delta(), loaded.Delta());
    copied.CancelUpdates();
    loaded.CancelUpdates();
    EXPECT_EQ(copied.Data(), loaded.Data());
    // The copy stands on its own: changing it leaves the source alone.
    auto before = src.Data();
    copied.First();
    copied.Edit();
    copied.FieldByName("T").SetAsString("só na cópia");
    copied.Post();
    EXPECT_EQ(src.Data(), before);
  }
}

// An edit keeps a field's original only when it first changes that field,
// in rows of originals that merges give back and later edits take again.
// Against a model of every row's base and current values, through random
// edits of one to three fields, edits put back by hand, inserts, deletes,
// reverts, merges, cancels and reloads: OldValue, the delta's originals, the
// change count and the undo all show the base, never a stale cell of a
// reused row, and inserts logged beside edits keep their status.
TEST(Storage, OriginalsAreTheBaseWhateverEditsFollow) {
  const std::vector<std::string> names = {"K", "S", "T", "B", "F", "D", "I"};
  using Row = std::vector<std::string>;  // per field: AsString, "\x01" for null
  for (unsigned seed : {11u, 12u, 13u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    TClientDataSet ds;
    ds.FieldDefs() = {{"K", TFieldType::Integer},    {"S", TFieldType::String, 6}, {"T", TFieldType::String, 40},
                      {"B", TFieldType::Boolean},    {"F", TFieldType::Float},     {"D", TFieldType::DateTime},
                      {"I", TFieldType::Integer}};
    ds.CreateDataSet();
    auto read = [&]() {
      Row row;
      for (auto& n : names) {
        TField& f = ds.FieldByName(n);
        row.push_back(f.IsNull() ? "\x01" : f.AsString());
      }
      return row;
    };
    auto old = [&]() {
      Row row;
      for (auto& n : names) {
        Variant v = ds.FieldByName(n).OldValue();
        row.push_back(v.isNullOrEmpty() ? "\x01" : v.toString());
      }
      return row;
    };
    auto setField = [&](size_t f) {
      TField& fld = ds.FieldByName(names[f]);
      if (pick(7) == 0) return fld.Clear();
      switch (f) {
        case 1: return fld.SetAsString("s" + std::to_string(pick(4)));
        case 2: return fld.SetAsString("texto " + std::to_string(pick(300)) + (pick(2) ? " ção" : ""));
        case 3: return fld.SetAsBoolean(pick(2) == 1);
        case 4: return fld.SetAsFloat((pick(2000) - 1000) / 8.0);
        case 5: return fld.SetAsDateTime(rtl::EncodeDate(2025, 3, 1) + pick(60));
        default: return fld.SetAsInteger(pick(50));
      }
    };
    const int n = 600;
    for (int i = 0; i < n; ++i) {
      ds.Append();
      ds.FieldByName("K").SetAsInteger(i);
      for (size_t f = 1; f < names.size(); ++f) setField(f);
      ds.Post();
    }
    ds.MergeChangeLog();
    std::map<int, Row> base, now;  // by K; rows deleted since the base are not in now, inserted not in base
    int next = n;
    for (ds.First(); !ds.Eof(); ds.Next()) base[ds.FieldByName("K").AsInteger()] = now[ds.FieldByName("K").AsInteger()] = read();

    auto check = [&]() {
      int changes = 0;
      for (auto& [k, row] : base) changes += !now.count(k) || now[k] != row;
      for (auto& [k, row] : now) changes += !base.count(k);
      ASSERT_EQ(ds.ChangeCount(), changes);
      ASSERT_EQ(ds.RecordCount(), static_cast<int>(now.size()));
      for (ds.First(); !ds.Eof(); ds.Next()) {
        int k = ds.FieldByName("K").AsInteger();
        ASSERT_EQ(read(), now[k]) << "row " << k;
        ASSERT_EQ(old(), base.count(k) ? base[k] : Row(names.size(), "\x01")) << "row " << k;
      }
      PacketReader d(ds.Delta());
      int rows = 0;
      while (d.Next()) {
        ++rows;
        if (d.Status() == TUpdateStatus::Inserted) {
          ASSERT_FALSE(base.count(static_cast<int>(d.Values()[0].toInt())));
          continue;
        }
        Row orig;
        for (auto& v : d.OldValues()) orig.push_back(v.isNullOrEmpty() ? "\x01" : v.toString());
        int k = static_cast<int>(d.OldValues()[0].toInt());
        ASSERT_EQ(orig[0], std::to_string(k));
        // Dates and floats come back as numbers: compare through a data set.
        TClientDataSet one;
        one.FieldDefs() = ds.FieldDefs();
        one.CreateDataSet();
        one.Append();
        for (size_t f = 0; f < names.size(); ++f)
          if (!d.OldValues()[f].isNullOrEmpty()) one.FieldByName(names[f]).SetValue(d.OldValues()[f]);
        one.Post();
        Row got;
        for (auto& nm : names) got.push_back(one.FieldByName(nm).IsNull() ? "\x01" : one.FieldByName(nm).AsString());
        ASSERT_EQ(got, base[k]) << "delta row of " << k;
      }
      ASSERT_EQ(rows, changes);
    };

    for (int round = 0; round < 40; ++round) {
      for (int op = 0; op < 25 && ds.RecordCount() > 0; ++op) {
        ds.SetRecNo(1 + pick(ds.RecordCount()));
        int k = ds.FieldByName("K").AsInteger();
        switch (pick(9)) {
          case 0:
            ds.Delete();
            now.erase(k);
            break;
          case 1:
            ds.RevertRecord();
            if (base.count(k)) now[k] = base[k];
            else now.erase(k);
            break;
          case 8:
            ds.Insert();
            ds.FieldByName("K").SetAsInteger(next);
            for (size_t f = 1; f < names.size(); ++f) setField(f);
            ds.Post();
            now[next++] = read();
            break;
          case 2: {  // one field changed, then put back by hand
            size_t f = 1 + static_cast<size_t>(pick(6));
            ds.Edit();
            setField(f);
            ds.Post();
            ds.Edit();
            TField& fld = ds.FieldByName(names[f]);
            if (!base.count(k)) fld.Clear();
            else if (base[k][f] == "\x01") fld.Clear();
            else if (f == 4) fld.SetAsFloat(std::stod(base[k][f]));
            else if (f == 5) fld.SetAsString(base[k][f]);
            else fld.SetAsString(base[k][f]);
            ds.Post();
            now[k] = read();
            break;
          }
          default: {
            ds.Edit();
            for (int m = 1 + pick(3); m > 0; --m) setField(1 + static_cast<size_t>(pick(6)));
            ds.Post();
            now[k] = read();
          }
        }
      }
      check();
      switch (round % 5) {
        case 1:  // the changes become the base; their rows go back for reuse
          ds.MergeChangeLog();
          base = now;
          break;
        case 3:  // reloaded: every original kept in full, then edited further
          ds.SetData(ds.Data());
          break;
        case 4:
          if (round % 10 == 9) {
            ds.CancelUpdates();
            now = base;
          }
          break;
        default: break;
      }
      check();
    }
  }
}

// A coded column finds a short text's code by the words it hashes: texts
// that differ in any one byte, at any length, get codes of their own.
TEST(Storage, CodedTextsThatDifferInOneByteStayApart) {
  TClientDataSet ds;
  ds.FieldDefs() = {{"T", TFieldType::String, 30}};
  ds.CreateDataSet();
  std::vector<std::string> texts;
  for (size_t n = 1; n <= 20; ++n) {
    std::string base(n, 'a');
    for (size_t i = 0; i < n; ++i) base[i] = static_cast<char>('a' + i % 7);
    texts.push_back(base);
    for (size_t i = 0; i < n; ++i) {
      std::string t = base;
      t[i] = 'Z';
      texts.push_back(t);
    }
  }
  ASSERT_LT(texts.size(), 255u);  // all coded
  for (int pass = 0; pass < 2; ++pass)  // the second pass finds every code
    for (auto& t : texts) {
      ds.Append();
      ds.FieldByName("T").SetAsString(t);
      ds.Post();
    }
  size_t i = 0;
  for (ds.First(); !ds.Eof(); ds.Next(), ++i) ASSERT_EQ(ds.FieldByName("T").AsString(), texts[i % texts.size()]);
  EXPECT_EQ(i, 2 * texts.size());
  ds.SetFilter("T = 'abcdefgabZ'");
  ds.SetFiltered(true);
  EXPECT_EQ(ds.RecordCount(), 2);
}

// Beyond 64 fields an edit keeps every original at once: the same results.
TEST(Storage, OriginalsOfWideRowsAreKeptWhole) {
  TClientDataSet ds;
  std::vector<TFieldDef> defs;
  for (int f = 0; f < 70; ++f) defs.push_back({"F" + std::to_string(f), TFieldType::Integer});
  ds.FieldDefs() = defs;
  ds.CreateDataSet();
  for (int r = 0; r < 3; ++r) {
    ds.Append();
    for (int f = 0; f < 70; ++f) ds.FieldByName("F" + std::to_string(f)).SetAsInteger(100 * r + f);
    ds.Post();
  }
  ds.MergeChangeLog();
  auto before = ds.Data();
  for (int round = 0; round < 2; ++round) {  // the second takes rows the merge gave back
    ds.SetRecNo(2);
    ds.Edit();
    ds.FieldByName("F3").SetAsInteger(-1);
    ds.FieldByName("F66").SetAsInteger(-2);
    ds.Post();
    ds.Edit();
    ds.FieldByName("F68").SetAsInteger(-3);
    ds.Post();
    EXPECT_EQ(ds.FieldByName("F3").OldValue().toInt(), 103);
    EXPECT_EQ(ds.FieldByName("F66").OldValue().toInt(), 166);
    EXPECT_EQ(ds.FieldByName("F68").OldValue().toInt(), 168);
    EXPECT_EQ(ds.FieldByName("F69").OldValue().toInt(), 169);
    EXPECT_EQ(ds.ChangeCount(), 1);
    if (round == 0) {
      ds.MergeChangeLog();
      ds.CancelUpdates();
      ds.SetRecNo(2);
      ds.Edit();
      for (int f : {3, 66, 68}) ds.FieldByName("F" + std::to_string(f)).SetAsInteger(100 + f);
      ds.Post();
      ds.MergeChangeLog();
      EXPECT_EQ(ds.Data(), before);
    }
  }
  ds.CancelUpdates();
  EXPECT_EQ(ds.Data(), before);
}

// A text column keeps its first distinct values as one-byte codes and turns
// into offsets at the 256th: whether that happens on an append or on an
// edit, with originals kept in the change log, every value, null, order,
// comparison and undo stays what it was.
TEST(Storage, CodedTextColumnsSwitchToOffsetsWithoutLosingAValue) {
  auto code = [](int i) { return "C" + std::to_string(i); };
  for (bool onEdit : {false, true}) {
    SCOPED_TRACE(onEdit ? "switch on an edit" : "switch on an append");
    TClientDataSet ds;
    ds.FieldDefs() = {{"CODE", TFieldType::String, 20}, {"N", TFieldType::Integer}};
    ds.CreateDataSet();
    std::vector<std::string> want;  // per row, "" for null
    const int n = 9000;  // more than two chunks of rows, so the switch crosses chunk ends
    for (int i = 0; i < n; ++i) {
      ds.Append();
      // 255 distinct texts, repeated, and nulls between them.
      std::string v = i % 7 == 3 ? "" : code(i % 255);
      if (!v.empty()) ds.FieldByName("CODE").SetAsString(v);
      ds.FieldByName("N").SetAsInteger(i);
      ds.Post();
      want.push_back(v);
    }
    ds.MergeChangeLog();
    rtl::DataPacket merged = ds.Data();
    // Edits among the coded values: their originals share codes.
    for (int i = 0; i < n; i += 10) {
      ds.SetRecNo(i + 1);
      ds.Edit();
      if (i % 20 == 0) ds.FieldByName("CODE").Clear();
      else ds.FieldByName("CODE").SetAsString(code((i + 1) % 255));
      ds.Post();
      want[static_cast<size_t>(i)] = i % 20 == 0 ? "" : code((i + 1) % 255);
    }
    // The 256th distinct text.
    if (onEdit) {
      ds.SetRecNo(5);
      ds.Edit();
      ds.FieldByName("CODE").SetAsString("NEW");
      ds.Post();
      want[4] = "NEW";
    } else {
      ds.Append();
      ds.FieldByName("CODE").SetAsString("NEW");
      ds.FieldByName("N").SetAsInteger(n);
      ds.Post();
      want.push_back("NEW");
    }
    ds.Append();
    ds.FieldByName("CODE").SetAsString(code(7));
    ds.FieldByName("N").SetAsInteger(static_cast<int>(want.size()));
    ds.Post();
    want.push_back(code(7));

    auto check = [&](TClientDataSet& d, const std::vector<std::string>& w) {
      ASSERT_EQ(d.RecordCount(), static_cast<int>(w.size()));
      size_t i = 0;
      for (d.First(); !d.Eof(); d.Next(), ++i) {
        size_t row = static_cast<size_t>(d.FieldByName("N").AsInteger());
        ASSERT_EQ(d.FieldByName("CODE").IsNull(), w[row].empty()) << "row " << row;
        ASSERT_EQ(d.FieldByName("CODE").AsString(), w[row]) << "row " << row;
      }
    };
    check(ds, want);
    TClientDataSet copy;
    copy.SetData(ds.Data());
    check(copy, want);

    // An index on the column orders as the texts do, nulls first.
    ds.SetIndexFieldNames("CODE;N");
    std::vector<std::pair<std::string, int>> sorted;
    for (size_t i = 0; i < want.size(); ++i) sorted.emplace_back(want[i], static_cast<int>(i));
    std::sort(sorted.begin(), sorted.end());
    size_t k = 0;
    for (ds.First(); !ds.Eof(); ds.Next(), ++k)
      ASSERT_EQ(ds.FieldByName("N").AsInteger(), sorted[k].second) << "position " << k;
    EXPECT_TRUE(ds.Locate("CODE", Variant("NEW")));
    EXPECT_EQ(ds.FieldByName("CODE").AsString(), "NEW");

    // Undone, the data set is the merged one again, byte for byte.
    ds.SetIndexFieldNames("");
    ds.CancelUpdates();
    EXPECT_EQ(ds.ChangeCount(), 0);
    EXPECT_EQ(ds.Data(), merged);
  }
}

// Texts longer than a chunk of a column's text take a block of chunks of
// their own: they read back whole, the texts around them too, from the
// first row on, through Data and SetData, an edit and a copy.
TEST(Storage, TextsLongerThanAChunkKeepEveryByte) {
  auto text = [](int len, char seed) {
    std::string s(static_cast<size_t>(len), ' ');
    for (int i = 0; i < len; ++i) s[static_cast<size_t>(i)] = static_cast<char>('a' + (i * 7 + seed) % 26);
    return s;
  };
  const std::vector<int> lens = {1000000, 5, 70000, 65535, 65536, 65537, 12, 200000, 1};
  TClientDataSet ds;
  ds.FieldDefs() = {{"MEMO", TFieldType::String, 1000000}, {"N", TFieldType::Integer}};
  ds.CreateDataSet();
  for (size_t i = 0; i < lens.size(); ++i) {
    ds.Append();
    ds.FieldByName("MEMO").SetAsString(text(lens[i], static_cast<char>(i)));
    ds.FieldByName("N").SetAsInteger(static_cast<int>(i));
    ds.Post();
  }
  auto check = [&](TClientDataSet& d, size_t changed) {
    size_t i = 0;
    for (d.First(); !d.Eof(); d.Next(), ++i) {
      int len = i == changed ? 100000 : lens[i];
      char seed = static_cast<char>(i == changed ? 40 : i);
      ASSERT_EQ(d.FieldByName("MEMO").AsString(), text(len, seed)) << "row " << i;
      ASSERT_EQ(d.FieldByName("N").AsInteger(), static_cast<int>(i));
    }
    EXPECT_EQ(i, lens.size());
  };
  check(ds, lens.size());
  ds.SetRecNo(4);
  ds.Edit();
  ds.FieldByName("MEMO").SetAsString(text(100000, 40));
  ds.Post();
  check(ds, 3);
  TClientDataSet loaded;
  loaded.SetData(ds.Data());
  check(loaded, 3);
  TClientDataSet copy;
  copy.CopyDataFrom(ds);
  check(copy, 3);
}

// The log lists consecutive rows as runs: rows deleted, edited and put back
// inside and at the ends of a run of appends leave every other entry as it
// was, in Delta and after tidying.
TEST(Storage, ChangeLogRunsSurviveDeletesInsideThem) {
  TClientDataSet ds;
  ds.FieldDefs() = {{"K", TFieldType::Integer}, {"V", TFieldType::Float}};
  ds.CreateDataSet();
  const int n = 3000;
  for (int i = 0; i < n; ++i) {
    ds.Append();
    ds.FieldByName("K").SetAsInteger(i);
    ds.FieldByName("V").SetAsFloat(i);
    ds.Post();
  }
  ds.MergeChangeLog();
  for (int i = n; i < 2 * n; ++i) {  // one run of inserts
    ds.Append();
    ds.FieldByName("K").SetAsInteger(i);
    ds.Post();
  }
  // Deleting most of the inserted rows (every one but multiples of 7) tidies the list.
  int kept = 0;
  ds.Last();
  for (int i = 2 * n - 1; i >= n; --i) {
    ASSERT_EQ(ds.FieldByName("K").AsInteger(), i);
    if (i % 7 != 0 && i != n && i != 2 * n - 1) ds.Delete(), ds.Prior();
    else ++kept, ds.Prior();
  }
  // Modified rows among the base rows, one edited back to its value.
  for (int k : {0, 1, 2, 1500, n - 1}) {
    ASSERT_TRUE(ds.Locate("K", k));
    ds.Edit();
    ds.FieldByName("V").SetAsFloat(k == 1500 ? k : -k - 1);
    ds.Post();
  }
  EXPECT_EQ(ds.ChangeCount(), kept + 4);
  PacketReader r(ds.Delta());
  std::vector<int> inserted, modified;
  while (r.Next()) {
    if (r.Status() == TUpdateStatus::Inserted) inserted.push_back(r.Values()[0].toInt());
    else if (r.Status() == TUpdateStatus::Modified) modified.push_back(r.Values()[0].toInt());
    else ADD_FAILURE();
  }
  std::sort(inserted.begin(), inserted.end());
  std::sort(modified.begin(), modified.end());
  std::vector<int> want;
  for (int i = n; i < 2 * n; ++i)
    if (i % 7 == 0 || i == n || i == 2 * n - 1) want.push_back(i);
  EXPECT_EQ(inserted, want);
  EXPECT_EQ(modified, (std::vector<int>{0, 1, 2, n - 1}));
  ds.CancelUpdates();
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_EQ(ds.RecordCount(), n);
  ds.Last();
  EXPECT_EQ(ds.FieldByName("V").AsFloat(), n - 1);
}

TEST_F(ChangeLog, LogChangesOffWritesStraightToTheBase) {
  ds.LogChanges = false;
  ds.Edit();
  F("QTCOMEFETCLI").SetAsFloat(1);
  ds.Post();
  ds.Delete();
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_EQ(ds.RecordCount(), 2);
}

// ---------------------------------------------------------------- locate

using Locate = Fixture;

TEST_F(Locate, ExactByDefaultWithOptionsOnRequest) {
  ds.Edit();
  F("CDSERVPLAN").SetAsString("AB ");
  ds.Post();
  ds.Last();
  EXPECT_FALSE(ds.Locate("CDSERVPLAN", "AB"));
  EXPECT_EQ(ds.RecNo(), 3);  // not found: no move
  EXPECT_TRUE(ds.Locate("CDSERVPLAN", "AB "));
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_FALSE(ds.Locate("NMRAZSOCCLIE", "beta"));
  EXPECT_TRUE(ds.Locate("NMRAZSOCCLIE", "beta", {true, false}));
  EXPECT_EQ(ds.RecNo(), 2);
  EXPECT_FALSE(ds.Locate("NMRAZSOCCLIE", "Gam"));
  EXPECT_TRUE(ds.Locate("NMRAZSOCCLIE", "gam", {true, true}));
  EXPECT_EQ(ds.RecNo(), 3);
}

TEST_F(Locate, SeveralKeysDatesAndNulls) {
  EXPECT_TRUE(ds.Locate("CDCLIENTE;DTEFETCLIE", rtl::VarArrayOf({"C2", Variant::FromDate(rtl::EncodeDate(2024, 3, 2))})));
  EXPECT_EQ(ds.RecNo(), 2);
  EXPECT_FALSE(ds.Locate("CDCLIENTE;DTEFETCLIE", rtl::VarArrayOf({"C2", rtl::EncodeDate(2024, 3, 2) + 0.5})));
  // A Null key finds null values only; an empty string is not null.
  EXPECT_TRUE(ds.Locate("CDSERVPLAN", Variant::Null()));
  EXPECT_EQ(ds.RecNo(), 1);
  ds.Edit();
  F("CDSERVPLAN").SetAsString("");
  ds.Post();
  EXPECT_FALSE(ds.Locate("CDCLIENTE;CDSERVPLAN", rtl::VarArrayOf({"C1", Variant::Null()})));
  EXPECT_TRUE(ds.Locate("CDCLIENTE;CDSERVPLAN", rtl::VarArrayOf({"C1", ""})));
  EXPECT_THROW(ds.Locate("CDCLIENTE;CDSERVPLAN", "C1"), rtl::EDatabaseError);
  EXPECT_THROW(ds.Locate("NADA", "C1"), rtl::EDatabaseError);
}

TEST_F(Locate, ScrollEventsFollowTheResultAndAPendingEditIsPosted) {
  traceEvents();
  ds.Edit();
  F("QTCOMEFETCLI").SetAsFloat(5);
  trace.clear();
  EXPECT_FALSE(ds.Locate("CDCLIENTE", "C9"));
  EXPECT_EQ(trace, (V{"BeforePost", "AfterPost", "BeforeScroll"}));
  trace.clear();
  EXPECT_TRUE(ds.Locate("CDCLIENTE", "C3"));
  EXPECT_EQ(trace, (V{"BeforeScroll", "AfterScroll"}));
}

TEST_F(Locate, SearchesWhatTheFilterShowsInTheCurrentOrder) {
  ds.Append();
  F("CDCLIENTE").SetAsString("C1");
  F("QTCOMEFETCLI").SetAsFloat(5);
  ds.Post();
  ds.SetIndexFieldNames("QTCOMEFETCLI");
  ds.Last();
  ASSERT_TRUE(ds.Locate("CDCLIENTE", "C1"));
  EXPECT_EQ(F("QTCOMEFETCLI").AsFloat(), 5);  // first in index order
  ds.OnFilterRecord = [](TClientDataSet& d, bool& accept) { accept = d.FieldByName("QTCOMEFETCLI").AsFloat() >= 10; };
  ds.SetFiltered(true);
  ASSERT_TRUE(ds.Locate("CDCLIENTE", "C1"));
  EXPECT_EQ(F("QTCOMEFETCLI").AsFloat(), 10);
  EXPECT_EQ(ds.Lookup("CDCLIENTE", "C3", "NMRAZSOCCLIE;QTCOMEFETCLI"), rtl::VarArrayOf({"Gama", 30.0}));
  EXPECT_TRUE(ds.Lookup("CDCLIENTE", "C9", "NMRAZSOCCLIE").isNull());
  EXPECT_EQ(F("CDCLIENTE").AsString(), "C1");  // Lookup does not move
}

// ---------------------------------------------------------------- filters

using Filters = Fixture;

TEST_F(Filters, TextAndRecordFilterMustBothAccept) {
  ds.SetFilter("QTCOMEFETCLI >= 20");
  ds.SetFiltered(true);
  EXPECT_EQ(ds.RecordCount(), 2);
  ds.OnFilterRecord = [](TClientDataSet& d, bool& accept) { accept = d.FieldByName("CDCLIENTE").AsString() != "C3"; };
  ds.Refilter();
  EXPECT_EQ(codes(), (V{"C2"}));
  ds.SetFiltered(false);
  EXPECT_EQ(ds.RecordCount(), 3);
}

TEST_F(Filters, AMalformedTextIsRefusedAndTheFilterStays) {
  ds.SetFilter("CDCLIENTE = 'C1'");
  ds.SetFiltered(true);
  EXPECT_THROW(ds.SetFilter("CDCLIENTE = = 'x'"), rtl::EDatabaseError);
  EXPECT_EQ(ds.Filter(), "CDCLIENTE = 'C1'");
  EXPECT_EQ(ds.RecordCount(), 1);
  ds.SetFiltered(false);
  ds.SetFilter("NAOEXISTE = 1");  // parsed when switched on
  EXPECT_THROW(ds.SetFiltered(true), rtl::EDatabaseError);
  EXPECT_FALSE(ds.Filtered());
  EXPECT_EQ(ds.RecordCount(), 3);
}

TEST_F(Filters, APostedRowThatNoLongerPassesLeavesTheView) {
  ds.SetFilter("QTCOMEFETCLI < 25");
  ds.SetFiltered(true);
  ds.First();
  ds.Edit();
  F("QTCOMEFETCLI").SetAsFloat(50);
  ds.Post();
  EXPECT_EQ(codes(), (V{"C2"}));
  EXPECT_EQ(F("CDCLIENTE").AsString(), "C2");
  ds.Append();
  F("CDCLIENTE").SetAsString("C5");
  F("QTCOMEFETCLI").SetAsFloat(1);
  ds.Post();
  EXPECT_EQ(codes(), (V{"C2", "C5"}));
  ds.SetFiltered(false);
  EXPECT_EQ(codes(), (V{"C1", "C2", "C3", "C5"}));
}

// ---------------------------------------------------------------- indexes

using Indexes = Fixture;

TEST_F(Indexes, EditedAndInsertedRowsMoveToTheirPlaceAndTheCursorFollows) {
  ds.SetIndexFieldNames("QTCOMEFETCLI");
  ds.First();
  ds.Edit();
  F("QTCOMEFETCLI").SetAsFloat(25);
  ds.Post();
  EXPECT_EQ(codes(), (V{"C2", "C1", "C3"}));
  EXPECT_EQ(F("CDCLIENTE").AsString(), "C1");
  EXPECT_EQ(ds.RecNo(), 2);
  ds.Insert();
  F("CDCLIENTE").SetAsString("C0");
  F("QTCOMEFETCLI").SetAsFloat(99);
  ds.Post();
  EXPECT_EQ(codes(), (V{"C2", "C1", "C3", "C0"}));
  EXPECT_EQ(ds.RecNo(), 4);
  ds.SetIndexFieldNames("");
  EXPECT_EQ(codes(), (V{"C1", "C2", "C3", "C0"}));
}

TEST_F(Indexes, NamedIndexOnADateKeepsOrderWhileEditing) {
  ds.AddIndex("Ordena", "DTEFETCLIE;CDCLIENTE", true);
  ds.SetIndexName("Ordena");
  EXPECT_EQ(codes(), (V{"C3", "C2", "C1"}));
  EXPECT_EQ(ds.IndexFieldNames(), "");
  ds.Last();
  ds.Edit();
  F("DTEFETCLIE").SetAsDateTime(rtl::EncodeDate(2024, 4, 1));
  ds.Post();
  EXPECT_EQ(codes(), (V{"C1", "C3", "C2"}));
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_THROW(ds.SetIndexName("Nenhum"), rtl::EDatabaseError);
  EXPECT_EQ(ds.IndexName(), "Ordena");
  // The index survives reloading the contents.
  ds.SetData(ds.Data());
  EXPECT_EQ(codes(), (V{"C1", "C3", "C2"}));
}

// Sorting compares keys built ahead from the leading fields and the rows
// only on equal keys: on random rows (codes in mixed case and accents, names
// alike in their first bytes, nulls) every index orders exactly as the
// field-by-field comparison does, before and after edits.
TEST_F(Indexes, EveryIndexOrdersAsTheFieldsCompare) {
  std::mt19937 rng(7);
  auto below = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const std::vector<std::string> codes = {"ab", "AB", "Ab", "b", "B", "\xc3\x89", "\xc3\xa9", "e", "E", "z", "aa", "a"};
  auto name = [&] {
    // Same first eight bytes in most names, so that the key alone rarely decides.
    std::string s = below(3) ? "Restaurante " : "Re";
    static const char* const tails[] = {"a", "A", "b", "B", "\xc3\x89"};
    for (int i = below(4); i > 0; --i) s += tails[below(5)];
    return s;
  };
  TClientDataSet t;
  t.FieldDefs() = {{"CD", TFieldType::String, 4}, {"NM", TFieldType::String, 40}, {"N", TFieldType::Integer}};
  t.CreateDataSet();
  struct Row {
    std::string cd, nm;  // "" for null
  };
  std::vector<Row> rows;
  auto put = [&](int n, const Row& r) {
    if (r.cd.empty()) t.FieldByName("CD").Clear();
    else t.FieldByName("CD").SetAsString(r.cd);
    if (r.nm.empty()) t.FieldByName("NM").Clear();
    else t.FieldByName("NM").SetAsString(r.nm);
    t.FieldByName("N").SetAsInteger(n);
  };
  auto random = [&] { return Row{below(10) ? codes[static_cast<size_t>(below(12))] : "", below(12) ? name() : ""}; };
  for (int i = 0; i < 2000; ++i) {
    rows.push_back(random());
    t.Append();
    put(i, rows.back());
    t.Post();
  }
  t.AddIndex("ixDesc", "CD;NM", true);
  t.AddIndex("ixCase", "CD;NM", false, true);
  t.AddIndex("ixNameCase", "NM;CD", false, true);
  t.AddIndex("ixNameDesc", "NM;CD", true);

  auto cmpText = [](const std::string& a, const std::string& b, bool ci) {
    if (a.empty() || b.empty()) return a.empty() == b.empty() ? 0 : (a.empty() ? -1 : 1);
    int c = ci ? rtl::AnsiCompareText(a, b) : a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  };
  auto check = [&](const std::string& index, bool byName, std::vector<std::string> fields, bool desc, bool ci) {
    SCOPED_TRACE(index);
    if (byName) t.SetIndexName(index);
    else t.SetIndexFieldNames(index);
    std::vector<int> want(rows.size());
    for (size_t i = 0; i < want.size(); ++i) want[i] = static_cast<int>(i);
    std::stable_sort(want.begin(), want.end(), [&](int a, int b) {
      for (auto& f : fields) {
        auto& ra = rows[static_cast<size_t>(a)];
        auto& rb = rows[static_cast<size_t>(b)];
        int c = f == "CD" ? cmpText(ra.cd, rb.cd, ci) : cmpText(ra.nm, rb.nm, ci);
        if (c) return desc ? c > 0 : c < 0;
      }
      return false;
    });
    std::vector<int> got;
    for (t.First(); !t.Eof(); t.Next()) got.push_back(t.FieldByName("N").AsInteger());
    ASSERT_EQ(got, want);
  };
  for (int round = 0; round < 2; ++round) {
    check("CD;NM", false, {"CD", "NM"}, false, false);
    check("NM;CD", false, {"NM", "CD"}, false, false);
    check("CD", false, {"CD"}, false, false);
    check("ixDesc", true, {"CD", "NM"}, true, false);
    check("ixCase", true, {"CD", "NM"}, false, true);
    check("ixNameCase", true, {"NM", "CD"}, false, true);
    check("ixNameDesc", true, {"NM", "CD"}, true, false);
    // Edits, then the same again from a fresh sort.
    t.SetIndexFieldNames("");
    for (int k = 0; k < 300; ++k) {
      int i = below(static_cast<int>(rows.size()));
      t.SetRecNo(i + 1);
      rows[static_cast<size_t>(i)] = random();
      t.Edit();
      put(i, rows[static_cast<size_t>(i)]);
      t.Post();
    }
  }
}

// ---------------------------------------------------------------- data links

using Links = Fixture;

TEST_F(Links, StateAndDataChangesReachSourcesAndLinks) {
  TDataSource src;
  std::vector<std::string> seen;
  src.OnStateChange = [&](TDataSource& s) { seen.push_back("state " + std::to_string(static_cast<int>(s.State()))); };
  src.OnDataChange = [&](TDataSource&, TField* f) { seen.push_back(std::string("data ") + (f ? f->FieldName() : "-")); };
  src.SetDataSet(&ds);
  Link link(&seen);
  link.SetDataSource(&src);
  EXPECT_TRUE(link.Active());
  seen.clear();
  src.Edit();
  EXPECT_EQ(seen, (V{"link.EditingChanged", "state 2", "link.RecordChanged -", "data -"}));
  seen.clear();
  F("QTCOMEFETCLI").SetAsFloat(3);
  EXPECT_EQ(seen, (V{"link.RecordChanged QTCOMEFETCLI", "data QTCOMEFETCLI"}));
}

TEST_F(Links, PostAsksTheLinksForPendingTextBeforeBeforePost) {
  TDataSource src;
  src.SetDataSet(&ds);
  Link link(&trace);
  link.SetDataSource(&src);
  ds.BeforePost = [&](TClientDataSet& d) { trace.push_back("BeforePost " + d.FieldByName("NMRAZSOCCLIE").AsString()); };
  ds.Edit();
  link.pending = &F("NMRAZSOCCLIE");
  link.pendingText = "Digitado";
  trace.clear();
  ds.Post();
  ASSERT_GE(trace.size(), 2u);
  EXPECT_EQ(trace[0], "link.UpdateData");
  EXPECT_EQ(trace[1], "BeforePost Digitado");
  EXPECT_EQ(F("NMRAZSOCCLIE").AsString(), "Digitado");
}

TEST_F(Links, DisableControlsNestsAndRefreshesOnce) {
  TDataSource src;
  int stateChanges = 0, dataChanges = 0;
  src.OnStateChange = [&](TDataSource&) { ++stateChanges; };
  src.OnDataChange = [&](TDataSource&, TField*) { ++dataChanges; };
  src.SetDataSet(&ds);
  Link link(&trace);
  link.SetDataSource(&src);
  trace.clear();
  stateChanges = dataChanges = 0;
  ds.DisableControls();
  ds.DisableControls();
  for (ds.First(); !ds.Eof(); ds.Next()) {
    ds.Edit();
    F("QTCOMEFETCLI").SetAsFloat(F("QTCOMEFETCLI").AsFloat() + 1);
    ds.Post();
  }
  ds.EnableControls();
  EXPECT_TRUE(ds.ControlsDisabled());
  EXPECT_TRUE(trace.empty());
  EXPECT_EQ(stateChanges + dataChanges, 0);
  ds.EnableControls();
  EXPECT_FALSE(ds.ControlsDisabled());
  EXPECT_EQ(trace, (V{"link.DataSetChanged"}));
  EXPECT_EQ(stateChanges, 0);
  EXPECT_EQ(dataChanges, 1);
  EXPECT_EQ(src.State(), TDataSetState::Browse);
}

TEST_F(Links, ClosingAndDestroyingDeactivateLinks) {
  TDataSource src;
  src.SetDataSet(&ds);
  Link link(&trace);
  link.SetDataSource(&src);
  trace.clear();
  ds.Close();
  EXPECT_FALSE(link.Active());
  EXPECT_EQ(trace, (V{"link.ActiveChanged"}));
  {
    TClientDataSet other;
    other.FieldDefs() = {{"A", TFieldType::Integer}};
    other.CreateDataSet();
    src.SetDataSet(&other);
    EXPECT_TRUE(link.Active());
  }
  EXPECT_EQ(src.DataSet(), nullptr);
  EXPECT_FALSE(link.Active());
}

// ---------------------------------------------------------------- bookmarks

TEST_F(Fixture, BookmarksSurviveIndexChangesAndDeletes) {
  ds.Next();
  auto b = ds.GetBookmark();
  ds.SetIndexFieldNames("NMRAZSOCCLIE");
  ds.First();
  ds.GotoBookmark(b);
  EXPECT_EQ(F("CDCLIENTE").AsString(), "C2");
  ds.Delete();
  EXPECT_FALSE(ds.BookmarkValid(b));
  EXPECT_THROW(ds.GotoBookmark(b), rtl::EDatabaseError);
}

}  // namespace
