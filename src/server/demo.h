#pragma once
// Fills a database with rows: the demo company for `efetivos-server --demo`, and
// the exact rows a test wants. Every call writes at once; callers that want one
// transaction open it themselves.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/db/connection.h"
#include "platform/rtl/datetime.h"

namespace server {

using Qty = std::optional<double>;  // an empty quantity is NULL

class DemoBuilder {
public:
  explicit DemoBuilder(db::Connection& c);

  DemoBuilder& GeneralParams(const std::string& consMinEfe, const std::string& bloqEfet);
  DemoBuilder& Group(const std::string& code, const std::string& name);
  DemoBuilder& Branch(const std::string& code, const std::string& name, rtl::TDateTime processingDate,
                      bool rescinded = false);
  DemoBuilder& PlanParams(const std::string& branch, const std::string& closedDay, const std::string& allowNoWithdrawal,
                          double daysBefore, const std::string& allowAfterProc);
  DemoBuilder& BranchParams(const std::string& branch, const std::string& useEfetPla, const std::string& copyEfetPla);
  // type "N" restaurant service, "F" billed service, "P" standardisation.
  DemoBuilder& Service(const std::string& branch, const std::string& code, const std::string& name,
                       const std::string& type = "N", const std::string& group = "");

  struct Counts {
    Qty clients, employees, donations;
    Qty estClients, estEmployees, estDonations;
  };
  // Returns the menu number (NRCARDAPIO).
  std::string Menu(const std::string& branch, const std::string& service, rtl::TDateTime day, const Counts& counts = {});
  DemoBuilder& DishType(const std::string& code, const std::string& name);
  DemoBuilder& Dish(const std::string& branch, const std::string& code, const std::string& name, const std::string& type);
  // Adds the dish type to the menu when it is not there yet.
  DemoBuilder& MenuDish(const std::string& branch, const std::string& menu, const std::string& dish, int seq,
                        Qty diners = {}, Qty kilos = {});
  DemoBuilder& MenuType(const std::string& branch, const std::string& menu, const std::string& type);

  DemoBuilder& Client(const std::string& code, const std::string& corporateName, const std::string& tradeName,
                      const std::string& personType = "J", const std::string& registration = "");
  // A billed service (a SERVICO of type "F") serving a planned service.
  DemoBuilder& Billed(const std::string& branch, const std::string& planned, const std::string& code,
                      const std::string& name, bool variableValue = false);
  DemoBuilder& BilledClient(const std::string& branch, const std::string& billed, const std::string& client);
  DemoBuilder& ClientCount(const std::string& branch, const std::string& billed, const std::string& client,
                           rtl::TDateTime day, Qty billedCount, Qty cashSale = {}, Qty value = {});
  DemoBuilder& Settlement(const std::string& branch, const std::string& number, const std::string& client,
                          rtl::TDateTime first, rtl::TDateTime last);
  // Returns NRITEMRATEIOEFET.
  int64_t Item(const std::string& branch, const std::string& billed, const std::string& code, const std::string& name);
  // Returns NRITRATEFETCLIE.
  int64_t Line(const std::string& branch, const std::string& billed, const std::string& client, rtl::TDateTime day,
               int64_t item, Qty count);
  DemoBuilder& Turnstile(const std::string& branch, const std::string& code, const std::string& name,
                         const std::string& service);
  DemoBuilder& Reading(const std::string& branch, const std::string& turnstile, const std::string& service,
                       rtl::TDateTime day, double start, double end);
  DemoBuilder& Shift(const std::string& branch, const std::string& code, const std::string& name);
  DemoBuilder& ShiftCount(const std::string& branch, const std::string& billed, const std::string& client,
                          rtl::TDateTime day, const std::string& shift, Qty count);
  DemoBuilder& Withdrawal(const std::string& branch, const std::string& menu, const std::string& product,
                          const std::string& description, double quantity);
  // An operator with a ready hash (tests hash once), for the given branches or all.
  DemoBuilder& OperatorHash(const std::string& code, const std::string& name, const std::string& hash,
                            const std::vector<std::string>& branches, bool allBranches = false);

  // The demo company: three branches, 90 days of menus around `today`.
  void BuildDemoCompany(rtl::TDateTime today);

  db::Connection& connection() { return c_; }

private:
  db::Connection& c_;
  int64_t nextMenu_ = 0, nextItem_ = 0, nextWithdrawal_ = 0;
};

}  // namespace server
