#pragma once
// The remote methods, one function each. Each reads its arguments by the
// slots of contracts/arguments.h (the method table has already checked that
// the required ones are there), returns the whole result value (a result
// array, or the method's own shape) and throws Refusal for a refused request.

#include "contracts/arguments.h"
#include "server/common.h"

namespace server::methods {

namespace args = contracts::args;

Variant GetParamGeral(Call& k, VariantArray& a);
Variant GetParamPlaneja(Call& k, VariantArray& a);
Variant GetCardaDia(Call& k, VariantArray& a);
Variant GetDtCardapio(Call& k, VariantArray& a);
Variant PostCard(Call& k, VariantArray& a);
Variant GetComensais(Call& k, VariantArray& a);
Variant UpdPratoCard(Call& k, VariantArray& a);
Variant GetServiFat(Call& k, VariantArray& a);
Variant GetServCli(Call& k, VariantArray& a);
Variant GetEfetCatraca(Call& k, VariantArray& a);
Variant SetEfetCat(Call& k, VariantArray& a);
Variant GetTurnoCliente(Call& k, VariantArray& a);
Variant SetTurnoCliente(Call& k, VariantArray& a);
Variant UpdEfetClie(Call& k, VariantArray& a);
Variant GetItemRatEfet(Call& k, VariantArray& a);
Variant VerificaEfetFat(Call& k, VariantArray& a);
Variant Vd_Retirada(Call& k, VariantArray& a);
Variant GetRetirada(Call& k, VariantArray& a);
Variant GetVerifRetirada(Call& k, VariantArray& a);
Variant GetVerifApurac(Call& k, VariantArray& a);
Variant GetEfetPlanCli(Call& k, VariantArray& a);
Variant SetConsolEfet(Call& k, VariantArray& a);

// Shared by reads and writes: the packets of a menu day.
rtl::DataPacket CardaDiaPacket(Call& k, const std::string& branch, TDateTime day, const std::string& group);
rtl::DataPacket CompCardPacket(Call& k, const std::string& branch, TDateTime day, const std::string& group);
rtl::DataPacket PratoCardPacket(Call& k, const std::string& branch, TDateTime day, const std::string& group);

// Withdrawals (rows with a quantity above 0) of a menu.
int64_t MenuWithdrawals(Call& k, const std::string& branch, const std::string& menu);

}  // namespace server::methods
