// Apportionment of client headcounts: the button of the client grid, the
// apportionment items screen PLA01002 driven through the modal loop, the
// numbering of new lines, their checks, the lines' round trip with the
// confirm, and the cancel of the billing page.

#include "billing_fixture.h"
#include "pla01002/cli_pla01002.h"

using namespace pla01000test;

namespace {

using St = data::TDataSetState;

class Rateio : public BillingTest {
protected:
  void Build(server::DemoBuilder& b) override {
    BillingTest::Build(b);
    // Items created out of code order; the server offers a line per client and item.
    auto i3 = b.Item("0001", "F0010", "I3", "Item Tres");
    auto i1 = b.Item("0001", "F0010", "I1", "Item Um");
    auto i2 = b.Item("0001", "F0010", "I2", "Item Dois");
    (void)i3;
    nrC1I1 = b.Line("0001", "F0010", "C1", D, i1, 2);
    nrC1I2 = b.Line("0001", "F0010", "C1", D, i2, 3);
    b.Client("C'4", "Delta Ltda", "Quatro", "F", "");
    b.BilledClient("0001", "F0010", "C'4");
  }
  int64_t nrC1I1 = 0, nrC1I2 = 0;

  // Rows of the client grid (by corporate name): C1, C2, C'4.
  bool OpenItems(int row) {
    if (!ui.clickCell(*f->dbgEfeCliCa, row, Col(*f->dbgEfeCliCa, "QTCOMEFETCLI"))) return false;
    return ui.clickEditButton(*f->dbgEfeCliCa);
  }
  // Types a value into the "Efetivos" cell of a line of the modal grid.
  void TypeQt(pla01002::TfrmItRatEfet& m, int row, const std::string& v) {
    ASSERT_TRUE(ui.clickCell(*m.dbgPadrao, row, 2)) << row;
    ui.type(v);
  }
  static pla01002::TfrmItRatEfet& Modal(ui::TCustomForm& form) {
    return dynamic_cast<pla01002::TfrmItRatEfet&>(form);
  }
  struct Linha {
    std::string cliente, item;
    rtl::Variant nr, qt;
  };
  // The lines of one client, as the data set holds them.
  std::vector<Linha> Linhas(data::TClientDataSet& ds, const std::string& cliente) {
    std::vector<Linha> v;
    for (ds.First(); !ds.Eof(); ds.Next())
      if (cliente.empty() || ds.FieldByName("CDCLIENTE").AsString() == cliente)
        v.push_back({ds.FieldByName("CDCLIENTE").AsString(), ds.FieldByName("CDITEMRATEIOEFET").AsString(),
                     ds.FieldByName("NRITRATEFETCLIE").Value(), ds.FieldByName("QTEFETIVOS").Value()});
    return v;
  }
  double QtCliente(const std::string& c) {
    EXPECT_TRUE(f->cdsServCli.Locate("CDCLIENTE", c));
    return f->cdsServCli.FieldByName("QTCOMEFETCLI").AsFloat();
  }
  size_t Perguntas(const std::string& key) {
    size_t n = 0;
    for (auto& d : ui.dialogs()) n += d.Text == Msg(key.c_str());
    return n;
  }
};

// ---------------------------------------------------------------------------
TEST_F(BillingTest, WithoutItemsTheBilledCountHasNoButton) {
  OpenBilling();
  int c = Col(*f->dbgEfeCliCa, "QTCOMEFETCLI");
  EXPECT_EQ(f->dbgEfeCliCa->Columns(c).ButtonStyle, ui::TColumnButtonStyle::None);
  ASSERT_TRUE(ui.clickCell(*f->dbgEfeCliCa, 1, c));
  ui.clickEditButton(*f->dbgEfeCliCa);
  EXPECT_TRUE(ui.services().Modal.Shown.empty());
}

TEST_F(Rateio, TheScreenShowsOneClientsLinesAndClosingWithTwoThreeAndEmptySetsFive) {
  OpenBilling();
  EXPECT_EQ(f->dbgEfeCliCa->Columns(Col(*f->dbgEfeCliCa, "QTCOMEFETCLI")).ButtonStyle,
            ui::TColumnButtonStyle::Ellipsis);
  std::vector<std::string> itens;
  bool filtrado = false;
  ui.onModal([&](ui::TCustomForm& form) {
    auto& m = Modal(form);
    EXPECT_EQ(m.Caption(), "Itens para Rateio de Efetivos");
    EXPECT_EQ(ui::Driver::text(*m.lblCodTela), "PLA01002");
    EXPECT_EQ(m.DataSetPadrao(), &f->cdsItRatEfet);
    filtrado = m.DataSetPadrao()->Filtered();
    for (auto& l : Linhas(*m.DataSetPadrao(), "")) itens.push_back(l.cliente + "/" + l.item);
    EXPECT_TRUE(m.sbtAlterar->Enabled());
    EXPECT_TRUE(m.sbtProcurar->Enabled());
    EXPECT_FALSE(m.sbtIncluir->Enabled());
    EXPECT_FALSE(m.sbtExcluir->Enabled());
    EXPECT_FALSE(m.sbtVerificar->Enabled());
    EXPECT_FALSE(m.sbtConfirmar->Enabled());
    ui.close(form);
  });
  ASSERT_TRUE(OpenItems(1));
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_TRUE(filtrado);
  EXPECT_EQ(itens, (std::vector<std::string>{"C1/I1", "C1/I2", "C1/I3"}));
  // Checked before any move, which would post the row.
  EXPECT_EQ(f->cdsServCli.State(), St::Edit);
  EXPECT_EQ(f->cdsServCli.FieldByName("CDCLIENTE").AsString(), "C1");
  EXPECT_EQ(QtCliente("C1"), 5) << "2 + 3 + empty";
  EXPECT_EQ(Perguntas("EXISTE_RATEIO_EFET"), 0u);
  EXPECT_FALSE(f->cdsItRatEfet.Filtered());
  EXPECT_EQ(Linhas(f->cdsItRatEfet, "").size(), 9u) << "three clients, three items";
  EXPECT_EQ(pla01002::frmItRatEfet, nullptr) << "released after closing";
}

TEST_F(Rateio, NewLinesAreNumberedMinusOneThenMinusTwoAcrossClientsAndStoredLinesKeepTheirNumbers) {
  OpenBilling();
  ui.onModal([&](ui::TCustomForm& form) {
    auto& m = Modal(form);
    TypeQt(m, 1, "4");
    ui.press(ui::VK_DOWN);  // posts
    ui.close(form);
  });
  ASSERT_TRUE(OpenItems(2));  // C2
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_EQ(QtCliente("C2"), 4);
  auto c2 = Linhas(f->cdsItRatEfet, "C2");
  ASSERT_EQ(c2.size(), 3u);
  EXPECT_EQ(c2[0].nr.toDouble(), -1);
  EXPECT_TRUE(c2[1].nr.isNullOrEmpty());
  ASSERT_TRUE(f->cdsItRatEfet.Locate("NRITRATEFETCLIE", -1.0));
  for (const char* k : {"CDFILIAL", "CDSERVFILI", "CDSERVPLAN"})
    EXPECT_FALSE(f->cdsItRatEfet.FieldByName(k).AsString().empty()) << k;
  EXPECT_EQ(f->cdsItRatEfet.FieldByName("CDFILIAL").AsString(), "0001");
  EXPECT_EQ(f->cdsItRatEfet.FieldByName("DTEFETCLIE").AsDateTime(), D);
  ui.press(ui::VK_ESCAPE);

  // Another client: the next number, and C1's stored lines keep theirs.
  ui.onModal([&](ui::TCustomForm& form) {
    auto& m = Modal(form);
    TypeQt(m, 1, "6");   // stored 2 -> 6
    ui.press(ui::VK_DOWN);
    TypeQt(m, 2, "0");   // stored 3 -> 0: empty
    ui.press(ui::VK_DOWN);
    TypeQt(m, 3, "1");   // new
    ui.press(ui::VK_UP);
    ui.close(form);
  });
  ASSERT_TRUE(OpenItems(1));
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  auto c1 = Linhas(f->cdsItRatEfet, "C1");
  ASSERT_EQ(c1.size(), 3u);
  EXPECT_EQ(c1[0].nr.toDouble(), static_cast<double>(nrC1I1));
  EXPECT_EQ(c1[0].qt.toDouble(), 6);
  EXPECT_EQ(c1[1].nr.toDouble(), static_cast<double>(nrC1I2));
  EXPECT_TRUE(c1[1].qt.isNullOrEmpty()) << "0 is stored as empty";
  EXPECT_EQ(c1[2].nr.toDouble(), -2);
  EXPECT_EQ(c1[2].cliente, "C1");
  EXPECT_EQ(QtCliente("C1"), 7);
}

TEST_F(Rateio, AnEmptiedValueStaysEmptyAndANegativeOneIsRefusedUntilCorrected) {
  OpenBilling();
  std::vector<std::string> erros;
  rtl::Variant nr, qt;
  St estado = St::Browse;
  ui.onModal([&](ui::TCustomForm& form) {
    auto& m = Modal(form);
    TypeQt(m, 2, "-1");
    ui.press(ui::VK_DOWN);
    erros = ui.errors();
    estado = m.DataSetPadrao()->State();
    EXPECT_TRUE(m.DataSetPadrao()->Filtered()) << "the filter survives the refusal";
    ui.press(ui::VK_BACK);
    ui.press(ui::VK_BACK);  // empties the value
    ui.press(ui::VK_UP);
    nr = m.DataSetPadrao()->FieldByName("NRITRATEFETCLIE").Value();
    ASSERT_TRUE(m.DataSetPadrao()->Locate("CDITEMRATEIOEFET", std::string("I2")));
    qt = m.DataSetPadrao()->FieldByName("QTEFETIVOS").Value();
    nr = m.DataSetPadrao()->FieldByName("NRITRATEFETCLIE").Value();
    ui.close(form);
  });
  ASSERT_TRUE(OpenItems(1));
  ASSERT_EQ(erros.size(), 1u) << "one message, no loop";
  EXPECT_EQ(erros[0], "Quantidade de efetivos deve ser maior que zero.");
  EXPECT_EQ(estado, St::Edit);
  EXPECT_TRUE(qt.isNullOrEmpty());
  EXPECT_EQ(nr.toDouble(), static_cast<double>(nrC1I2)) << "keeps its number";
  EXPECT_EQ(QtCliente("C1"), 2);
}

TEST_F(Rateio, AllEmptyLeavesTheHeadcountInEditAndAQuotedClientSeesOnlyItsLines) {
  OpenBilling();
  std::vector<std::string> clientes;
  ui.onModal([&](ui::TCustomForm& form) {
    for (auto& l : Linhas(*Modal(form).DataSetPadrao(), "")) clientes.push_back(l.cliente);
    ui.close(form);
  });
  ASSERT_TRUE(OpenItems(3));  // C'4
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_EQ(clientes, (std::vector<std::string>{"C'4", "C'4", "C'4"}));
  EXPECT_EQ(f->cdsServCli.State(), St::Edit);
  EXPECT_EQ(QtCliente("C'4"), 0);
  EXPECT_FALSE(f->cdsItRatEfet.Filtered());
  EXPECT_EQ(f->cdsItRatEfet.Filter(), "");
}

TEST_F(Rateio, OnAnEmptyListEditAndSearchAreDisabled) {
  OpenBilling();
  bool alterar = true, procurar = true, vazio = false;
  double soma = -1;
  ui.onModal([&](ui::TCustomForm& form) {
    auto& m = Modal(form);
    vazio = m.DataSetPadrao()->IsEmpty();
    alterar = m.sbtAlterar->Enabled();
    procurar = m.mnuProcurar->Enabled();
    ui.close(form);
  });
  ui.act([&] { soma = pla01002::CriaItRatEfet("NINGUEM"); });
  EXPECT_TRUE(vazio);
  EXPECT_FALSE(alterar);
  EXPECT_FALSE(procurar);
  EXPECT_EQ(soma, 0);
  EXPECT_FALSE(f->cdsItRatEfet.Filtered());
}

TEST_F(Rateio, InsertsAndDeletesOfLinesAreRefusedSilently) {
  OpenBilling();
  size_t antes = Linhas(f->cdsItRatEfet, "").size();
  ui.act([&] { f->cdsItRatEfet.Append(); });
  ui.act([&] { f->cdsItRatEfet.Delete(); });
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_EQ(f->cdsItRatEfet.State(), St::Browse);
  EXPECT_EQ(Linhas(f->cdsItRatEfet, "").size(), antes);
}

TEST_F(Rateio, TheLinesGoWithTheConfirmAndComeBackWithTheServersNumbers) {
  OpenBilling();
  ui.onModal([&](ui::TCustomForm& form) {
    auto& m = Modal(form);
    TypeQt(m, 1, "4");
    ui.press(ui::VK_DOWN);
    TypeQt(m, 3, "6");
    ui.press(ui::VK_UP);
    ui.close(form);
  });
  ASSERT_TRUE(OpenItems(2));
  EXPECT_EQ(QtCliente("C2"), 10);
  ASSERT_TRUE(ui.click(*f->sbtConfirmar));
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  auto upd = calls.of("UpdEfetClie");
  ASSERT_EQ(upd.size(), 1u);
  EXPECT_TRUE(upd[0].args[6].isPacket());
  EXPECT_EQ(f->cdsItRatEfet.ChangeCount(), 0);
  auto c2 = Linhas(f->cdsItRatEfet, "C2");
  ASSERT_EQ(c2.size(), 3u);
  EXPECT_GT(c2[0].nr.toDouble(), 0);
  EXPECT_EQ(c2[0].qt.toDouble(), 4);
  EXPECT_TRUE(c2[1].qt.isNullOrEmpty());
  EXPECT_GT(c2[2].nr.toDouble(), 0);
  EXPECT_NE(c2[2].nr.toDouble(), c2[0].nr.toDouble());
  EXPECT_EQ(c2[2].qt.toDouble(), 6);
  EXPECT_EQ(QtCliente("C2"), 10);
}

// The billing page's cancel: No keeps the apportionment changes with the
// client rows; Yes discards both.
TEST_F(Rateio, CancelReloadsTheLinesOnlyWhenTheUserDiscards) {
  OpenBilling();
  ui.onModal([&](ui::TCustomForm& form) {
    TypeQt(Modal(form), 1, "7");
    ui.press(ui::VK_DOWN);
    ui.close(form);
  });
  ASSERT_TRUE(OpenItems(1));
  ASSERT_EQ(QtCliente("C1"), 10);
  int recargas = calls.count("GetItemRatEfet");

  ui.answer(ui::mrNo);
  ASSERT_TRUE(ui.click(*f->sbtCancelar));
  EXPECT_EQ(calls.count("GetItemRatEfet"), recargas);
  EXPECT_EQ(f->cdsItRatEfet.ChangeCount(), 1);
  EXPECT_EQ(Linhas(f->cdsItRatEfet, "C1")[0].qt.toDouble(), 7);

  ui.answer(ui::mrYes);
  ASSERT_TRUE(ui.click(*f->sbtCancelar));
  EXPECT_TRUE(ui.errors().empty()) << ui.lastError();
  EXPECT_EQ(calls.count("GetItemRatEfet"), recargas + 1);
  EXPECT_EQ(f->cdsItRatEfet.ChangeCount(), 0);
  EXPECT_EQ(Linhas(f->cdsItRatEfet, "C1")[0].qt.toDouble(), 2);
  EXPECT_EQ(QtCliente("C1"), 6);
}

}  // namespace
