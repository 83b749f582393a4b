// What the screen is made of once opened: the catalog, the window, the page
// and menu entries, and the fields the server's packets must fill.

#include "screen_fixture.h"

using namespace pla01000test;

namespace {

using ScreenModel = ScreenTest;

TEST_F(ScreenModel, CatalogHoldsTheSeventyMessagesInOrderWithTheirExactTexts) {
  ASSERT_TRUE(Open());
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Excl", "Confirma exclusão?"},
      {"FILI_DEVE", "Filial deve ser informada."},
      {"FILI_NAO_CAD", "Filial não cadastrada."},
      {"FILI_RESC", "Filial com contrato rescindido."},
      {"QT_COME_DEVE", "Quantidade de efetivos deve ser maior ou igual a zero."},
      {"QT_FUN_DEVE", "Quantidade de funcionários deve ser maior ou igual a zero."},
      {"QT_DOAC_DEVE", "Quantidade de doações deve ser maior ou igual a zero."},
      {"CliInv", "Quantidade de clientes deve ser maior ou igual a zero."},
      {"DATA_PROC", "Data do cardápio deve ser menor ou igual a data de  processamento."},
      {"SERVICO", "Serviço"},
      {"Serv_Inf", "Código deve ser informado"},
      {"Serv_Cad", "Serviço não cadastrado"},
      {"CompCard", "Cardápio possui pratos, não pode ser excluído"},
      {"SomaClie", "Somatória dos comensais dos clientes deve ser igual a quantidade de clientes do serviço %s."},
      {"SomaFunc", "Somatória dos funcionários dos clientes deve ser igual a quantidade de funcionários do serviço %s."},
      {"SomaDoac", "Somatória das doações dos clientes deve ser igual a quantidade de doações do serviço %s."},
      {"Retirada", "Cardápio possui retirada, não pode ser excluído."},
      {"Serv_Pad", "Efetivos não podem ser informados para um serviço de padronização de cardápios."},
      {"Serv_Ja_Cad", "Serviço já cadastrado para o dia."},
      {"CardapioPadr", "Cardápio Padronizado"},
      {"Data_inf", "Data deve ser informada."},
      {"NAO_HA_SERV", "Não há serviço de restaurante cadastrado."},
      {"QTCOMEFETPRA_INV", "Quantidade de comensais do prato deve ser maior ou igual a zero. "},
      {"QTPRODUZPRAT_INV", "Quantidade vendida deve ser maior ou igual a zero."},
      {"get_cdsCardaDia", "Carregando cardápios..."},
      {"get_cdsDtCardapio", "Carregando cardápios (data)..."},
      {"get_cdsPratoCard", "Carregando pratos do cardápio..."},
      {"get_cdsCompCardAux", "Carregando composição do cardápio (auxiliar)..."},
      {"get_cdsEfetClie", "Carregando efetivos do cliente..."},
      {"get_cdsFeriFili", "Carregando feriados da filial..."},
      {"get_cdsComensais", "Carregando comensais..."},
      {"get_cdsCardaDiaAux", "Carregando cardápios (auxiliar)..."},
      {"get_cdsQtProduzida", "Carregando items de retirada..."},
      {"get_cdsCliente", "Carregando clientes..."},
      {"get_cdsRetirada", "Carregando retiradas..."},
      {"get_cdsCompCard", "Carrengando composição do cardápio..."},
      {"upd_cdsEfetClie", "Atualizando efetivos do cliente..."},
      {"upd_cdsCardaDia", "Atualizando efetivos do cardápio..."},
      {"pro_UpdCalcComePrato", "Atualizando cálculo de comensais no prato..."},
      {"pro_EditCompCard", "Modificando composição dos cardápios..."},
      {"upd_cdsPratoCard", "Atualizando pratos do cardápio..."},
      {"pro_PrxCardapio", "Carregando código seqüencial do cardápio..."},
      {"upd_cdsclientetrab", "Atualizando comensais dos clientes..."},
      {"SomaClieD", "Somatória dos comensais dos clientes difere da quantidade de clientes do serviço %s."},
      {"SomaFuncD", "Somatória dos funcionários dos clientes difere da quantidade de funcionários do serviço %s."},
      {"SomaDoacD", "Somatória das doações dos clientes difere da quantidade de doações do serviço %s."},
      {"Vd_Retirada", "Verificando retiradas do estoque..."},
      {"semreti", "Não há produto baixado em estoque no dia."},
      {"TOTALEFETIVOS", "Cardápio possui retirada, total de efetivos deve ser maior do que 0."},
      {"FATURAMENTO", "Efetivos faturados, exclusão não permitida."},
      {"CACHECHEIO", "Deseja gravar as alterações antes de sair?"},
      {"capt_pah", "Efetivos (Industrial)"},
      {"Efet_Apur", "Efetivos do cliente já apurados na data selecionada."},
      {"Inf_serv", "Buscando informações no servidor..."},
      {"Soma", "Somatória dos comensais dos clientes %s deve ser igual a quantidade de clientes do serviço %s."},
      {"SomaD", "Somatória dos comensais dos clientes %s difere da quantidade de clientes do serviço %s."},
      {"Insc", "Insc.: "},
      {"QT_VENDA_ZERO", "Comensais venda à vista deve ser maior ou igual a zero."},
      {"QtCat_Ini_Inf", "Contador inicial da catraca deve ser informado."},
      {"QtCat_Fim_Inf", "Contador final da catraca deve ser informado."},
      {"QtCat_Ini_Fim", "Contador inicial da catraca deve ser menor ou igual ao contador final."},
      {"QtCat_Ini_Zero", "Contador inicial da catraca deve ser maior ou igual a zero."},
      {"QtCat_Fim_Zero", "Contador final da catraca deve ser maior ou igual a zero."},
      {"QT_MAIOR_CLIENTE",
       "Quantidade de comensais do turno não pode ser maior que a quantidade de comensais do  cliente"},
      {"QT_IGUAL_CLIENTE", "Soma total dos comensais dos turnos deve ser igual ao faturado pelo cliente"},
      {"QT_TURNO_MAIOR_ZERO", "Quantidade de Comensais do Turno deve ser maior ou igual a zero"},
      {"GRUP_SERV_N_CAD", "Grupo de serviços não cadastrado."},
      {"QTEFET<0", "Quantidade de efetivos deve ser maior que zero."},
      {"EXISTE_RATEIO_EFET", "Existe rateio de efetivos para o cliente. Deseja utilizar o valor do rateio?"},
      {"EfetAutoJaApur", "Operação bloqueada. Efetivos dos clientes relacionados já apurados na data selecionada."},
  };
  ASSERT_EQ(expected.size(), 70u);
  ASSERT_EQ(f->msgPadrao.Count(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(f->msgPadrao.KeyAt(i), expected[i].first) << "line " << i;
    EXPECT_EQ(f->msgPadrao.TextAt(i), expected[i].second) << "line " << i;
  }
  // Keys match without regard to case.
  EXPECT_EQ(f->msgPadrao.Msg("grup_serv_n_cad"), "Grupo de serviços não cadastrado.");
}

TEST_F(ScreenModel, WindowPagesAndMenuEntriesOfTheScreen) {
  ASSERT_TRUE(Open());
  EXPECT_EQ(f->Caption(), "Efetivos");
  EXPECT_EQ(f->lblCodTela->Caption(), "PLA01000");
  EXPECT_EQ(f->FormStyle, ui::TFormStyle::MDIChild);
  EXPECT_EQ(f->tshPadrao->Caption(), "Efetivos do Planejamento");
  EXPECT_EQ(f->tshClientes->Caption(), "Efetivos de Faturamento");
  // The operation menu starts with the two page entries and a line; the
  // consolidation entry comes after Verificar, with F6.
  EXPECT_EQ(f->mnuOperacao->Items(0), f->mnuEfetivos);
  EXPECT_EQ(f->mnuOperacao->Items(1), f->mnuClientes);
  EXPECT_TRUE(f->mnuOperacao->Items(2)->IsLine());
  EXPECT_EQ(f->mnuManutencao->IndexOf(f->mnuConsolidar), 5);
  EXPECT_EQ(f->mnuManutencao->Items(4), f->mnuVerificar);
  EXPECT_EQ(f->mnuConsolidar->ShortCut(), ui::ShortCut(ui::VK_F6, ui::ssNone));
  EXPECT_FALSE(f->sbtConsolidar->Enabled());
  EXPECT_FALSE(f->mnuConsolidar->Enabled());
  EXPECT_FALSE(f->lblInscCli->Visible());
  EXPECT_FALSE(f->dbtInscCli->Visible());
  // The registration number has no size of its own: the default string size.
  EXPECT_EQ(f->cdsServCli.FieldByName("NRINSJURCLIE").Size(), 20);
}

TEST_F(ScreenModel, ActiveModule24ShowsTheIndustrialCaption) {
  host::Context().moduloAtiv = 24;
  ASSERT_TRUE(Open());
  EXPECT_EQ(f->Caption(), "Efetivos (Industrial)");
}

// Every data set the menu day fills takes the server's packets with the
// screen's own field list (a missing or mistyped field would refuse the load).
TEST_F(ScreenModel, MenuDayPacketsFillTheDeclaredFields) {
  ASSERT_TRUE(Open());
  LoadDay(D);
  ASSERT_TRUE(f->cdsCardaDia.Active());
  ASSERT_TRUE(f->cdsCardaDia.Locate("CDSERVFILI", rtl::Variant("00010")));
  EXPECT_EQ(f->cdsCardaDia.FieldByName("NMSERVICO").AsString(), "Almoço");
  EXPECT_EQ(f->cdsCardaDia.FieldByName("QTCLIEFETCAR").AsFloat(), 10);
  EXPECT_EQ(f->cdsCardaDia.FieldByName("QTCOMEFETCAR").AsFloat(), 13);
  EXPECT_EQ(f->dbeClieEsti->Text(), "12");
  EXPECT_TRUE(f->cdsCompCardAux.Active());
  EXPECT_TRUE(f->cdsPratoCard.Active());
  EXPECT_TRUE(f->cdsParamFilal.Active());
  EXPECT_EQ(f->cdsParamPlaneja.FieldByName("IDPEREFEPOSDTPR").AsString(), "N");
  // Dish types follow the current service's menu.
  EXPECT_EQ(f->cdsCompCardAux.Filter(), "CDFILIAL = '0001' AND NRCARDAPIO = '" + cardD + "'");
  EXPECT_EQ(f->cdsCompCardAux.RecordCount(), 1);
  EXPECT_EQ(f->cdsCompCardAux.FieldByName("NMTIPOPRAT").AsString(), "Principal");
}

}  // namespace
