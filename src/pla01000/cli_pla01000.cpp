// Unit state and the factories of PLA01000.

#include "pla01000/cli_pla01000.h"

namespace pla01000 {

TfrmMediEfetivos* frmMediEfetivos = nullptr;
bool bCriado = false;
bool bTabServico = false;
bool bAtuPrato = false;

void InitializeUnit() { bCriado = false; }

void CriaMedEfetivos() {
  ui::HourGlass ampulheta;
  if (!bCriado || !frmMediEfetivos) {
    frmMediEfetivos = ui::CreateForm<TfrmMediEfetivos>(nullptr);
    frmMediEfetivos->ClearOnDestroy(frmMediEfetivos);
    bCriado = true;
  }
  frmMediEfetivos->SetWindowState(ui::TWindowState::Normal);
  frmMediEfetivos->Show();
}

void IniProc() { CriaMedEfetivos(); }

}  // namespace pla01000
