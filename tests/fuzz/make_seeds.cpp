// Writes one well-formed /call body per remote method into a folder: the
// arguments the screens send, with real packets and deltas read from a demo
// database built for 20/06/2024 (the day the wire target builds its own for).
// Usage: fuzz_make_seeds FOLDER

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "contracts/result.h"
#include "net/wire.h"
#include "platform/data/dataset.h"
#include "platform/data/packet.h"
#include "platform/db/connection.h"
#include "platform/rtl/datetime.h"
#include "server/demo.h"
#include "server/module.h"

namespace fs = std::filesystem;
using rtl::Variant;
using rtl::VariantArray;

namespace {

fs::path out;
server::MediEfetivos* module = nullptr;

void Write(const std::string& name, const std::string& method, const VariantArray& args) {
  net::Envelope e;
  e.texts["server"] = "Pla01000.rdmMediEfetivos";
  e.texts["method"] = method;
  e.texts["token"] = "0123456789abcdef";
  e.args = args;
  std::ofstream(out / name, std::ios::binary) << net::EncodeEnvelope(e);
}

Variant Payload(const std::string& method, VariantArray args) {
  contracts::CallContext ctx;
  ctx.operatorCode = "DEM";
  Variant r = module->Call(method, args, ctx);
  if (!contracts::ResultSucceeded(r)) {
    std::fprintf(stderr, "%s: %s\n", method.c_str(), r.debugString().c_str());
    std::exit(1);
  }
  return r[1];
}

// The delta of one change to the first row: a number raised by one (5 when empty).
Variant Edited(const Variant& packet, const std::string& field, const std::function<void(data::TClientDataSet&)>& pick = {}) {
  data::TClientDataSet ds;
  ds.SetData(packet.asPacket());
  if (pick) pick(ds);
  if (ds.IsEmpty()) return ds.Delta();
  ds.Edit();
  auto& f = ds.FieldByName(field);
  f.SetAsFloat(f.Value().isNullOrEmpty() ? 5 : f.Value().toDouble() + 1);
  ds.Post();
  return ds.Delta();
}

std::string First(const Variant& packet, const std::string& field) {
  data::TClientDataSet ds;
  ds.SetData(packet.asPacket());
  return ds.IsEmpty() ? std::string() : ds.FieldByName(field).AsString();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  out = argv[1];
  fs::create_directories(out);
  fs::path file = fs::temp_directory_path() / ("efet-seeds-" + std::to_string(::getpid()) + ".db");
  std::string cs = "sqlite:" + file.string();
  {
    server::MediEfetivos m(cs);
    module = &m;
    {
      auto c = db::Open(cs);
      db::Transaction t(*c);
      server::DemoBuilder(*c).BuildDemoCompany(rtl::EncodeDate(2024, 6, 20));
      t.commit();
    }
    const rtl::TDateTime D = rtl::EncodeDate(2024, 6, 20), P = D - 3, L = D - 40;
    const Variant d = Variant::FromDate(D), p = Variant::FromDate(P);
    const std::string f = "0002";

    Write("GetParamGeral", "GetParamGeral", {});
    Write("GetParamPlaneja", "GetParamPlaneja", {f});
    Write("GetDtCardapio", "GetDtCardapio", {f, d});
    Write("GetCardaDia", "GetCardaDia", {f, p, ""});
    Write("GetComensais", "GetComensais", {f, p, "00010"});
    Write("GetServiFat", "GetServiFat", {f, "00010", p, 0});
    Write("GetServCli", "GetServCli", {f, "10010", p, "00010"});
    Write("GetItemRatEfet", "GetItemRatEfet", {f, "10010", p, "00010"});
    Write("VerificaEfetFat", "VerificaEfetFat", {f, "00010", p});
    Write("GetEfetCatraca", "GetEfetCatraca", {f, p, "00010"});
    Write("GetVerifRetirada", "GetVerifRetirada", {f, p, ""});
    Write("GetVerifApurac", "GetVerifApurac", {f, "00010", Variant::FromDate(L), p});
    Write("GetEfetPlanCli", "GetEfetPlanCli", {f, "00010", Variant::FromDate(L), p});

    Variant day = Payload("GetCardaDia", {f, p, ""});
    auto onService = [](data::TClientDataSet& ds) { ds.Locate("CDSERVFILI", Variant("00010")); };
    Write("PostCard", "PostCard", {f, "00010", p, Edited(day[0], "QTCLIEFETCAR", onService), "DEM", ""});
    Write("UpdPratoCard", "UpdPratoCard", {Edited(day[2], "QTCOMEFETPRA"), f, p});
    std::string menu = First(day[0], "NRCARDAPIO");
    Write("Vd_Retirada", "Vd_Retirada", {f, menu, "Cardápio sem retirada."});
    Write("GetRetirada", "GetRetirada", {f, menu, "", 0});

    Variant cli = Payload("GetServCli", {f, "10010", p, "00010"});
    std::string client = First(cli[0], "CDCLIENTE");
    Write("UpdEfetClie", "UpdEfetClie",
          {Edited(cli[0], "QTCOMEFETCLI"), f, "00010", p, false, menu, Edited(cli[3], "QTEFETIVOS")});
    Write("GetTurnoCliente", "GetTurnoCliente", {f, "10010", client, p});
    Variant turns = Payload("GetTurnoCliente", {f, "10010", client, p});
    Write("SetTurnoCliente", "SetTurnoCliente", {Edited(turns, "QTCOMTURNCLI")});
    Variant cat = Payload("GetEfetCatraca", {f, p, "00010"});
    Write("SetEfetCat", "SetEfetCat", {Edited(cat, "QTEFETCATFIM")});

    data::PacketWriter w({{"DTCARDAPIO", data::TFieldType::DateTime},
                          {"CDCLIENTE", data::TFieldType::String, 20},
                          {"QTEFETFAT", data::TFieldType::Float}});
    w.AddRow({Variant::FromDate(P), client, 7.0});
    w.AddRow({Variant::FromDate(P - 1), client, 3.0});
    Write("SetConsolEfet", "SetConsolEfet", {f, "00010", Variant(w.Finish())});
  }
  std::error_code ec;
  for (const char* s : {"", "-wal", "-shm"}) fs::remove(file.string() + s, ec);
  return 0;
}
