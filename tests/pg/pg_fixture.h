// A database of its own for each test, on the throwaway server that
// pg-server.sh started for the suite (its state file named by
// ZELPROG_PG_STATE). zelprog finds the server through PGHOST and PGUSER, as
// a station would. No server: the test skips, saying why, except under
// CI=true, where that fails.
#pragma once

#include "cli_fixture.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace zelprog::test {

using Rows = std::vector<std::vector<std::string>>;

// The rows of `sql` as text; a failed query fails the test and gives none.
inline Rows Query(PGconn *connection, const std::string &sql) {
    Rows rows;
    PGresult *result = PQexec(connection, sql.c_str());
    const ExecStatusType status = PQresultStatus(result);
    EXPECT_TRUE(status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK)
        << sql << ": " << PQresultErrorMessage(result);
    for (int r = 0; status == PGRES_TUPLES_OK && r < PQntuples(result); ++r) {
        rows.emplace_back();
        for (int c = 0; c < PQnfields(result); ++c)
            rows.back().push_back(PQgetvalue(result, r, c));
    }
    PQclear(result);
    return rows;
}

class PgTest : public ZelprogCli {
protected:
    void SetUp() override {
        ZelprogCli::SetUp();
        const char *state = std::getenv("ZELPROG_PG_STATE");
        const std::string folder = state ? zeltest::ReadFile(state) : "";
        socket_ = folder.substr(0, folder.find('\n'));
        if (socket_.empty()) {
            const char *ci = std::getenv("CI");
            if (ci != nullptr && std::string(ci) == "true")
                FAIL() << "no PostgreSQL server for the tests, and under CI they must run";
            GTEST_SKIP() << "no PostgreSQL server for the tests (pg-server.sh start found no postgresql)";
        }
        SetEnv("PGHOST", socket_);
        SetEnv("PGUSER", "postgres");
        database_ = "zt" + std::to_string(std::random_device{}());
        admin_ = Connect("postgres");
        ASSERT_NE(admin_, nullptr);
        Query(admin_, "CREATE DATABASE " + database_);
        db_ = Connect(database_);
        ASSERT_NE(db_, nullptr);
        uri_ = "postgresql:///" + database_;
    }
    void TearDown() override {
        if (db_ != nullptr)
            PQfinish(db_);
        if (admin_ != nullptr) {
            Query(admin_, "DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)");
            PQfinish(admin_);
        }
        ZelprogCli::TearDown();
    }
    // A connection to `name` on the suite's server, or null (the test fails).
    PGconn *Connect(const std::string &name) const {
        const std::string info = "host=" + socket_ + " user=postgres dbname=" + name;
        PGconn *connection = PQconnectdb(info.c_str());
        EXPECT_EQ(PQstatus(connection), CONNECTION_OK) << PQerrorMessage(connection);
        if (PQstatus(connection) == CONNECTION_OK)
            return connection;
        PQfinish(connection);
        return nullptr;
    }
    Rows Query(const std::string &sql) const { return zelprog::test::Query(db_, sql); }
    Rows Query(PGconn *connection, const std::string &sql) const { return zelprog::test::Query(connection, sql); }

    std::string socket_, database_, uri_;
    PGconn *admin_ = nullptr;
    PGconn *db_ = nullptr;
};

} // namespace zelprog::test
