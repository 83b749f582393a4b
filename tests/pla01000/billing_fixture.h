#pragma once
// The billing page of PLA01000 on the fixture's day D, branch 0001, service
// 00010 (planned with 10 clients): two billed services, "F0010" with clients
// C1 (6 billed, 2 cash sales) and C2 (2 billed), and "F0020" whose sale value
// varies by date with client C3; one turnstile, two shifts. The client
// grid lists C1 on row 1 and C2 on row 2 (by corporate name). The stored client
// sum is 10, so leaving the page is consistent unless a test changes it.

#include <string>

#include "screen_fixture.h"

namespace pla01000test {

class BillingTest : public ScreenTest {
protected:
  void Build(server::DemoBuilder& b) override {
    ScreenTest::Build(b);
    b.Client("C1", "Alfa Ltda", "Um", "J", "12345678000190");
    b.Client("C2", "Beta Ltda", "Dois", "F", "");
    b.Client("C3", "Gama Ltda", "Tres", "J", "");
    b.Billed("0001", "00010", "F0010", "Fatura Almoço");
    b.Billed("0001", "00010", "F0020", "Fatura Variável", true);
    b.BilledClient("0001", "F0010", "C1").BilledClient("0001", "F0010", "C2").BilledClient("0001", "F0020", "C3");
    b.ClientCount("0001", "F0010", "C1", D, 6, 2);
    b.ClientCount("0001", "F0010", "C2", D, 2);
    b.Turnstile("0001", "T1", "Catraca 1", "00010");
    b.Shift("0001", "1", "Manhã").Shift("0001", "2", "Tarde");
  }

  // Opens the screen, loads day d and picks the billing page.
  void OpenBilling(rtl::TDateTime d) {
    ASSERT_TRUE(Open());
    LoadDay(d);
    ASSERT_TRUE(ui.pick(*f->pgcPadrao, *f->tshClientes)) << ui.lastError();
    ASSERT_EQ(f->pgcPadrao->ActivePage(), f->tshClientes);
  }
  void OpenBilling() { OpenBilling(D); }

  // The column of a grid showing a field.
  static int Col(const ui::TDBGrid& g, const std::string& field) {
    for (int i = 0; i < g.ColumnCount(); ++i)
      if (g.Columns(i).FieldName == field) return i;
    return -1;
  }
  // Clicks a cell and types into it.
  void TypeCell(ui::TDBGrid& g, int row, const std::string& field, const std::string& text) {
    ASSERT_TRUE(ui.clickCell(g, row, Col(g, field))) << field;
    ui.type(text);
  }
  std::string Msg(const char* key) const { return f->msgPadrao.Msg(key); }
  bool Locate(data::TClientDataSet& ds, const char* field, const std::string& v) { return ds.Locate(field, v); }
};

}  // namespace pla01000test
