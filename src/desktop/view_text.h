#pragma once
// The toolkit's texts and alignments as Qt wants them.

#include <QString>

#include <string>

#include "platform/ui/controls.h"
#include "platform/ui/keys.h"

namespace desktop {

inline QString q(const std::string& s) { return QString::fromStdString(s); }
// A caption without its '&' hotkey marks, for widgets that do not underline.
inline QString caption(const std::string& s) { return q(ui::StripHotkey(s)); }

inline Qt::Alignment align(ui::TAlignment a) {
  switch (a) {
    case ui::TAlignment::RightJustify: return Qt::AlignRight | Qt::AlignVCenter;
    case ui::TAlignment::Center: return Qt::AlignCenter;
    default: return Qt::AlignLeft | Qt::AlignVCenter;
  }
}

}  // namespace desktop
