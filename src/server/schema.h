#pragma once
// The headcount database: tables named after the data sets' fields, created or
// upgraded when the server starts.

#include "platform/db/connection.h"

namespace server {

constexpr int kSchemaVersion = 3;

// Creates the tables on an empty database, or upgrades an older version, in one
// transaction. Returns the version found before (0 for an empty database).
// Throws when the database holds a newer version than this program knows.
int EnsureSchema(db::Connection& c);

// " FOR UPDATE" on PostgreSQL; nothing on SQLite, whose write lock is taken when
// the transaction begins.
const char* ForUpdate(const db::Connection& c);

}  // namespace server
