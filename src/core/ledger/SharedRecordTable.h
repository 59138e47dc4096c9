#pragma once

#include "core/ledger/Sqlite.h"

namespace fernhollow::sharedchunks {

// Lets the connection read the chunks as the rows of `shared_records`, a table of the columns
// identity, source, at, model, project, session, the five counts, price_class and device, which
// finds the chunks of the times a query bounds `at` to, and those of one device.
void registerRecordTable(sqlite::Database& db);

} // namespace fernhollow::sharedchunks
