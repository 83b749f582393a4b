#pragma once
// The unit bodies the package table runs, one per screen unit that has one.

namespace package {

// Cli_pla01000's initialization: clears the created flag. Without the screen
// in the build there is no flag to clear.
void InitializeCliPla01000();
// Cli_pla01001's finalization body: clears stListaServ.
void FinalizeCliPla01001();

}  // namespace package
