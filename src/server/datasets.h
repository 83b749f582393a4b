#pragma once
// The field lists of the data sets the screens load from this server, and the
// packing of query results into data packets.

#include <string>
#include <vector>

#include "platform/data/dataset.h"
#include "platform/data/packet.h"
#include "platform/db/connection.h"

namespace server::sets {

using Defs = std::vector<data::TFieldDef>;

const Defs& ParamGeral();
const Defs& ParamPlaneja();
const Defs& ParamFilal();
const Defs& CardaDia();
const Defs& DtCardapio();
const Defs& CompCardAux();
const Defs& PratoCard();
const Defs& ComensaisCard();
const Defs& ComensaisEfet();
const Defs& ExistsCliente();
const Defs& VdFaturados();
const Defs& ServFatu();
const Defs& ServCli();
const Defs& VdCliFat();
const Defs& ItemRat();
const Defs& ItRatEfet();
const Defs& EfetCat();
const Defs& TurnoCliente();
const Defs& Retirada();
const Defs& VerifRetirada();
const Defs& VerifApurac();
const Defs& EfetPlan();
const Defs& EfetClie();
const Defs& ConsolAux();

// One packet row per result row; each field takes the column of the same name
// (without regard to case) and is Null where the result has no such column.
rtl::DataPacket FromResult(const Defs& defs, const db::Result& r);
// The same rows as variants, to be completed before packing with FromRows.
std::vector<std::vector<rtl::Variant>> RowsOf(const Defs& defs, const db::Result& r);
// Position of a field in defs; throws for an unknown name (a programming error).
size_t Col(const Defs& defs, const std::string& name);
// Rows already laid out in field order.
rtl::DataPacket FromRows(const Defs& defs, const std::vector<std::vector<rtl::Variant>>& rows);

}  // namespace server::sets
