#include "contracts/net_connection.h"

#include "contracts/result.h"

namespace contracts {

TNetConnection::~TNetConnection() = default;

void TNetConnection::SetConnected(bool on) {
  if (on)
    Connect();
  else
    Disconnect();
}

void TNetConnection::Connect() {
  if (transport_) return;
  if (BeforeConnect) BeforeConnect(*this);
  if (host_.empty()) throw TransportError("O endereço do servidor de aplicação não foi informado.");
  if (port_ <= 0 || port_ > 65535)
    throw TransportError("A porta do servidor de aplicação é inválida: " + std::to_string(port_) + ".");
  transport_ = CreateTransport(host_, port_);
  lastError_.clear();
  if (AfterConnect) AfterConnect(*this);
}

void TNetConnection::Disconnect() {
  if (!transport_) return;
  transport_.reset();
  if (AfterDisconnect) AfterDisconnect(*this);
}

rtl::Variant TNetConnection::fail(const std::string& message) {
  lastError_ = message;
  if (throwException_) throw TransportError(message);
  return ResultFail(message);
}

rtl::Variant TNetConnection::AppServer(const std::string& method, rtl::VariantArray& args) {
  try {
    if (!transport_) Connect();
    rtl::Variant r = transport_->Call(serverName_, method, args, CurrentSession().token);
    lastError_.clear();
    return r;
  } catch (const rtl::EAbort&) {
    throw;  // a handler's silent abort is not a transport failure
  } catch (const rtl::Exception& e) {
    return fail(e.Message());
  } catch (const std::exception& e) {
    return fail(e.what());
  }
}

rtl::Variant TNetConnection::Call(const std::string& method, std::initializer_list<rtl::Variant> args) {
  rtl::VariantArray a(args);
  return AppServer(method, a);
}

}  // namespace contracts
