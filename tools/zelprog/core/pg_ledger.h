// The ledger in a PostgreSQL database (libpq), shared by any number of
// stations. Built on Linux only.
//
// Tables, made on first use: zelprog_schema (the schema's version),
// zelprog_sequences (a sequence's next number), zelprog_returned (numbers
// given back, handed out again first) and zelprog_units (one row a reserved
// number: its state, then its unit record). A number's row goes
// reserved -> sending -> written | lost, or reserved -> given back, each
// step a committed transaction; the reservation and the row are one.
//
// Credentials come from libpq's own places (~/.pgpass, PGPASSWORD,
// PGSERVICE, ...). A password in the URI is taken but never shown: messages
// name the database by its host and name only.
#pragma once

#include "core/ledger.h"

namespace zelprog {

std::unique_ptr<Ledger> MakePgLedger(const LedgerOptions &options, JobControl control);

// The schema version this zelprog writes; a newer one is refused.
inline constexpr int kPgSchemaVersion = 1;

} // namespace zelprog
