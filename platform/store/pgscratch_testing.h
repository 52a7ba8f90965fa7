// Test helper: a database of its own on the PostgreSQL server that scripts/with-postgres.sh
// started ($TGEN_PG_URI), so that tests run side by side; dropped again at the end.
#pragma once

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace tgen::testing {

class ScratchPgDatabase {
 public:
  // Nothing is made without a server: Uri() is empty then, and the test should skip.
  explicit ScratchPgDatabase(const std::string& name) {
    const char* server = std::getenv("TGEN_PG_URI");
    if (server == nullptr) return;
    static int made = 0;
    name_ = name + "_" + std::to_string(::getpid()) + "_" + std::to_string(++made);
    if (!Run(server, "CREATE DATABASE " + name_)) {
      ADD_FAILURE() << "cannot make database " << name_;
      name_.clear();
      return;
    }
    // The server's connection string with this database in it; its parameters stay.
    const std::string uri = server;
    const std::size_t query = uri.find('?');
    const std::string path = uri.substr(0, query);
    uri_ = path.substr(0, path.rfind('/') + 1) + name_ +
           (query == std::string::npos ? "" : uri.substr(query));
  }
  ScratchPgDatabase(const ScratchPgDatabase&) = delete;
  ScratchPgDatabase& operator=(const ScratchPgDatabase&) = delete;
  ~ScratchPgDatabase() {
    if (!name_.empty()) Run(std::getenv("TGEN_PG_URI"), "DROP DATABASE " + name_ + " WITH (FORCE)");
  }

  [[nodiscard]] const std::string& Uri() const { return uri_; }

  // Runs one statement on `uri`; whether it succeeded.
  static bool Run(const std::string& uri, const std::string& sql) {
    PGconn* c = PQconnectdb(uri.c_str());
    PGresult* r = PQexec(c, sql.c_str());
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    PQclear(r);
    PQfinish(c);
    return ok;
  }

 private:
  std::string name_;
  std::string uri_;
};

}  // namespace tgen::testing
