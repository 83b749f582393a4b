#pragma once
// PLA01002, apportionment items: one client's apportionment lines of the open
// daily headcount screen, where only the item headcounts can be changed. The
// factory returns the sum of the client's headcounts when the screen closes.

#include <string>

#include "platform/data/dataset.h"
#include "platform/host/frm_padrao_grid.h"

namespace pla01002 {

class TfrmItRatEfet;

// The last instance CriaItRatEfet created (null once it was released).
extern TfrmItRatEfet* frmItRatEfet;

// The lines the screen edits: PLA01000 registers its cdsItRatEfet here while
// it exists (this unit cannot depend on PLA01000, which depends on it).
extern data::TClientDataSet* cdsLinhasRateio;

// Shows a fresh screen modally for one client (hourglass until the modal loop
// ends) and returns the sum of that client's QTEFETIVOS, empty as 0. The
// lines are unfiltered again afterwards, also when the last post is refused.
double CriaItRatEfet(const std::string& cliente);

class TfrmItRatEfet : public host::TfrmPadraoGrid {
public:
  explicit TfrmItRatEfet(ui::TComponent* owner = nullptr);
  ~TfrmItRatEfet() override;

  // The client whose lines are shown; the factory sets it before showing.
  std::string sCliente;

  void FormActivate(ui::TObject& sender) override;
  void dtsPadraoStateChange(data::TDataSource& sender) override;
  void Habilita();
};

}  // namespace pla01002
