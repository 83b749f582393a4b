#include "dialogs.h"

#include "platform/ui/controls.h"

namespace host {

void MensErro(const std::string& text, bool raise) {
  if (raise) throw EMensErro(text);
  if (ui::IErrorReport* r = ui::Application().services().Errors) r->ShowError(text);
}

ui::TModalResult ShowMsg(const TMessages& catalog, std::string_view key, ui::TMsgDlgType type,
                         ui::TMsgDlgButtons buttons, int helpContext) {
  return ui::MessageDlg(catalog.Msg(key), type, buttons, helpContext);
}

void ActiveShowAvi(ui::TCustomForm*, int kind, const std::string& text) {
  if (ui::IBusyIndicator* b = ui::Application().services().Busy) b->Show(kind, text);
}

void DeactiveShowAvi() {
  if (ui::IBusyIndicator* b = ui::Application().services().Busy) b->Hide();
}

void FillStandardMessages(TMessages& m) {
  m.SetMessages({
      "Canc|Deseja cancelar as alterações?",
      "Excl|Confirma exclusão?",
      "Conf|Confirma as alterações?",
      "Gravar|Deseja gravar as alterações antes de sair?",
      "NaoHaReg|Não há registros.",
      "CampoObrig|Campo de preenchimento obrigatório.",
      "DataInv|Data inválida.",
      "Pesq|Pesquisar",
      "ProcNaoEnc|Registro não encontrado.",
  });
}

}  // namespace host
