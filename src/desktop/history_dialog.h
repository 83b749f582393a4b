#pragma once
// "Histórico do valor": every change of a headcount cell's field of its row,
// newest first, offered by a right click on the cell or Ctrl+H.

#include <QDialog>

#include "desktop/binding.h"

namespace desktop {

// Offers the history as a cell action (the cell menu, Ctrl+H) of every grid
// the binding shows.
void InstallValueHistory(Binding& binding);

// Opens the history of the grid's current cell (non-modal to the caller's
// loop: the dialog is window-modal and deletes itself on close).
QDialog* ShowValueHistory(ui::TDBGrid& grid, QWidget* parent);

}  // namespace desktop
