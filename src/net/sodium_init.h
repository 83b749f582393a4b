#pragma once
#include <sodium.h>

#include "platform/rtl/exceptions.h"

namespace net {

// libsodium must be initialised once before its random numbers are used.
inline void EnsureSodium() {
  static const bool ok = sodium_init() >= 0;
  if (!ok) throw rtl::Exception("Não foi possível iniciar a biblioteca criptográfica.");
}

}  // namespace net
