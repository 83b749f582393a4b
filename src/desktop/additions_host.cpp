#include "desktop/additions_host.h"

#include <map>
#include <memory>

#include "platform/host/context.h"

namespace desktop {

contracts::TNetConnection& AdditionsConnection(const std::string& serverName) {
  static std::map<std::string, std::unique_ptr<contracts::TNetConnection>> connections;
  auto& c = connections[serverName];
  if (!c) c = std::make_unique<contracts::TNetConnection>(serverName);
  const auto& ctx = host::Context();
  if (c->Host() != ctx.webURL || c->Port() != ctx.webPort) {
    c->Disconnect();
    c->SetHost(ctx.webURL);
    c->SetPort(ctx.webPort);
  }
  return *c;
}

}  // namespace desktop
