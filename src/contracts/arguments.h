#pragma once
// The argument slots of the remote methods: one definition shared by the
// screens that fill a call and the server that reads it. Slots are positions
// from 0, in the order the screens send them; a screen builds its array with
// ArgsOf<Method>({{Method::kSlot, value}, ...}) and the server reads
// ArgStr(a, Method::kSlot). How many slots are required, which ones travel
// back by reference and what shape the reply has are facts of the server's
// method table (server/module.cpp), beside the method's name.

#include <cstddef>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/rtl/variant.h"

namespace contracts {

// Puts each value in its slot. The array ends at the last slot given, so a
// call sends exactly the slots it names; a slot named twice or one skipped
// before the last is a programming error, raised before anything is sent.
template <class Method>
rtl::VariantArray ArgsOf(std::initializer_list<std::pair<typename Method::Slot, rtl::Variant>> values) {
  rtl::VariantArray a(values.size());
  std::vector<bool> given(values.size(), false);
  for (const auto& [slot, value] : values) {
    if (static_cast<size_t>(slot) >= a.size() || given[slot])
      throw std::logic_error("argument slot " + std::to_string(static_cast<size_t>(slot)) + " given twice or skipped");
    given[slot] = true;
    a[slot] = value;
  }
  return a;
}

namespace args {

// ---- Pla01000.rdmMediEfetivos

struct GetParamPlaneja {
  enum Slot : size_t { kFilial };
};
struct GetCardaDia {
  enum Slot : size_t { kFilial, kData, kGrupo };
};
struct GetDtCardapio {
  enum Slot : size_t { kFilial, kDataProc };
};
struct GetComensais {
  enum Slot : size_t { kFilial, kData, kServico };
};
// kServico and kOperador are sent but not used: the rows carry their menu, and
// the operator is the session's.
struct PostCard {
  enum Slot : size_t { kFilial, kServico, kData, kDelta, kOperador, kGrupo };
};
// kClientes and kRateio are `var`: the server's keys come back in them.
struct UpdEfetClie {
  enum Slot : size_t { kClientes, kFilial, kServico, kData, kPaginaFaturamento, kCardapio, kRateio };
};
struct GetServiFat {
  enum Slot : size_t { kFilial, kServico, kData, kZero };
};
struct GetServCli {
  enum Slot : size_t { kFilial, kServFatu, kData, kServico };
};
struct GetItemRatEfet : GetServCli {};  // the same slots
struct VerificaEfetFat {
  enum Slot : size_t { kFilial, kServico, kData };
};
struct GetEfetCatraca {
  enum Slot : size_t { kFilial, kData, kServico };
};
struct SetEfetCat {
  enum Slot : size_t { kDelta };
};
struct GetTurnoCliente {
  enum Slot : size_t { kFilial, kServFatu, kCliente, kData };
};
struct SetTurnoCliente {
  enum Slot : size_t { kDelta };
};
struct UpdPratoCard {
  enum Slot : size_t { kDelta, kFilial, kData };
};
// kTexto is what the server answers when the menu has no withdrawal.
struct Vd_Retirada {
  enum Slot : size_t { kFilial, kCardapio, kTexto };
};
struct GetRetirada {
  enum Slot : size_t { kFilial, kCardapio, kVazio, kZero };
};
struct GetVerifRetirada {
  enum Slot : size_t { kFilial, kData, kGrupo };
};
struct GetVerifApurac {
  enum Slot : size_t { kFilial, kServico, kInicio, kFim };
};
// The same period as GetVerifApurac. Element [2] of the answer is the stamp
// SetConsolEfet's kLeitura sends back.
struct GetEfetPlanCli : GetVerifApurac {};
// kLeitura is optional: a caller without it is not checked for changes since its read.
struct SetConsolEfet {
  enum Slot : size_t { kFilial, kServico, kConsolidado, kLeitura };
};

// ---- Pla01000.rdmHistorico

// kLinha is the row as [name, value, ...].
struct GetHistorico {
  enum Slot : size_t { kFilial, kDataSet, kCampo, kLinha };
};
struct GetMesEfetivos {
  enum Slot : size_t { kFilial, kData, kGrupo };
};
struct GetLeiturasCatraca {
  enum Slot : size_t { kFilial, kInicio, kFim };
};

}  // namespace args
}  // namespace contracts
