#pragma once
// TfrmPadraoGrid: the standard grid form. A toolbar of flat buttons with a menu
// entry each (the entry is enabled exactly when its button is, whichever of
// the two is set), a page control whose first page holds the grid over
// dtsPadrao, the record navigator, the name label, the screen code label and
// the two catalogs. Screens derive from it, bind dtsPadrao to their data set
// and override the handlers below, calling these where they hand over.
//
// Toolbar from the state of dtsPadrao's data set (dtsPadraoStateChange):
//
//   state                 Incluir  Alterar Excluir Procurar Verificar Imprimir  Confirmar Cancelar
//   none / closed         off      off     off     off      off       off       off       off
//   browse, empty         on       off     off     off      off       off       off       off
//   browse, rows          on       on      on      on       on        on        off       off
//   edit / insert         off      off     off     off      off       off       on        on
//
// Ajuda and Fechar stay enabled. Screens adjust the result after calling it.
// The table is applied at each state change of dtsPadrao, as the platform's
// OnStateChange runs; a screen that fills or empties its data set without a
// state change (a filter, EmptyDataSet) calls dtsPadraoStateChange itself.
//
// Keys (the form has key preview; FormKeyDown):
//   Ctrl+Enter   while dtsPadrao's data set is in edit or insert: confirm (the key is used up)
//   Escape       in browse, outside a grid's editor: close the screen
//   F1 help, F2 insert, F3 search, F4 edit, F5 verify, F8 print (menu shortcuts)
//
// Closing frees the screen (OnClose action Free, released once the running
// user action has ended); ClearOnDestroy keeps unit globals from dangling.

#include <memory>
#include <string>

#include "platform/data/dataset.h"
#include "platform/host/base_form.h"
#include "platform/host/messages.h"
#include "platform/ui/comctrls.h"
#include "platform/ui/dbctrls.h"
#include "platform/ui/dbgrids.h"
#include "platform/ui/menus.h"
#include "platform/ui/stdctrls.h"

namespace host {

class TfrmPadraoGrid : public TStandardForm {
public:
  explicit TfrmPadraoGrid(ui::TComponent* owner = nullptr);
  ~TfrmPadraoGrid() override;

  // ---- Toolbar and its panel.
  ui::TPanel* panBotoes;
  ui::TButtonFlat* sbtIncluir;
  ui::TButtonFlat* sbtAlterar;
  ui::TButtonFlat* sbtExcluir;
  ui::TButtonFlat* sbtProcurar;
  ui::TButtonFlat* sbtVerificar;
  ui::TButtonFlat* sbtImprimir;
  ui::TButtonFlat* sbtCancelar;
  ui::TButtonFlat* sbtConfirmar;
  ui::TButtonFlat* sbtAjuda;
  ui::TButtonFlat* sbtFechar;
  ui::TLabel* lblCodTela;  // the screen code ("PLA01000")

  // ---- Menus. mnuOperacao: Procurar, Imprimir, line, Ajuda, Fechar.
  // mnuManutencao: Incluir, Alterar, Excluir, line, Verificar, line,
  // Confirmar, Cancelar (a screen's entry at position 5 comes after Verificar).
  ui::TMainMenu* mnuPadrao;
  ui::TMenuItem* mnuOperacao;
  ui::TMenuItem* mnuProcurar;
  ui::TMenuItem* mnuImprimir;
  ui::TMenuItem* mnuLinha1;
  ui::TMenuItem* mnuAjuda;
  ui::TMenuItem* mnuFechar;
  ui::TMenuItem* mnuManutencao;
  ui::TMenuItem* mnuIncluir;
  ui::TMenuItem* mnuAlterar;
  ui::TMenuItem* mnuExcluir;
  ui::TMenuItem* mnuLinha2;
  ui::TMenuItem* mnuVerificar;
  ui::TMenuItem* mnuLinha3;
  ui::TMenuItem* mnuConfirmar;
  ui::TMenuItem* mnuCancelar;

  // ---- Pages, grid, navigator and name label.
  ui::TPageControl* pgcPadrao;
  ui::TTabSheet* tshPadrao;
  ui::TDBGrid* dbgPadrao;
  ui::TPanel* panNavegador;
  ui::TDBNavigator* dbnPadrao;
  ui::TDBText* dbtNome;  // a field of dtsPadrao's data set, chosen by the screen
  data::TDataSource* dtsPadrao;

  // ---- Catalogs: the screen's own and the standard one (FillStandardMessages).
  TMessages msgPadrao{"msgPadrao"};
  TMessages msgMensagensPadroes{"msgMensagensPadroes"};

  // The data set of dtsPadrao, or null.
  data::TClientDataSet* DataSetPadrao() const { return dtsPadrao->DataSet(); }

  // ---- Inherited handlers.
  virtual void FormCreate(ui::TObject& sender);
  virtual void FormActivate(ui::TObject& sender);
  // Sets action to Free: the closed screen is released.
  virtual void FormClose(ui::TObject& sender, ui::TCloseAction& action);
  // Leaves canClose as it is: what happens to a row still in edit is each
  // screen's decision (PLA01002's factory posts it after the modal loop).
  virtual void FormCloseQuery(ui::TObject& sender, bool& canClose);
  virtual void FormKeyDown(ui::TObject& sender, ui::Word& key, ui::TShiftState shift);
  // The toolbar table above.
  virtual void dtsPadraoStateChange(data::TDataSource& sender);

  // Posts the data set when it is in edit or insert.
  virtual void sbtConfirmarClick(ui::TObject& sender);
  // In edit or insert: when something was typed, asks "Canc" (Yes/No) and on
  // Yes cancels; with nothing typed cancels at once.
  virtual void sbtCancelarClick(ui::TObject& sender);
  // Puts a browsing, non-empty data set in edit and focuses the grid.
  virtual void sbtAlterarClick(ui::TObject& sender);
  // Procura over the data set, offering the grid's selected field first.
  virtual void sbtProcurarClick(ui::TObject& sender);
  // Focuses the grid and inserts a row.
  virtual void sbtIncluirClick(ui::TObject& sender);
  // Asks "Excl" (Yes/No) and on Yes deletes the current row.
  virtual void sbtExcluirClick(ui::TObject& sender);
  // The standard form has no report or check of its own: screens that print
  // or verify override these.
  virtual void sbtImprimirClick(ui::TObject& sender);
  virtual void sbtVerificarClick(ui::TObject& sender);
  virtual void sbtFecharClick(ui::TObject& sender);
  // The form's help file and context through the host's help viewer.
  virtual void sbtAjudaClick(ui::TObject& sender);

  // The toolbar table, without the screen's own adjustments.
  void UpdateToolbar();

private:
  ui::TButtonFlat* button(const char* name, const char* caption, ui::TMenuItem* item);
  ui::TMenuItem* item(ui::TMenuItem* parent, const char* name, const char* caption, ui::TShortCut sc = 0);
  void pairMenu(ui::TButtonFlat* b, ui::TMenuItem* m);
  std::unique_ptr<data::TDataSource> dtsPadraoOwned_;
  bool syncing_ = false;
};

}  // namespace host
