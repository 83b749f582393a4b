#pragma once
// The history of one value of a grid: every change of that field of that row,
// as the audit trail recorded it, read from rdmHistorico.

#include <string>
#include <vector>

#include "contracts/net_connection.h"
#include "platform/data/dataset.h"

namespace additions {

inline constexpr const char* kHistoricoServer = "Pla01000.rdmHistorico";

struct HistoryEntry {
  rtl::TDateTime when = 0;
  std::string operatorCode, operatorName;
  std::string before, after;  // as the grid shows the field; "(vazio)" for no value
  std::string method;         // "" for changes recorded before methods were
};

// The current row of a data set as [name, value, name, value, ...].
rtl::Variant RowPairs(const data::TClientDataSet& ds);

// The changes of field of the current row of ds, newest first. The branch is
// the row's CDFILIAL, or fallbackBranch for rows without one. Throws
// rtl::Exception with the server's message when the read is refused.
std::vector<HistoryEntry> ReadHistory(contracts::TNetConnection& historico, const data::TClientDataSet& ds,
                                      const std::string& field, const std::string& fallbackBranch);

// A value as the audit trail stored it, shown as the field shows its values.
std::string AsFieldShows(const data::TField& field, const std::string& stored);

// One line of the history dialog: "dd/mm/yyyy hh:nn:ss  OPA Ana  10 → 20  (PostCard)".
std::string HistoryLine(const HistoryEntry& e);

}  // namespace additions
