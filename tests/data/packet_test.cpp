// Data packets: exact round trips and clear refusals of packets that do not
// match their own metadata.

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include <sodium.h>
#include <zstd.h>

#include "platform/data/dataset.h"
#include "platform/data/packet.h"
#include "platform/data/packet_internal.h"

using namespace data;
using rtl::Variant;

namespace {

std::vector<TFieldDef> defs() {
  return {{"S", TFieldType::String, 10},
          {"X", TFieldType::String, 5, true},
          {"F", TFieldType::Float},
          {"D", TFieldType::DateTime},
          {"I", TFieldType::Integer},
          {"B", TFieldType::Boolean}};
}

uint64_t bits(double d) {
  uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  return u;
}

TEST(PacketRoundTrip, DoublesComeBackBitForBit) {
  std::vector<double> values = {0.0, -0.0, 0.1 + 0.2, 1.0 / 3.0, 5e-324, 2.2250738585072014e-308,
                                std::numeric_limits<double>::max(), -1e300, 123456789.123456789,
                                std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  std::mt19937_64 rng(42);
  for (int i = 0; i < 2000; ++i) {
    uint64_t u = rng();
    double d;
    std::memcpy(&d, &u, sizeof d);
    if (std::isfinite(d)) values.push_back(d);
  }
  PacketWriter w({{"F", TFieldType::Float}, {"D", TFieldType::DateTime}});
  for (double d : values) w.AddRow({d, Variant::FromDate(d)});
  PacketReader r(w.Finish());
  for (double d : values) {
    ASSERT_TRUE(r.Next());
    EXPECT_EQ(bits(r.Values()[0].toDouble()), bits(d)) << d;
    EXPECT_EQ(r.Values()[1].type(), rtl::VarType::DateTime);
    EXPECT_EQ(bits(r.Values()[1].toDateTime()), bits(d));
  }
  EXPECT_FALSE(r.Next());

  PacketWriter nanWriter({{"F", TFieldType::Float}});
  nanWriter.AddRow({std::nan("")});
  PacketReader nr(nanWriter.Finish());
  ASSERT_TRUE(nr.Next());
  EXPECT_TRUE(std::isnan(nr.Values()[0].toDouble()));
}

// Amounts and quantities take a short way to their text; it must be the very
// text of the general shortest form, so packets stay as they were.
TEST(PacketRoundTrip, FewDecimalsWriteTheShortestTextAndComeBackExactly) {
  std::mt19937_64 rng(7);
  std::vector<double> values = {0.01, -0.01, 0.0099, 0.015, 0.1, 0.5, 145.02, 48236.62, 99999999999.9999,
                                1e11 - 0.5, 1e11 + 0.5, 123456.7891, 0.0001, 2.5e-3, 1e14 + 0.25};
  for (int i = 0; i < 20000; ++i) {
    double scale = std::pow(10.0, static_cast<int>(rng() % 5));
    double whole = static_cast<double>(rng() % 100000000000000ULL) / std::pow(10.0, static_cast<int>(rng() % 14));
    double v = std::nearbyint(whole * scale) / scale;
    values.push_back(rng() % 2 ? -v : v);
  }
  for (int i = 0; i < 2000; ++i) values.push_back(static_cast<double>(rng() % 1000000) / 1000.0 + 1e-9 * (rng() % 3));
  TClientDataSet a;
  a.FieldDefs() = {{"F", TFieldType::Float}};
  a.CreateDataSet();
  for (double v : values) {
    if (std::nearbyint(v) == v) continue;  // whole numbers have their own way
    char ours[detail::kJsonDoubleMax], general[64];
    std::string_view mine(ours, static_cast<size_t>(detail::WriteJsonDouble(ours, v) - ours));
    auto end = std::fabs(v) >= 1e15 ? std::to_chars(general, general + 64, v, std::chars_format::scientific).ptr
                                    : std::to_chars(general, general + 64, v).ptr;
    ASSERT_EQ(mine, std::string_view(general, static_cast<size_t>(end - general))) << v;
    a.Append();
    a.FieldByName("F").SetAsFloat(v);
    a.Post();
  }
  TClientDataSet b;
  b.SetData(a.Data());
  ASSERT_EQ(b.RecordCount(), a.RecordCount());
  a.First();
  for (b.First(); !b.Eof(); b.Next(), a.Next()) ASSERT_EQ(bits(b.FieldByName("F").AsFloat()), bits(a.FieldByName("F").AsFloat()));
}

// Texts are copied whole when nothing in them needs an escape, found eight
// bytes at a time: each escaped character at every place of every length.
TEST(PacketRoundTrip, EscapesAreFoundAtEveryPlace) {
  TClientDataSet a;
  a.FieldDefs() = {{"S", TFieldType::String, 200}};
  a.CreateDataSet();
  std::vector<std::string> texts;
  for (char special : {'"', '\\', '\n', '\x01', '\x1f'})
    for (size_t len = 1; len <= 20; ++len)
      for (size_t at = 0; at < len; ++at) {
        std::string t(len, 'a');
        t[at] = special;
        if (len > 3 && at > 1) t[0] = '\xc3', t[1] = '\xa9';  // bytes of 0x80 and up need no escape
        texts.push_back(t);
      }
  texts.push_back(std::string(150, '"'));  // longer than the short way's room
  for (auto& t : texts) {
    EXPECT_EQ(detail::NeedsJsonEscape(t), true) << t;
    a.Append();
    a.FieldByName("S").SetAsString(t);
    a.Post();
  }
  EXPECT_FALSE(detail::NeedsJsonEscape("Jalape\xc3\xb1o Caf\xc3\xa9 !#$%&'()*+,-./~\x7f"));
  TClientDataSet b;
  b.SetData(a.Data());
  b.First();
  for (auto& t : texts) {
    ASSERT_EQ(b.FieldByName("S").AsString(), t);
    b.Next();
  }
}

TEST(PacketRoundTrip, NullsEmptyTextBlanksAndEscapesThroughADataSet) {
  TClientDataSet a;
  a.FieldDefs() = defs();
  a.CreateDataSet();
  a.Append();
  a.FieldByName("S").SetAsString("");
  a.FieldByName("X").SetAsString("AB   ");
  a.Post();
  a.Append();  // all null
  a.FieldByName("I").SetAsInteger(-7);
  a.Post();
  a.Append();
  a.FieldByName("S").SetAsString("\"q\\\n\t\x01é");
  a.FieldByName("B").SetAsBoolean(true);
  a.FieldByName("D").SetAsDateTime(45000.75);
  a.Post();

  TClientDataSet b;
  b.SetData(a.Data());
  ASSERT_EQ(b.RecordCount(), 3);
  EXPECT_EQ(b.FieldByName("X").Size(), 5);
  EXPECT_TRUE(b.FieldByName("X").FixedChar());
  b.First();
  EXPECT_FALSE(b.FieldByName("S").IsNull());
  EXPECT_EQ(b.FieldByName("S").AsString(), "");
  EXPECT_EQ(b.FieldByName("X").AsString(), "AB   ");
  EXPECT_TRUE(b.FieldByName("F").IsNull());
  b.Next();
  EXPECT_TRUE(b.FieldByName("S").IsNull());
  EXPECT_TRUE(b.FieldByName("B").IsNull());
  EXPECT_EQ(b.FieldByName("I").AsInteger(), -7);
  b.Next();
  EXPECT_EQ(b.FieldByName("S").AsString(), "\"q\\\n\t\x01é");
  EXPECT_TRUE(b.FieldByName("B").AsBoolean());
  EXPECT_EQ(b.FieldByName("D").AsDateTime(), 45000.75);
  EXPECT_EQ(b.ChangeCount(), 3);
  EXPECT_EQ(b.Data(), a.Data());
}

TEST(PacketRoundTrip, TextsOfEveryLengthSurviveStorage) {
  std::vector<std::string> texts = {"", "a", std::string(127, 'x'), std::string(128, 'y'), std::string(20000, 'z')};
  PacketWriter w({{"T", TFieldType::String, 30000}});
  for (auto& t : texts) w.AddRow({t});
  TClientDataSet ds;
  ds.SetData(w.Finish());
  ds.First();
  for (auto& t : texts) {
    EXPECT_EQ(ds.FieldByName("T").AsString(), t);
    ds.Next();
  }
  EXPECT_TRUE(ds.Eof());
}

TEST(PacketWriterReader, DeltaRowsCarryStatusOldNewAndMask) {
  PacketWriter w(defs(), PacketKind::Delta);
  w.AddModified({"a", "X", 2.0, Variant::Null(), 1, true}, {"a", "X", 1.0, Variant::Null(), 1, false});
  w.AddInserted({"n", Variant::Null(), 0.5, Variant::FromDate(1.0), 3, false});
  w.AddDeleted({"d", "Y", Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null()});
  EXPECT_THROW(w.AddRow({"u", "", 0.0, 0.0, 0, false}), rtl::EDatabaseError);  // deltas hold changes only
  PacketReader r(w.Finish());
  EXPECT_EQ(r.Kind(), PacketKind::Delta);
  ASSERT_TRUE(r.Next());
  EXPECT_EQ(r.Status(), TUpdateStatus::Modified);
  EXPECT_EQ(r.Changed(), (std::vector<bool>{false, false, true, false, false, true}));
  EXPECT_EQ(r.Values()[2].toDouble(), 2.0);
  EXPECT_EQ(r.OldValues()[2].toDouble(), 1.0);
  ASSERT_TRUE(r.Next());
  EXPECT_EQ(r.Status(), TUpdateStatus::Inserted);
  EXPECT_EQ(r.Values()[3], Variant::FromDate(1.0));
  EXPECT_TRUE(r.OldValues()[0].isNull());
  ASSERT_TRUE(r.Next());
  EXPECT_EQ(r.Status(), TUpdateStatus::Deleted);
  EXPECT_EQ(r.OldValues()[1].toString(), "Y");
  EXPECT_FALSE(r.Next());
  EXPECT_EQ(r.RowNumber(), 3u);
}

TEST(PacketWriterReader, TheWriterRefusesValuesThatDoNotFit) {
  PacketWriter w(defs());
  EXPECT_THROW(w.AddRow({"a"}), rtl::EDatabaseError);
  EXPECT_THROW(w.AddRow({1.5, "", 0.0, 0.0, 0, false}), rtl::EDatabaseError);
  EXPECT_THROW(w.AddRow({"a", "", "x", 0.0, 0, false}), rtl::EDatabaseError);
  EXPECT_THROW(w.AddRow({"a", "", 0.0, 0.0, 1.5, false}), rtl::EDatabaseError);
  EXPECT_THROW(w.AddRow({std::string("\xc3"), "", 0.0, 0.0, 0, false}), rtl::EDatabaseError);
  w.BeginRow(TUpdateStatus::Unmodified);
  w.String("ok");
  EXPECT_THROW(w.EndRow(), rtl::EDatabaseError);
}

// Packets written by hand, as a faulty or hostile peer could send them.
rtl::DataPacket raw(const std::string& rows, const std::string& kind = "data") {
  return rtl::DataPacket(R"({"packet":"efet","version":1,"kind":")" + kind +
                         R"(","fields":[{"name":"S","type":"string","size":4},{"name":"F","type":"float"}],"rows":[)" +
                         rows + "]}");
}

TEST(PacketMalformed, RowsThatDoNotMatchTheMetadataAreClearErrors) {
  struct Case {
    std::string rows, kind, needle;
  };
  std::vector<Case> cases = {
      {R"([0,"a"])", "data", "row 1"},
      {R"([0,"a",1,2])", "data", "more values"},
      {R"([0,1,1])", "data", "field 'S'"},
      {R"([0,"a","b"])", "data", "field 'F'"},
      {R"([0,"a",1],[9,"b",2])", "data", "row 2: bad row state"},
      {R"([1,"a",1,"a",2])", "data", "change mask"},
      {R"([1,"a",1,"a",2,"0x"])", "data", "change mask"},
      {R"([0,"a",1])", "delta", "unmodified"},
      {R"("row")", "data", "not an array"},
      {R"([])", "data", "empty row"},
  };
  for (auto& c : cases) {
    try {
      TClientDataSet ds;
      ds.SetData(raw(c.rows, c.kind));
      if (c.kind == "data") ADD_FAILURE() << "accepted " << c.rows;
    } catch (const rtl::EDatabaseError& e) {
      if (c.kind == "data") EXPECT_NE(std::string(e.what()).find(c.needle), std::string::npos) << e.what();
    }
    if (c.kind == "delta") {
      PacketReader r(raw(c.rows, c.kind));
      EXPECT_THROW(r.Next(), rtl::EDatabaseError);
    }
  }
}

// A modified row written compactly (the originals of its changed fields
// only) reads back as the full form does, through the reader and the loader;
// its list of changed fields is checked as strictly as a mask.
TEST(PacketCompactRows, ReadLikeFullRowsAndRefuseABadListOfChangedFields) {
  PacketReader r(raw(R"([4,[1],"ab",2.5,1.5],[4,[],"cd",3],[4,[0,1],"x",null,"y",7])", "delta"));
  ASSERT_TRUE(r.Next());
  EXPECT_EQ(r.Status(), TUpdateStatus::Modified);
  EXPECT_EQ(r.Changed(), (std::vector<bool>{false, true}));
  EXPECT_EQ(r.Values()[0].toString(), "ab");
  EXPECT_EQ(r.OldValues()[0].toString(), "ab");
  EXPECT_EQ(r.Values()[1].toDouble(), 2.5);
  EXPECT_EQ(r.OldValues()[1].toDouble(), 1.5);
  ASSERT_TRUE(r.Next());
  EXPECT_EQ(r.Changed(), (std::vector<bool>{false, false}));
  EXPECT_EQ(r.OldValues()[1].toDouble(), 3);
  ASSERT_TRUE(r.Next());
  EXPECT_TRUE(r.Values()[1].isNull());
  EXPECT_EQ(r.OldValues()[0].toString(), "y");
  EXPECT_EQ(r.OldValues()[1].toDouble(), 7);
  EXPECT_FALSE(r.Next());

  TClientDataSet ds;
  ds.SetData(raw(R"([0,"k",1],[4,[1],"ab",2.5,1.5])"));
  EXPECT_EQ(ds.ChangeCount(), 1);
  ASSERT_TRUE(ds.Locate("S", Variant("ab")));
  EXPECT_EQ(ds.FieldByName("F").AsFloat(), 2.5);
  EXPECT_EQ(ds.FieldByName("F").OldValue().toDouble(), 1.5);
  EXPECT_EQ(ds.FieldByName("S").OldValue().toString(), "ab");
  ds.CancelUpdates();
  ASSERT_TRUE(ds.Locate("S", Variant("ab")));
  EXPECT_EQ(ds.FieldByName("F").AsFloat(), 1.5);

  for (const char* rows : {R"([4,[2],"a",1,1])", R"([4,[1,0],"a",1,"b",2])", R"([4,[1,1],"a",1,2,3])",
                           R"([4,[-1],"a",1,2])", R"([4,["1"],"a",1,2])", R"([4,"01","a",1,2])", R"([4,[1],"a",1])",
                           R"([4,[1],"a",1,2,3])", R"([4,[0],"a"])", R"([4,[1],"a","b",2])", R"([4])"}) {
    SCOPED_TRACE(rows);
    for (const char* kind : {"data", "delta"}) {
      PacketReader reader(raw(rows, kind));
      EXPECT_THROW(reader.Next(), rtl::EDatabaseError);
    }
    TClientDataSet bad;
    EXPECT_THROW(bad.SetData(raw(rows)), rtl::EDatabaseError);
  }
}

// The data set writes its edits compactly: an unchanged field travels once,
// and the reader gives it back as both the value and the original.
TEST(PacketCompactRows, TheDataSetsDeltaSendsUnchangedFieldsOnce) {
  TClientDataSet ds;
  ds.FieldDefs() = {{"K", TFieldType::String, 40}, {"Q", TFieldType::Float}, {"N", TFieldType::String, 40}};
  ds.CreateDataSet();
  const std::string name = "Restaurante Central do Norte";
  ds.Append();
  ds.FieldByName("K").SetAsString("C1");
  ds.FieldByName("Q").SetAsFloat(1.0);
  ds.FieldByName("N").SetAsString(name);
  ds.Post();
  ds.MergeChangeLog();
  ds.Edit();
  ds.FieldByName("Q").SetAsFloat(2.0);
  ds.Post();
  auto delta = ds.Delta();
  const std::string& bytes = delta.bytes();
  EXPECT_EQ(bytes.find(name), bytes.rfind(name)) << bytes;
  PacketReader r(delta);
  ASSERT_TRUE(r.Next());
  EXPECT_EQ(r.Changed(), (std::vector<bool>{false, true, false}));
  EXPECT_EQ(r.OldValues()[2].toString(), name);
  EXPECT_EQ(r.OldValues()[1].toDouble(), 1.0);
  EXPECT_EQ(r.Values()[1].toDouble(), 2.0);
}

TEST(PacketMalformed, BrokenJsonAndHeadersAreRefused) {
  std::vector<std::string> bad = {
      " ",
      "not json",
      "[1,2]",
      R"({"packet":"efet","version":1,"kind":"data","fields":[{"name":"S","type":"string"}],"rows":[[0,"a"])",
      R"({"packet":"other","fields":[{"name":"S","type":"string"}],"rows":[]})",
      R"({"packet":"efet","version":2,"fields":[{"name":"S","type":"string"}],"rows":[]})",
      R"({"packet":"efet","version":1,"fields":[{"name":"S","type":"blob"}],"rows":[]})",
      R"({"packet":"efet","version":1,"fields":[{"name":"S","type":"string"},{"name":"s","type":"float"}],"rows":[]})",
      R"({"packet":"efet","version":1,"rows":[],"fields":[{"name":"S","type":"string"}]})",
      R"({"packet":"efet","version":1,"fields":[],"rows":[]})",
  };
  for (auto& text : bad) {
    TClientDataSet ds;
    EXPECT_THROW(ds.SetData(rtl::DataPacket(text)), rtl::EDatabaseError) << "[" << text << "]";
    EXPECT_FALSE(ds.Active());
  }
  TClientDataSet ds;
  EXPECT_THROW(ds.SetData(raw(R"([2,"a",1])", "delta")), rtl::EDatabaseError);  // a delta is not contents
}

TEST(PacketMalformed, ValidPacketWrittenByHandLoads) {
  TClientDataSet ds;
  ds.SetData(raw(R"([0,"ab  ",1.5],[0,null,-0.0],[1,"b",2,"b",1,"01"],[3,"c",null])"));
  EXPECT_EQ(ds.RecordCount(), 3);
  EXPECT_EQ(ds.ChangeCount(), 2);
  ds.First();
  EXPECT_EQ(ds.FieldByName("S").AsString(), "ab  ");
  ds.Next();
  EXPECT_TRUE(std::signbit(ds.FieldByName("F").AsFloat()));
  EXPECT_EQ(PacketFieldDefs(ds.Data()).size(), 2u);
}

// ---- packed deltas

// Every row of a reader: status, mask, and the values' texts.
std::vector<std::string> rowsOf(const rtl::DataPacket& p) {
  std::vector<std::string> out;
  PacketReader r(p);
  while (r.Next()) {
    std::string row = std::to_string(static_cast<int>(r.Status())) + "|";
    for (size_t i = 0; i < r.Values().size(); ++i)
      row += r.Values()[i].debugString() + "/" + r.OldValues()[i].debugString() + (r.Changed()[i] ? "*" : "") + "|";
    out.push_back(row);
  }
  return out;
}

// The same rows written again, packed or not.
rtl::DataPacket rewritten(const rtl::DataPacket& p, size_t packFrom) {
  PacketReader r(p);
  PacketWriter w(r.FieldDefs(), PacketKind::Delta);
  w.PackFrom(packFrom);
  while (r.Next()) {
    switch (r.Status()) {
      case TUpdateStatus::Modified: w.AddModified(r.Values(), r.OldValues()); break;
      case TUpdateStatus::Inserted: w.AddInserted(r.Values()); break;
      default: w.AddDeleted(r.Values()); break;
    }
  }
  return w.Finish();
}

std::string base64(std::string_view bytes) {
  std::string b(sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(b.data(), b.size(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                    sodium_base64_VARIANT_ORIGINAL);
  b.pop_back();
  return b;
}

std::string zstdFrame(std::string_view text) {
  std::string z(ZSTD_compressBound(text.size()), '\0');
  z.resize(ZSTD_compress(z.data(), z.size(), text.data(), text.size(), 3));
  return z;
}

rtl::DataPacket packedRaw(const std::string& zrows) {
  return rtl::DataPacket(R"({"packet":"efet","version":1,"kind":"delta",)"
                         R"("fields":[{"name":"S","type":"string","size":4},{"name":"F","type":"float"}],"zrows":)" +
                         zrows + "}");
}

// A delta of many edits travels packed, in a fraction of its bytes, and reads
// back as exactly the rows the unpacked form holds: every original the
// server compares is there, changed or not.
TEST(PacketPacked, ABigDeltaIsPackedAndReadsBackAsTheSameRows) {
  TClientDataSet ds;
  ds.FieldDefs() = {{"K", TFieldType::String, 10},
                    {"N", TFieldType::String, 60},
                    {"Q", TFieldType::Float},
                    {"D", TFieldType::DateTime},
                    {"I", TFieldType::Integer},
                    {"B", TFieldType::Boolean}};
  ds.CreateDataSet();
  const char* words[] = {"Café", "Grill", "Norte", "Açaí", "Central", "Restaurante", "\"aspas\"", "Mercado"};
  std::mt19937 rng(7);
  for (int i = 0; i < 300; ++i) {
    ds.Append();
    ds.FieldByName("K").SetAsString("C" + std::to_string(100000 + i));
    std::string name;
    for (int w = 0; w < 5; ++w) name += std::string(words[rng() % 8]) + " ";
    ds.FieldByName("N").SetAsString(name);
    ds.FieldByName("Q").SetAsFloat(i * 0.25);
    if (i % 7) ds.FieldByName("D").SetAsDateTime(45000 + i % 30);
    ds.FieldByName("I").SetAsInteger(i * 1000003LL);
    ds.FieldByName("B").SetAsBoolean(i % 2);
    ds.Post();
  }
  ds.MergeChangeLog();
  ds.First();
  for (int i = 0; i < 300; ++i, ds.Next()) {
    if (i % 3 == 0) continue;
    ds.Edit();
    ds.FieldByName("Q").SetAsFloat(i + 0.5);
    if (i % 5 == 0) ds.FieldByName("N").Clear();
    ds.Post();
  }
  ds.First();
  ds.Delete();
  ds.Append();
  ds.FieldByName("K").SetAsString("NOVO");
  ds.Post();

  auto delta = ds.Delta();
  const std::string& bytes = delta.bytes();
  EXPECT_NE(bytes.find(R"("zrows":")"), std::string::npos);
  EXPECT_EQ(bytes.find(R"("rows")"), std::string::npos);
  auto plain = rewritten(delta, SIZE_MAX);
  EXPECT_EQ(plain.bytes().find("zrows"), std::string::npos);
  EXPECT_LT(bytes.size() * 2, plain.bytes().size());
  auto rows = rowsOf(delta);
  EXPECT_EQ(rows.size(), 202u);
  EXPECT_EQ(rows, rowsOf(plain));
  EXPECT_EQ(rows, rowsOf(rewritten(delta, 0)));

  // Small deltas stay readable text; forced, even one row packs.
  auto one = raw(R"([4,[1],"ab",2.5,1.5])", "delta");
  EXPECT_EQ(rewritten(one, 2048).bytes().find("zrows"), std::string::npos);
  auto packedOne = rewritten(one, 0);
  EXPECT_NE(packedOne.bytes().find("zrows"), std::string::npos);
  EXPECT_EQ(rowsOf(packedOne), rowsOf(one));

  // Rows that would pack beyond what a reader accepts travel unpacked.
  PacketWriter same({{"S", TFieldType::String, 5000}}, PacketKind::Delta);
  same.PackFrom(0);
  for (int i = 0; i < 40; ++i) same.AddInserted({Variant(std::string(4000, 'x'))});
  auto repeated = same.Finish();
  EXPECT_EQ(repeated.bytes().find("zrows"), std::string::npos);
  EXPECT_EQ(rowsOf(repeated).size(), 40u);
}

// Packed rows that cannot be trusted are refused before any row is read,
// with the same error as any malformed packet.
TEST(PacketPacked, DamagedPackedRowsAreRefused) {
  const std::string good = R"([[4,[1],"ab",2.5,1.5],[2,"cd",3]])";
  ASSERT_EQ(rowsOf(packedRaw('"' + base64(zstdFrame(good)) + '"')).size(), 2u);
  std::string frame = zstdFrame(good);
  std::string noSize(ZSTD_compressBound(good.size()), '\0');
  {
    ZSTD_CCtx* c = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(c, ZSTD_c_contentSizeFlag, 0);
    noSize.resize(ZSTD_compress2(c, noSize.data(), noSize.size(), good.data(), good.size()));
    ZSTD_freeCCtx(c);
  }
  std::vector<std::string> bad = {
      "12",                                                          // not a text
      R"("!!!not base64")",                                          //
      '"' + base64("plain bytes, not a frame") + '"',                //
      '"' + base64(frame.substr(0, frame.size() - 3)) + '"',         // cut short
      '"' + base64(frame + "trailing") + '"',                        //
      '"' + base64(noSize) + '"',                                    // no declared size
      '"' + base64(zstdFrame(std::string(4 << 20, ' ') + "[]")) + '"',  // more than 256 times its packed size
      '"' + base64(zstdFrame(R"({"a":1})")) + '"',                    // not an array
      '"' + base64(zstdFrame(R"([[4,[1],"ab",2.5)")) + '"',          // broken JSON
      '"' + base64("") + '"',                                        //
  };
  for (auto& z : bad) {
    SCOPED_TRACE(z.substr(0, 60));
    EXPECT_THROW(rowsOf(packedRaw(z)), rtl::EDatabaseError);
  }
  // Rows inside are checked as ever.
  EXPECT_THROW(rowsOf(packedRaw('"' + base64(zstdFrame(R"([[4,[2],"ab",2.5,1.5]])")) + '"')), rtl::EDatabaseError);
  // Plain and packed rows together are ambiguous.
  EXPECT_THROW(rowsOf(rtl::DataPacket(R"({"packet":"efet","version":1,"kind":"delta","fields":[{"name":"S","type":"string"}],"rows":[],"zrows":")" +
                                     base64(zstdFrame("[]")) + "\"}")),
               rtl::EDatabaseError);
}

}  // namespace
