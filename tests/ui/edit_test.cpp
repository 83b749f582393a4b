// Edits as the user types into them: masks, case, maximum length, the date edit.

#include <gtest/gtest.h>

#include "platform/rtl/datetime.h"
#include "platform/ui/driver.h"

using namespace ui;

namespace {

struct EditForm : TForm {
  TMaskEdit* medCdFilial;
  TEdit* edtGrupServ;
  TDateEditPlus* depCardapio;
  TMaskEdit* medCodigo;
  TEdit* edtOutro;
  explicit EditForm(TComponent* owner) : TForm(owner) {
    SetName("frmEdits");
    medCdFilial = Make<TMaskEdit>(this, "medCdFilial", this);
    medCdFilial->SetEditMask(">aaaa;0; ");
    medCdFilial->MaxLength = 4;
    edtGrupServ = Make<TEdit>(this, "edtGrupServ", this);
    edtGrupServ->MaxLength = 3;
    depCardapio = Make<TDateEditPlus>(this, "depCardapio", this);
    medCodigo = Make<TMaskEdit>(this, "medCodigo", this);
    medCodigo->SetEditMask("000;0;_");
    edtOutro = Make<TEdit>(this, "edtOutro", this);
  }
};

struct EditTest : ::testing::Test {
  Driver ui;
  EditForm* f = nullptr;
  void SetUp() override {
    f = CreateForm<EditForm>(nullptr);
    ui.act([&] { f->Show(); });
  }
};

TEST_F(EditTest, BranchMaskUpperCasesAndStopsAtFourCharacters) {
  int changes = 0;
  f->medCdFilial->OnChange = [&](TObject&) { ++changes; };
  ui.focus(*f->medCdFilial);
  ui.type("ab1x9");
  EXPECT_EQ(f->medCdFilial->Text(), "AB1X");
  EXPECT_EQ(changes, 4);  // the fifth character was refused
  ui.press(VK_BACK);
  ui.type("-");  // not a letter or digit
  EXPECT_EQ(f->medCdFilial->EditText(), "AB1 ");
  EXPECT_EQ(f->medCdFilial->Text(), "AB1");
  // Entering again selects everything: typing replaces the old code.
  ui.focus(*f->edtOutro);
  ui.focus(*f->medCdFilial);
  ui.type("z");
  EXPECT_EQ(f->medCdFilial->Text(), "Z");
  EXPECT_EQ(f->medCdFilial->EditText(), "Z   ");
}

TEST_F(EditTest, PlainEditHonoursMaximumLengthAndBackspace) {
  ui.focus(*f->edtGrupServ);
  ui.type("0123");
  EXPECT_EQ(f->edtGrupServ->Text(), "012");
  ui.press(VK_BACK);
  ui.type("9");
  EXPECT_EQ(f->edtGrupServ->Text(), "019");
  f->edtGrupServ->SetReadOnly(true);
  ui.type("1");
  ui.press(VK_BACK);
  EXPECT_EQ(f->edtGrupServ->Text(), "019");
  // Characters count, not bytes.
  f->edtGrupServ->SetReadOnly(false);
  f->edtGrupServ->SetText("");
  ui.type("çãé!");
  EXPECT_EQ(f->edtGrupServ->Text(), "çãé");
}

TEST_F(EditTest, IncompleteRequiredMaskKeepsTheFocus) {
  ui.focus(*f->medCodigo);
  ui.type("12");
  EXPECT_EQ(f->medCodigo->EditText(), "12_");
  ui.press(VK_TAB);
  EXPECT_EQ(ui.focused(), f->medCodigo);
  EXPECT_EQ(ui.lastError(), SMaskEditErr);
  // Escape gives back the text the edit had on entry; an unchanged edit may be left.
  ui.press(VK_ESCAPE);
  EXPECT_EQ(f->medCodigo->EditText(), "___");
  ui.press(VK_TAB);
  EXPECT_EQ(ui.focused(), f->edtOutro);
  EXPECT_EQ(ui.errors().size(), 1u);
}

TEST_F(EditTest, DateEditReadsAndChecksDates) {
  TDateEditPlus& d = *f->depCardapio;
  EXPECT_EQ(d.GetDate(), 0);
  EXPECT_EQ(d.Text(), "");
  EXPECT_NO_THROW(d.CheckValidDate());
  ui.focus(d);
  ui.type("15032024");
  EXPECT_EQ(d.Text(), "15/03/2024");
  EXPECT_EQ(d.GetDate(), rtl::EncodeDate(2024, 3, 15));
  EXPECT_EQ(d.WeekDayName(), "Sexta");

  ui.focus(*f->edtOutro);
  ui.focus(d);  // entering selects the whole text
  ui.type("31022024");
  try {
    d.CheckValidDate();
    FAIL() << "31/02/2024 is no date";
  } catch (const rtl::EConvertError& e) {
    EXPECT_STREQ(e.what(), "'31/02/2024' não é uma data válida");
  }
  EXPECT_THROW(d.GetDate(), rtl::EConvertError);

  d.SetDate(rtl::EncodeDate(2024, 12, 1) + 0.75);  // the time part is dropped
  EXPECT_EQ(d.Text(), "01/12/2024");
  EXPECT_EQ(d.GetDate(), rtl::EncodeDate(2024, 12, 1));
  EXPECT_EQ(d.WeekDayName(), "Domingo");
  d.SetDate(0);
  EXPECT_EQ(d.Text(), "");
  // Typing the separators as well steps over them.
  ui.focus(d);
  ui.type("01/12/2024");
  EXPECT_EQ(d.Text(), "01/12/2024");
}

}  // namespace
