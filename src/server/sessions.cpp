// Sessions and failed logins in the database, so that every server on it
// accepts the same sessions, a restart logs nobody out, and a guesser meets the
// same count whichever server answers.
#include <algorithm>

#include "server/admin.h"

namespace server {

void EnsureSessionTables(db::Connection& c) {
  // Times are milliseconds since the Unix epoch; the token itself is never stored.
  c.execScript(R"SQL(
CREATE TABLE IF NOT EXISTS SESSAO (
  DSTOKENHASH VARCHAR(64) NOT NULL PRIMARY KEY,
  CDOPERADOR VARCHAR(3) NOT NULL,
  DTHRCRIACAO BIGINT NOT NULL,
  DTHRULTUSO BIGINT NOT NULL,
  DTHREXPIRA BIGINT NOT NULL
);
CREATE INDEX IF NOT EXISTS IXSESSAOOPER ON SESSAO (CDOPERADOR, DTHRCRIACAO);
CREATE INDEX IF NOT EXISTS IXSESSAOEXPIRA ON SESSAO (DTHREXPIRA);
CREATE TABLE IF NOT EXISTS FALHALOGIN (
  DSCHAVE VARCHAR(100) NOT NULL PRIMARY KEY,
  QTFALHAS INTEGER NOT NULL,
  DTHRULTFALHA BIGINT NOT NULL
);
)SQL");
}

void EndOperatorSessions(db::Connection& c, const std::string& code) {
  c.exec("DELETE FROM SESSAO WHERE CDOPERADOR = :P_OP", {{"P_OP", code}});
}

bool DeactivateOperator(db::Connection& c, const std::string& code) {
  db::Transaction t(c);
  int64_t n = c.exec("UPDATE OPERADOR SET IDATIVO = 'N' WHERE CDOPERADOR = :P_OP", {{"P_OP", code}});
  EndOperatorSessions(c, code);
  t.commit();
  return n > 0;
}

// A connection that failed is dropped, so the next request opens a new one
// (the database may have been restarted meanwhile).
template <class Fn>
auto OperatorStore::withConnection(Fn fn) {
  auto lease = pool_.Acquire();
  try {
    return fn(*lease);
  } catch (...) {
    lease.discard();
    throw;
  }
}

std::optional<std::string> OperatorStore::PasswordHash(const std::string& operatorCode) {
  return withConnection([&](db::Connection& c) -> std::optional<std::string> {
    auto r = c.query("SELECT DSSENHAHASH FROM OPERADOR WHERE CDOPERADOR = :P_OP AND IDATIVO = 'S'",
                     {{"P_OP", operatorCode}});
    if (r.empty()) return std::nullopt;
    return r.rows[0][0].toString();
  });
}

void OperatorStore::CreateSession(const std::string& tokenHash, const std::string& operatorCode, int64_t nowMs,
                                  int64_t expiresMs, size_t maxPerOperator) {
  withConnection([&](db::Connection& c) {
    db::Transaction t(c);
    c.exec("DELETE FROM SESSAO WHERE DTHREXPIRA <= :P_AGORA", {{"P_AGORA", nowMs}});
    c.exec("INSERT INTO SESSAO (DSTOKENHASH, CDOPERADOR, DTHRCRIACAO, DTHRULTUSO, DTHREXPIRA)"
           " VALUES (:P_HASH, :P_OP, :P_AGORA, :P_AGORA, :P_EXPIRA)",
           {{"P_HASH", tokenHash}, {"P_OP", operatorCode}, {"P_AGORA", nowMs}, {"P_EXPIRA", expiresMs}});
    // The oldest sessions beyond the bound go; the one just made stays.
    auto r = c.query(
        "SELECT DSTOKENHASH FROM SESSAO WHERE CDOPERADOR = :P_OP AND DSTOKENHASH <> :P_HASH"
        " ORDER BY DTHRCRIACAO DESC, DTHRULTUSO DESC",
        {{"P_OP", operatorCode}, {"P_HASH", tokenHash}});
    for (size_t i = maxPerOperator > 0 ? maxPerOperator - 1 : 0; i < r.size(); ++i)
      c.exec("DELETE FROM SESSAO WHERE DSTOKENHASH = :P_HASH", {{"P_HASH", r.rows[i][0]}});
    t.commit();
  });
}

std::optional<std::string> OperatorStore::TouchSession(const std::string& tokenHash, int64_t nowMs,
                                                       int64_t timeoutMs) {
  return withConnection([&](db::Connection& c) -> std::optional<std::string> {
    // Only an active operator's session counts: a deactivation ends it even on
    // a server that has not heard of it.
    auto r = c.query(
        "SELECT S.CDOPERADOR, S.DTHREXPIRA FROM SESSAO S JOIN OPERADOR O ON O.CDOPERADOR = S.CDOPERADOR"
        " WHERE S.DSTOKENHASH = :P_HASH AND O.IDATIVO = 'S'",
        {{"P_HASH", tokenHash}});
    if (r.empty()) return std::nullopt;
    int64_t expires = r.rows[0][1].toInt();
    if (expires <= nowMs) {
      c.exec("DELETE FROM SESSAO WHERE DSTOKENHASH = :P_HASH", {{"P_HASH", tokenHash}});
      return std::nullopt;
    }
    // Sliding expiry, written only when it moved by a hundredth of the timeout
    // (at least a second): a read then costs no write on the database.
    int64_t next = nowMs + timeoutMs;
    if (next - expires > std::max<int64_t>(1000, timeoutMs / 100))
      c.exec("UPDATE SESSAO SET DTHRULTUSO = :P_AGORA, DTHREXPIRA = :P_EXPIRA WHERE DSTOKENHASH = :P_HASH",
             {{"P_AGORA", nowMs}, {"P_EXPIRA", next}, {"P_HASH", tokenHash}});
    return r.rows[0][0].toString();
  });
}

std::optional<std::string> OperatorStore::EndSession(const std::string& tokenHash) {
  return withConnection([&](db::Connection& c) -> std::optional<std::string> {
    auto r = c.query("DELETE FROM SESSAO WHERE DSTOKENHASH = :P_HASH RETURNING CDOPERADOR", {{"P_HASH", tokenHash}});
    if (r.empty()) return std::nullopt;
    return r.rows[0][0].toString();
  });
}

contracts::SessionStore::Failures OperatorStore::LoginFailures(const std::string& key) {
  return withConnection([&](db::Connection& c) {
    auto r = c.query("SELECT QTFALHAS, DTHRULTFALHA FROM FALHALOGIN WHERE DSCHAVE = :P_CHAVE",
                     {{"P_CHAVE", key.substr(0, 100)}});
    Failures f;
    if (!r.empty()) {
      f.count = static_cast<int>(r.rows[0][0].toInt());
      f.lastMs = r.rows[0][1].toInt();
    }
    return f;
  });
}

void OperatorStore::RecordLoginFailure(const std::string& key, int64_t nowMs) {
  withConnection([&](db::Connection& c) {
    // One statement, so two servers counting at once both count.
    c.exec("INSERT INTO FALHALOGIN (DSCHAVE, QTFALHAS, DTHRULTFALHA) VALUES (:P_CHAVE, 1, :P_AGORA)"
           " ON CONFLICT (DSCHAVE) DO UPDATE SET QTFALHAS = FALHALOGIN.QTFALHAS + 1, DTHRULTFALHA = :P_AGORA",
           {{"P_CHAVE", key.substr(0, 100)}, {"P_AGORA", nowMs}});
  });
}

void OperatorStore::ClearLoginFailures(const std::string& key) {
  withConnection([&](db::Connection& c) {
    c.exec("DELETE FROM FALHALOGIN WHERE DSCHAVE = :P_CHAVE", {{"P_CHAVE", key.substr(0, 100)}});
  });
}

bool OperatorStore::Healthy() {
  return withConnection([&](db::Connection& c) { return !c.query("SELECT 1").empty(); });
}

}  // namespace server
