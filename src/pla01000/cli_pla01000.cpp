// Unit state and the factories of PLA01000.

#include "pla01000/cli_pla01000.h"

namespace pla01000 {

TfrmMediEfetivos* frmMediEfetivos = nullptr;
bool bCriado = false;
bool bTabServico = false;
bool bAtuPrato = false;

void InitializeUnit() { bCriado = false; }

void CriaMedEfetivos() {
  ui::Screen().SetCursor(ui::TCursor::HourGlass);
  try {
    if (!bCriado || !frmMediEfetivos) {
      frmMediEfetivos = ui::CreateForm<TfrmMediEfetivos>(nullptr);
      frmMediEfetivos->ClearOnDestroy(frmMediEfetivos);
      bCriado = true;
    }
    frmMediEfetivos->SetWindowState(ui::TWindowState::Normal);
    frmMediEfetivos->Show();
  } catch (...) {
    // A screen that fails to come up must not leave the hourglass behind.
    ui::Screen().SetCursor(ui::TCursor::Default);
    throw;
  }
  ui::Screen().SetCursor(ui::TCursor::Default);
}

void IniProc() { CriaMedEfetivos(); }

}  // namespace pla01000
