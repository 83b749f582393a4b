// The openers and unit variables the host resolves by name. Only screens that
// are part of the build are exported; a screen joins with one line below (its
// EFET_HAVE_ macro comes from the build when its target exists).

#include "package/units.h"

#ifdef EFET_HAVE_PLA01000
#include "pla01000/cli_pla01000.h"
#endif
#ifdef EFET_HAVE_PLA01001
#include "pla01001/cli_pla01001.h"
#endif
#ifdef EFET_HAVE_PLA01002
#include "pla01002/cli_pla01002.h"
#endif
#ifdef EFET_HAVE_PLA01010
#include "pla01010/cli_pla01010.h"
#endif

// An opener under its plain C name, calling the screen unit's own function.
#define EFET_EXPORT_OPENER(name, fn) \
  extern "C++" __attribute__((visibility("default"))) void name##Export() __asm__(#name); \
  void name##Export() { fn(); }

namespace package {

void InitializeCliPla01000() {
#ifdef EFET_HAVE_PLA01000
  pla01000::InitializeUnit();
#endif
}

#ifdef EFET_HAVE_PLA01001
void FinalizeCliPla01001() { pla01001::FinalizeUnit(); }
#endif

}  // namespace package

#ifdef EFET_HAVE_PLA01000
EFET_EXPORT_OPENER(CriaMedEfetivos, pla01000::CriaMedEfetivos)
EFET_EXPORT_OPENER(IniProc, pla01000::IniProc)
#endif
#ifdef EFET_HAVE_PLA01001
EFET_EXPORT_OPENER(CriaListEfet, pla01001::CriaListEfet)
#endif
#ifdef EFET_HAVE_PLA01002
// One string in (the client code), the sum of the client's lines out.
extern "C" __attribute__((visibility("default"))) double CriaItRatEfet(const char* cliente) {
  return pla01002::CriaItRatEfet(cliente ? cliente : "");
}
#endif
#ifdef EFET_HAVE_PLA01010
EFET_EXPORT_OPENER(CriaConsEfetClie, pla01010::CriaConsEfetClie)
#endif
// Unit variables (the global instances) are exported under their plain names
// by the link (--defsym in CMakeLists.txt), so the host sees the screen's own
// variable, not a copy.
