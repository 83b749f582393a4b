// SetConsolEfet: the consolidation of a period's client headcounts (PLA01010),
// in one transaction, refused whole when the period changed since its read.

#include <map>
#include <set>

#include "contracts/result.h"
#include "server/methods.h"
#include "server/schema.h"

namespace server::methods {

using contracts::ResultOk;

Variant SetConsolEfet(Call& k, VariantArray& a) {
  using A = args::SetConsolEfet;
  // The stamp of GetEfetPlanCli's read; a caller that predates it is not
  // checked for changes since its read.
  std::string branch = ArgStr(a, A::kFilial), service = ArgStr(a, A::kServico), stamp = ArgStr(a, A::kLeitura);
  CheckWritable(k, branch);
  if (!a[A::kConsolidado].isPacket()) Refuse("Efetivos consolidados não vieram num pacote de dados.");
  std::set<std::string> members;
  for (const auto& row : k.c.query("SELECT SC.CDCLIENTE FROM SERVFATU F JOIN SERVFATUCLIE SC ON SC.CDFILIAL = F.CDFILIAL"
                                   " AND SC.CDSERVICFATURAM = F.CDSERVICFATURAM"
                                   " WHERE F.CDFILIAL = :P_CDFILIAL AND F.CDSERVFILI = :P_SERV",
                                   {{"P_CDFILIAL", branch}, {"P_SERV", service}})
                            .rows)
    members.insert(row[0].toString());
  // One row per menu day of the service and client: never more.
  const size_t maxRows = members.size() * RowsAllowed(k,
                                                      "SELECT COUNT(*) FROM CARDAPIO WHERE CDFILIAL = :P_CDFILIAL"
                                                      " AND CDSERVFILI = :P_SERV",
                                                      {{"P_CDFILIAL", branch}, {"P_SERV", service}});
  size_t count = 0;
  // day -> client -> (quantity, name)
  std::map<double, std::map<std::string, double>> days;
  try {
    data::PacketReader r(a[A::kConsolidado].asPacket());
    int iDay = r.FieldIndex("DTCARDAPIO"), iCli = r.FieldIndex("CDCLIENTE"), iQt = r.FieldIndex("QTEFETFAT");
    if (iDay < 0 || iCli < 0 || iQt < 0) Refuse("Pacote de efetivos consolidados sem DTCARDAPIO, CDCLIENTE ou QTEFETFAT.");
    while (r.Next()) {
      if (r.Status() == data::TUpdateStatus::Deleted) continue;
      if (++count > maxRows) Refuse("Pacote de efetivos consolidados com mais linhas do que o período pode ter.");
      const auto& v = r.Values();
      if (IsBlank(v[iDay]) || IsBlank(v[iCli])) Refuse("Linha consolidada sem data ou sem cliente.");
      TDateTime day = DayOf(v[iDay]);
      Variant q = NullableNum(v[iQt]);
      double qt = q.isNull() ? 0 : q.toDouble();
      if (qt < 0) Refuse("Efetivos consolidados não podem ser negativos.");
      if (!days[day].emplace(v[iCli].toString(), qt).second)
        Refuse("Cliente " + v[iCli].toString() + " repetido no dia " + DateText(day) + ".");
    }
  } catch (const rtl::EDatabaseError& e) {
    Refuse(std::string("Pacote de efetivos consolidados inválido: ") + e.what());
  } catch (const rtl::EConvertError& e) {  // a client code of a type that has no text
    Refuse(std::string("Pacote de efetivos consolidados inválido: ") + e.what());
  }
  if (days.empty()) Refuse("Nenhum efetivo consolidado recebido.");
  db::Transaction t(k.c);
  if (!stamp.empty()) CheckConsolStamp(k, branch, service, stamp);
  bool changed = false;
  std::string differ;
  for (const auto& [day, rows] : days) {
    auto card = k.c.query(std::string("SELECT QTCLIEFETCAR FROM CARDAPIO WHERE CDFILIAL = :P_CDFILIAL"
                                      " AND CDSERVFILI = :P_SERV AND DTCARDAPIO = :P_DIA") +
                              ForUpdate(k.c),
                          {{"P_CDFILIAL", branch}, {"P_SERV", service}, {"P_DIA", DateVar(day)}});
    if (card.empty()) Refuse("Não há cardápio do serviço " + service + " no dia " + DateText(day) + ".");
    if (ServiceSettled(k, branch, service, day)) Refuse("Período contempla dias já apurados (" + DateText(day) + ").");
    double sum = 0;
    for (const auto& [client, qt] : rows) {
      if (!members.count(client)) Refuse("Cliente " + client + " não é atendido pelo serviço " + service + ".");
      sum = Finite(sum + qt, "A soma dos efetivos consolidados do dia " + DateText(day));
    }
    if (sum != Num(card.rows[0][0])) differ += "\n\r" + DateText(day) + "  -  (" + rtl::Variant(sum - Num(card.rows[0][0])).toString() + ")";
  }
  if (!differ.empty()) Refuse("Efetivos do Faturamento difere dos efetivos do planejamento no(s) dia(s): " + differ);
  for (const auto& [day, rows] : days) {
    db::Params dp{{"P_CDFILIAL", branch}, {"P_SERV", service}, {"P_DIA", DateVar(day)}};
    std::map<std::string, double> stored;
    for (const auto& row : k.c.query(std::string("SELECT CDCLIENTE, QTEFETFAT FROM EFETCONSOL WHERE CDFILIAL = :P_CDFILIAL"
                                                 " AND CDSERVFILI = :P_SERV AND DTCARDAPIO = :P_DIA") +
                                         ForUpdate(k.c),
                                     dp)
                              .rows)
      stored[row[0].toString()] = Num(row[1]);
    for (const auto& [client, qt] : rows) {
      auto it = stored.find(client);
      if (it != stored.end() && it->second == qt) continue;
      db::Params p = dp;
      p.set("P_CLI", client).set("P_QT", Variant(qt)).set("P_OP", k.op);
      if (it == stored.end())
        k.c.exec("INSERT INTO EFETCONSOL (CDFILIAL, CDSERVFILI, DTCARDAPIO, CDCLIENTE, QTEFETFAT, CDOPERADOR)"
                 " VALUES (:P_CDFILIAL, :P_SERV, :P_DIA, :P_CLI, :P_QT, :P_OP)",
                 p);
      else
        k.c.exec("UPDATE EFETCONSOL SET QTEFETFAT = :P_QT, CDOPERADOR = :P_OP WHERE CDFILIAL = :P_CDFILIAL"
                 " AND CDSERVFILI = :P_SERV AND DTCARDAPIO = :P_DIA AND CDCLIENTE = :P_CLI",
                 p);
      Audit(k, branch, day, "EFETCONSOL", service + "/" + client, "QTEFETFAT",
            it == stored.end() ? Variant::Null() : Variant(it->second), Variant(qt));
      changed = true;
    }
    for (const auto& [client, qt] : stored) {
      if (rows.count(client)) continue;
      db::Params p = dp;
      p.set("P_CLI", client);
      k.c.exec("DELETE FROM EFETCONSOL WHERE CDFILIAL = :P_CDFILIAL AND CDSERVFILI = :P_SERV AND DTCARDAPIO = :P_DIA"
               " AND CDCLIENTE = :P_CLI",
               p);
      Audit(k, branch, day, "EFETCONSOL", service + "/" + client, "QTEFETFAT", Variant(qt), Variant::Null());
      changed = true;
    }
  }
  t.commit();
  return ResultOk(changed ? std::string() : std::string("Consolidação sem alterações."));
}

}  // namespace server::methods
