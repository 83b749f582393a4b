#include "platform/data/filter.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"

using data::FilterExpression;
using data::TFieldType;
using data::TFilterOptions;
using rtl::Variant;

namespace {

// A table as plain vectors: the two interfaces the expression reads through.
struct Table : data::FilterSchema {
  std::vector<std::pair<std::string, TFieldType>> fields;
  std::vector<std::vector<Variant>> rows;

  int fieldIndex(std::string_view name) const override {
    for (size_t i = 0; i < fields.size(); ++i)
      if (rtl::SameText(fields[i].first, name)) return static_cast<int>(i);
    return -1;
  }
  TFieldType fieldType(int index) const override { return fields[index].second; }
};

struct RefRow : data::FilterRow {
  const std::vector<Variant>* values;
  explicit RefRow(const std::vector<Variant>& v) : values(&v) {}
  Variant value(int index) const override { return (*values)[index]; }
  const Variant* valueRef(int index) const override { return &(*values)[index]; }
};

// Only value(): the path a row without stored Variants takes.
struct CopyRow : data::FilterRow {
  std::vector<Variant> values;
  Variant value(int index) const override { return values[index]; }
};

// Strings through stringRef, as a column store hands them out; counts the
// Variants it has to build.
struct ColumnRow : data::FilterRow {
  std::vector<Variant> values;
  mutable int built = 0;
  Variant value(int index) const override {
    ++built;
    return values[index];
  }
  bool stringRef(int index, std::string_view& out) const override {
    if (!values[index].isString()) return false;
    out = values[index].asStringRef();
    return true;
  }
};

Variant date(int y, int m, int d) { return Variant::FromDate(rtl::EncodeDate(y, m, d)); }

class FilterTest : public ::testing::Test {
protected:
  FilterTest() {
    t.fields = {{"CDFILIAL", TFieldType::String},   {"NRCARDAPIO", TFieldType::String},
                {"CDCLIENTE", TFieldType::String},  {"DTCARDAPIO", TFieldType::DateTime},
                {"QTEFETFAT", TFieldType::Float},   {"NRSEQ", TFieldType::Integer},
                {"ATIVO", TFieldType::Boolean},     {"NOME COMPLETO", TFieldType::String}};
    auto null = Variant::Null();
    t.rows = {
        {"0001", "0000012345", "O'BRIEN", date(2024, 3, 15), 1.5, 1, true, "JOÃO DA SILVA"},
        {"0001", "0000012346", "OBRIEN", date(2024, 3, 16), 2.25, 2, false, "JOSE"},
        {"0002", "0000012345", "0001 ", date(2024, 2, 29), -2.5, 3, true, "MAJO"},
        {"0001 ", "0000012345", "JO*", null, null, null, null, null},
        {"0001", "0000012345", "joão", date(2024, 3, 15), 1500.0, 10, false, "joão"},
    };
  }

  std::unique_ptr<FilterExpression> parse(std::string_view text, TFilterOptions o = {}) {
    return FilterExpression::Parse(text, t, o, fs);
  }

  // Indexes of the rows the filter accepts.
  std::vector<int> match(std::string_view text, TFilterOptions o = {}) {
    auto e = parse(text, o);
    EXPECT_NE(e, nullptr) << text;
    std::vector<int> out;
    if (!e) return out;
    for (size_t i = 0; i < t.rows.size(); ++i)
      if (e->Evaluate(RefRow(t.rows[i]))) out.push_back(static_cast<int>(i));
    return out;
  }

  // The message of the EDatabaseError the text raises ("" when it parses).
  std::string error(std::string_view text, TFilterOptions o = {}) {
    try {
      parse(text, o);
    } catch (const rtl::EDatabaseError& e) {
      return e.what();
    }
    return {};
  }

  Table t;
  rtl::TFormatSettings fs = rtl::TFormatSettings::BrazilianPortuguese();
};

using V = std::vector<int>;

TEST_F(FilterTest, ScreenTextsMatchKeysExactly) {
  EXPECT_EQ(match("CDFILIAL = '0001' AND NRCARDAPIO = '0000012345'"), (V{0, 4}));
  // No trimming: '0001 ' is another branch.
  EXPECT_EQ(match("CDFILIAL = '0001 '"), (V{3}));
  EXPECT_EQ(match("CDFILIAL = '1'"), V{});
  // Field names are case-insensitive; bracketed names may hold blanks.
  EXPECT_EQ(match("cdFilial = '0002'"), (V{2}));
  EXPECT_EQ(match("[NOME COMPLETO] = 'JOSE'"), (V{1}));
  EXPECT_EQ(parse(""), nullptr);
  EXPECT_EQ(parse("  \t"), nullptr) << "blank text is no filter";
}

TEST_F(FilterTest, QuotesInsideLiterals) {
  std::string text = rtl::Format("CDCLIENTE = %s", {Variant(rtl::QuotedStr("O'BRIEN"))});
  EXPECT_EQ(text, "CDCLIENTE = 'O''BRIEN'");
  EXPECT_EQ(match(text), (V{0}));
  EXPECT_EQ(match("CDCLIENTE = 'OBRIEN'"), (V{1}));
  t.rows[1][2] = "A'";
  EXPECT_EQ(match("CDCLIENTE = 'A'''"), (V{1})) << "doubled quote at the end";
  t.rows[1][2] = "";
  EXPECT_EQ(match("CDCLIENTE = ''"), (V{1}));
}

TEST_F(FilterTest, DatesAreReadWithTheShortDateFormat) {
  EXPECT_EQ(match("DTCARDAPIO = '15/03/2024'"), (V{0, 4}));
  EXPECT_EQ(match("DTCARDAPIO = '" + rtl::DateToStr(rtl::EncodeDate(2024, 2, 29), fs) + "'"), (V{2}));
  EXPECT_EQ(match("DTCARDAPIO > '15/03/2024'"), (V{1}));
  EXPECT_EQ(match("DTCARDAPIO <= '15/03/2024'"), (V{0, 2, 4}));
  EXPECT_EQ(match("'15/03/2024' < DTCARDAPIO"), (V{1})) << "literal on the left";
  EXPECT_EQ(match("DTCARDAPIO < '15/03/2024 12:00'"), (V{0, 2, 4})) << "a time may follow";
  EXPECT_NE(error("DTCARDAPIO = '31/02/2024'").find("not a valid date"), std::string::npos);

  rtl::TFormatSettings us = fs;
  us.ShortDateFormat = "mm/dd/yyyy";
  auto e = FilterExpression::Parse("DTCARDAPIO = '03/16/2024'", t, {}, us);
  EXPECT_TRUE(e->Evaluate(RefRow(t.rows[1])));
  EXPECT_FALSE(e->Evaluate(RefRow(t.rows[0])));
}

TEST_F(FilterTest, PrecedenceNotAndOr) {
  // AND binds tighter than OR.
  EXPECT_EQ(match("CDFILIAL = '0002' OR CDFILIAL = '0001' AND NRCARDAPIO = '0000012346'"), (V{1, 2}));
  EXPECT_EQ(match("(CDFILIAL = '0002' OR CDFILIAL = '0001') AND NRCARDAPIO = '0000012346'"), (V{1}));
  // NOT binds tighter than AND.
  EXPECT_EQ(match("NOT CDFILIAL = '0001' AND NRCARDAPIO = '0000012345'"), (V{2, 3}));
  EXPECT_EQ(match("NOT (CDFILIAL = '0001' AND NRCARDAPIO = '0000012345')"), (V{1, 2, 3}));
  EXPECT_EQ(match("not not CDFILIAL = '0002'"), (V{2}));
  EXPECT_EQ(match("((((CDFILIAL = '0002'))))"), (V{2}));
}

TEST_F(FilterTest, PartialCompareWithTrailingStar) {
  EXPECT_EQ(match("[NOME COMPLETO] = 'JO*'"), (V{0, 1}));
  EXPECT_EQ(match("[NOME COMPLETO] <> 'JO*'"), (V{2, 4})) << "null row 3 matches neither";
  EXPECT_EQ(match("[NOME COMPLETO] = '*'"), (V{0, 1, 2, 4}));
  // Ordering operators take the '*' literally.
  EXPECT_EQ(match("CDCLIENTE >= 'JO*'"), (V{0, 1, 3, 4}));

  TFilterOptions exact;
  exact.NoPartialCompare = true;
  EXPECT_EQ(match("CDCLIENTE = 'JO*'", exact), (V{3}));
  EXPECT_EQ(match("[NOME COMPLETO] = 'JO*'", exact), V{});
}

TEST_F(FilterTest, CaseInsensitiveOption) {
  TFilterOptions ci;
  ci.CaseInsensitive = true;
  EXPECT_EQ(match("[NOME COMPLETO] = 'joão'"), (V{4}));
  EXPECT_EQ(match("[NOME COMPLETO] = 'JOÃO'", ci), (V{4})) << "accented letters fold too";
  EXPECT_EQ(match("CDCLIENTE = 'o''brien'", ci), (V{0}));
  EXPECT_EQ(match("[NOME COMPLETO] = 'jo*'", ci), (V{0, 1, 4}));
  EXPECT_EQ(match("[NOME COMPLETO] = 'jo*'"), (V{4}));
  EXPECT_EQ(match("CDCLIENTE < 'a'", ci), (V{2}));
  EXPECT_EQ(match("CDCLIENTE < 'a'"), (V{0, 1, 2, 3})) << "byte order: capitals before 'a'";
}

TEST_F(FilterTest, NumbersUseTheSettingsDecimalSeparator) {
  EXPECT_EQ(match("QTEFETFAT = 1,5"), (V{0}));
  EXPECT_EQ(match("QTEFETFAT = '1,5'"), (V{0})) << "a string literal is read as a number";
  EXPECT_EQ(match("QTEFETFAT > 1,25 AND QTEFETFAT < 3"), (V{0, 1}));
  EXPECT_EQ(match("QTEFETFAT = -2,5"), (V{2}));
  EXPECT_EQ(match("QTEFETFAT >= 1500"), (V{4}));
  EXPECT_EQ(match("NRSEQ = 10"), (V{4}));
  EXPECT_EQ(match("NRSEQ <= 2,0"), (V{0, 1}));
  EXPECT_EQ(match("QTEFETFAT = 1,5E3"), (V{4}));

  // '.' is the thousands separator here: refused, not guessed.
  std::string msg = error("QTEFETFAT = 1.5");
  EXPECT_NE(msg.find("malformed number '1.5'"), std::string::npos) << msg;
  EXPECT_NE(msg.find("decimal separator is ','"), std::string::npos) << msg;
  EXPECT_NE(error("QTEFETFAT = 'abc'").find("'abc' is not a valid number"), std::string::npos);

  rtl::TFormatSettings dot = fs;
  dot.DecimalSeparator = '.';
  dot.ThousandSeparator = ',';
  EXPECT_TRUE(FilterExpression::Parse("QTEFETFAT = 2.25", t, {}, dot)->Evaluate(RefRow(t.rows[1])));
  EXPECT_THROW(FilterExpression::Parse("QTEFETFAT = 2,25", t, {}, dot), rtl::EDatabaseError);
}

TEST_F(FilterTest, NullValues) {
  // Row 3 holds nulls: every comparison with them is false, whatever the operator.
  for (const char* text : {"DTCARDAPIO = '15/03/2024'", "DTCARDAPIO <> '15/03/2024'", "QTEFETFAT < 0",
                           "QTEFETFAT >= 0", "NRSEQ <> 1", "ATIVO = FALSE", "[NOME COMPLETO] <> 'X'",
                           "QTEFETFAT = NRSEQ", "QTEFETFAT <> NRSEQ"}) {
    auto e = parse(text);
    EXPECT_FALSE(e->Evaluate(RefRow(t.rows[3]))) << text;
  }
  // Two-valued logic: NOT of a false comparison is true.
  EXPECT_EQ(match("NOT QTEFETFAT > 0"), (V{2, 3}));
  EXPECT_EQ(match("QTEFETFAT IS NULL"), (V{3}));
  EXPECT_EQ(match("qtefetfat is not null AND NRSEQ IS NOT NULL"), (V{0, 1, 2, 4}));
  EXPECT_EQ(match("DTCARDAPIO IS NULL OR DTCARDAPIO < '01/03/2024'"), (V{2, 3}));
  // Empty (unassigned) counts as null, as a field's IsNull does.
  t.rows[0][4] = Variant();
  EXPECT_EQ(match("QTEFETFAT IS NULL"), (V{0, 3}));
  EXPECT_NE(error("QTEFETFAT = NULL").find("IS NULL"), std::string::npos);
}

TEST_F(FilterTest, BooleansFieldPairsAndRowsWithoutReferences) {
  EXPECT_EQ(match("ATIVO"), (V{0, 2}));
  EXPECT_EQ(match("NOT ATIVO"), (V{1, 3, 4}));
  EXPECT_EQ(match("ATIVO = FALSE"), (V{1, 4}));
  EXPECT_EQ(match("ATIVO = 'True'"), (V{0, 2}));
  EXPECT_EQ(match("NRSEQ > QTEFETFAT"), (V{2}));
  EXPECT_EQ(match("CDFILIAL > NRCARDAPIO"), (V{0, 1, 2, 3, 4}));
  EXPECT_EQ(match("1 = 1"), (V{0, 1, 2, 3, 4}));
  EXPECT_EQ(match("'a' = 'b'"), V{});

  // Long strings through value() copies give the same answers.
  auto e = parse("[NOME COMPLETO] = 'A LONG NAME THAT DOES NOT FIT*' AND QTEFETFAT = 1,5");
  CopyRow row;
  row.values = t.rows[0];
  row.values[7] = "A LONG NAME THAT DOES NOT FIT IN A SMALL STRING";
  EXPECT_TRUE(e->Evaluate(row));
  row.values[4] = 1.25;
  EXPECT_FALSE(e->Evaluate(row));

  ColumnRow col;
  col.values = t.rows[0];
  auto keys = parse("CDFILIAL = '0001' AND [NOME COMPLETO] = 'JO*' AND CDCLIENTE > 'A'");
  EXPECT_TRUE(keys->Evaluate(col));
  EXPECT_EQ(col.built, 0) << "strings were read without building Variants";
  col.values[7] = Variant::Null();
  EXPECT_FALSE(keys->Evaluate(col)) << "a null string falls back to value()";
  EXPECT_EQ(col.built, 1);
}

TEST_F(FilterTest, MalformedTextsAreClearErrors) {
  struct Case {
    const char* text;
    const char* problem;
    int position;
  };
  const Case cases[] = {
      {"CDCLIENTE = 'O''BRIEN", "unterminated string literal", 13},
      {"CDFILIAL =", "operand expected", 11},
      {"CDFILIAL = '1' AND", "operand expected", 19},
      {"AND CDFILIAL = '1'", "operand expected but found 'AND'", 1},
      {"(CDFILIAL = '1'", "missing ')' for the '(' at position 1", 16},
      {"CDFILIAL = '1')", "unexpected ')'", 15},
      {"()", "operand expected but found ')'", 2},
      {"CDFILIALX = '1'", "field 'CDFILIALX' not found", 1},
      {"[NOME = 'x'", "missing ']'", 1},
      {"CDFILIAL = '1' X", "unexpected field name 'X'", 16},
      {"CDFILIAL == '1'", "operand expected but found '='", 11},
      {"CDFILIAL '1'", "comparison operator expected", 10},
      {"CDFILIAL", "comparison operator expected at end of text", 9},
      {"CDFILIAL = 1", "type mismatch", 12},
      {"QTEFETFAT = CDFILIAL", "type mismatch", 11},
      {"CDFILIAL = \"1\"", "unexpected '\"'", 12},
      {"CDFILIAL ! '1'", "unexpected character '!'", 10},
      {"QTEFETFAT = 1,", "malformed number", 13},
      {"QTEFETFAT = 12abc", "malformed number '12abc'", 13},
      {"QTEFETFAT IS 1", "NULL expected after IS", 14},
      {"'ção' = '1' OR X = 1", "field 'X' not found", 16},  // positions count characters
  };
  for (const Case& c : cases) {
    std::string msg = error(c.text);
    EXPECT_NE(msg.find(c.problem), std::string::npos) << c.text << " -> " << msg;
    EXPECT_NE(msg.find("at position " + std::to_string(c.position) + ":"), std::string::npos)
        << c.text << " -> " << msg;
  }
}

TEST_F(FilterTest, HostileNestingIsRefusedWithoutOverflow) {
  for (const std::string& open : {std::string("("), std::string("NOT ")}) {
    std::string text;
    for (int i = 0; i < 100000; ++i) text += open;
    text += "CDFILIAL = '1'";
    EXPECT_NE(error(text).find("nested too deeply"), std::string::npos);
  }
  // Reasonable nesting still works, and long flat chains are no nesting at all.
  std::string deep = std::string(150, '(') + "CDFILIAL = '0002'" + std::string(150, ')');
  EXPECT_EQ(match(deep), (V{2}));
  std::string chain = "CDFILIAL = '0002'";
  for (int i = 0; i < 20000; ++i) chain += " OR CDFILIAL = 'X'";
  EXPECT_EQ(match(chain), (V{2}));
  // The message quotes at most the start of a long text.
  EXPECT_LT(error(std::string(100000, '(')).size(), 400u);
}

// Token soup with stray bytes: every text either parses or is refused with
// EDatabaseError; nothing else escapes, and parsed ones evaluate on any row.
TEST_F(FilterTest, ArbitraryTextsParseOrRaiseDatabaseError) {
  const char* pieces[] = {"CDFILIAL", "QTEFETFAT", "DTCARDAPIO", "ATIVO", "NRSEQ", "[NOME COMPLETO]", "X", "[", "]",
                          "'", "''", "'abc'", "'1,5'", "'31/12/9999'", "'99/99/99'", "'*'", "1", "1,5", ",", ".",
                          "-", "9e999", "(", ")", "=", "<>", "<", ">", "<=", ">=", "AND", "OR", "NOT", "IS",
                          "NULL", "TRUE", "FALSE", "\"", "ç", "\t"};
  std::mt19937 rng(7);
  int parsed = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    for (int k = static_cast<int>(rng() % 10); k > 0; --k) {
      text += pieces[rng() % std::size(pieces)];
      if (rng() % 2) text += ' ';
    }
    if (i % 4 == 0 && !text.empty()) text[rng() % text.size()] = static_cast<char>(rng() % 256);
    TFilterOptions o;
    o.CaseInsensitive = rng() % 2;
    o.NoPartialCompare = rng() % 2;
    try {
      auto e = parse(text, o);
      if (!e) continue;
      ++parsed;
      for (const auto& r : t.rows) e->Evaluate(RefRow(r));
    } catch (const rtl::EDatabaseError&) {
    } catch (const std::exception& other) {
      ADD_FAILURE() << text << " -> " << other.what();
    }
  }
  EXPECT_GT(parsed, 100) << "the soup should hold some valid texts";
}

}  // namespace
