#include "contracts/transport.h"

namespace contracts {

namespace {
std::mutex& registryMutex() {
  static std::mutex m;
  return m;
}
TransportFactory& factorySlot() {
  static TransportFactory f;
  return f;
}
SessionInfo& sessionSlot() {
  static SessionInfo s;
  return s;
}
}  // namespace

void RegisterTransportFactory(TransportFactory factory) {
  std::lock_guard lock(registryMutex());
  factorySlot() = std::move(factory);
}

TransportFactory CurrentTransportFactory() {
  std::lock_guard lock(registryMutex());
  return factorySlot();
}

bool HasTransportFactory() {
  std::lock_guard lock(registryMutex());
  return static_cast<bool>(factorySlot());
}

std::unique_ptr<Transport> CreateTransport(const std::string& host, int port) {
  TransportFactory f;
  {
    std::lock_guard lock(registryMutex());
    f = factorySlot();
  }
  if (!f) throw TransportError("Nenhum meio de comunicação com o servidor de aplicação foi registrado.");
  return f(host, port);
}

void SetSession(SessionInfo session) {
  std::lock_guard lock(registryMutex());
  sessionSlot() = std::move(session);
}

void ClearSession() {
  std::lock_guard lock(registryMutex());
  sessionSlot() = SessionInfo{};
}

SessionInfo CurrentSession() {
  std::lock_guard lock(registryMutex());
  return sessionSlot();
}

}  // namespace contracts
