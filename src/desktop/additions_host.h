#pragma once
// What the frame's additions share: their connections to the application
// server, made from the operator context as the screens make theirs.

#include <string>

#include "contracts/net_connection.h"

namespace desktop {

// One connection per remote module, pointed at the context's server each time.
contracts::TNetConnection& AdditionsConnection(const std::string& serverName);

}  // namespace desktop
