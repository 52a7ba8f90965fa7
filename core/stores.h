// The stores a generator reaches its tables through: SQLite, PostgreSQL and in-memory.
#pragma once

namespace tgen {

// Registers every store with the process's session, once; safe to call from any thread and
// again. The generator calls it when it is made; a program that opens tables before it makes
// a generator (a tool listing tables, say) calls it first.
void UseStandardStores();

}  // namespace tgen
