#pragma once
// Turnstile readings imported from the file a turnstile controller exports:
// parsing, a preview that judges every line against what the branch has
// stored, and the sending of the accepted lines through SetEfetCat, one call
// per day and service, as if the clerk had typed them.
//
// The file: UTF-8 or Latin-1; fields separated by ';' or ','; a header line
// naming CDFILIAL, CDSERVFILI, CDCATRACA, DTEFETCAT, QTEFETCATINI and
// QTEFETCATFIM in any order (other columns are ignored); dates as dd/mm/yyyy;
// counters as whole numbers.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "contracts/net_connection.h"
#include "platform/rtl/datetime.h"

namespace additions {

enum class Verdict {
  Ready,             // new reading
  Unchanged,         // already stored with these values: nothing to send
  Changed,           // already stored with other values: sent only when ticked
  UnknownTurnstile,  // turnstile not registered for the branch, or for that service
  UnknownService,    // service not registered for the branch
  EndBelowStart,
  ClosedDay,
  Malformed,         // the line itself is wrong (see text)
  Refused,           // the branch could not be read (permission, unknown branch)
};

struct ImportLine {
  int lineNo = 0;  // in the file, the header being line 1
  std::string branch, service, turnstile;
  rtl::TDateTime day = 0;
  double start = 0, end = 0;
  std::optional<double> storedStart, storedEnd;
  Verdict verdict = Verdict::Malformed;
  std::string text;  // what the preview shows beside the verdict
  bool send = false;  // Ready lines; Changed lines once ticked
};

struct ImportPreview {
  std::string fileError;  // the file as a whole cannot be read (no header, missing column)
  std::vector<ImportLine> lines;
  int count(Verdict v) const;
  // Lines that would go now.
  int toSend() const;
};

// Parsing only: every data line comes back Ready or Malformed.
ImportPreview ParseTurnstileFile(std::string_view bytes);

// What the branch has stored, as rdmHistorico's GetLeiturasCatraca gives it.
struct BranchReadings;

// Parses the file and judges each line: one read of rdmHistorico per branch
// named in the file, over the period of its lines.
ImportPreview PreviewTurnstileFile(contracts::TNetConnection& historico, std::string_view bytes);
// Judges parsed lines against one branch's payload (the four packets of GetLeiturasCatraca).
void JudgeLines(ImportPreview& p, const std::string& branch, const rtl::Variant& payload);

struct ImportOutcome {
  int sentLines = 0, calls = 0;
  std::vector<std::string> refusals;  // one per day and service refused, with the server's message
  std::string summary() const;
};

// Sends the lines marked send, grouped by branch, day and service, each group
// through GetEfetCatraca and SetEfetCat of rdmMediEfetivos. A group whose
// stored readings changed since the preview is not sent.
ImportOutcome SendTurnstileLines(contracts::TNetConnection& medi, ImportPreview& p);

std::string VerdictText(Verdict v);

}  // namespace additions
