#pragma once
// The month at a glance: per service, the planned, served and billed
// headcounts of each day, and the days that fail a check. One read of
// rdmHistorico's GetMesEfetivos per month.

#include <optional>
#include <string>
#include <vector>

#include "contracts/net_connection.h"
#include "platform/rtl/datetime.h"

namespace additions {

struct DayFigures {
  rtl::TDateTime day = 0;
  std::optional<double> planned, served, billed;
  std::optional<double> plannedClients, clientsSum;  // the planning page's clients; the sum of the clients'
  int clientRows = 0;      // clients with a headcount stored for the day
  bool hasClients = false;  // the service bills clients at all
  std::optional<double> turnstiles;  // sum of the turnstile measurements
  int withdrawals = 0;
};

struct ServiceMonth {
  std::string service, name;
  std::vector<DayFigures> days;  // in date order
};

enum class CheckKind { WithdrawnWithoutHeadcount, ClientsSum, TurnstileFar, OpenPastLimit };

struct DayCheck {
  rtl::TDateTime day = 0;
  std::string service, name;
  CheckKind kind;
  std::string text;
};

struct MonthView {
  std::string branch;
  int year = 0, month = 0;
  std::vector<ServiceMonth> services;
  std::vector<DayCheck> checks;  // by day, then service
  rtl::TDateTime limit = 0;      // days before it are past the closed-day limit
};

// A turnstile total is far from the served one when they differ by more than
// this share of the served total, and by more than kTurnstileSlack meals.
inline constexpr double kTurnstileShare = 0.10;
inline constexpr double kTurnstileSlack = 5;

// Builds the view from GetMesEfetivos' payload ([0] menus, [1] parameters).
MonthView BuildMonth(const std::string& branch, int year, int month, const rtl::Variant& payload);
// Reads and builds; throws rtl::Exception with the server's message when refused.
MonthView ReadMonth(contracts::TNetConnection& historico, const std::string& branch, int year, int month,
                    const std::string& group);

}  // namespace additions
