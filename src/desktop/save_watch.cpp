#include "desktop/save_watch.h"

#include <memory>

#include "contracts/result.h"
#include "contracts/transport.h"

namespace desktop {

namespace {

class WatchingTransport : public contracts::Transport {
public:
  WatchingTransport(std::unique_ptr<contracts::Transport> inner, std::function<void(const std::string&)> saved)
      : inner_(std::move(inner)), saved_(std::move(saved)) {}
  rtl::Variant Call(const std::string& server, const std::string& method, rtl::VariantArray& args,
                    const std::string& token) override {
    rtl::Variant r = inner_->Call(server, method, args, token);
    if (saved_ && IsAcceptedWrite(method, r)) saved_(method);
    return r;
  }

private:
  std::unique_ptr<contracts::Transport> inner_;
  std::function<void(const std::string&)> saved_;
};

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

bool IsAcceptedWrite(const std::string& method, const rtl::Variant& r) {
  if (!startsWith(method, "Set") && !startsWith(method, "Upd") && method != "PostCard") return false;
  if (contracts::IsResultArray(r)) return contracts::ResultSucceeded(r);
  // UpdEfetClie answers "OK", the new menu day, or a text that refuses.
  if (r.isArray() && r.size() > 0 && r[0].type() == rtl::VarType::String) return r[0].toString() == "OK";
  return true;
}

void WatchSaves(std::function<void(const std::string& method)> saved) {
  contracts::TransportFactory inner = contracts::CurrentTransportFactory();
  if (!inner) return;
  contracts::RegisterTransportFactory([inner, saved](const std::string& host, int port) {
    return std::unique_ptr<contracts::Transport>(std::make_unique<WatchingTransport>(inner(host, port), saved));
  });
}

}  // namespace desktop
