#pragma once

#include "support/ProcessTestSupport.h"

#include <libpq-fe.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace ostrel::chaintest {

// A PostgreSQL 15 server of the test's own: a cluster made with initdb in a temporary folder,
// listening only on a Unix socket in it. As root the server runs as the Debian package's `postgres`
// user (PostgreSQL refuses root). Stopped and removed with the object.
class PgServer
{
public:
    static constexpr const char* BinDir = "/usr/lib/postgresql/15/bin";

    // Empty when the server can be had; otherwise why not, for GTEST_SKIP.
    static std::string unavailable()
    {
        if (!std::filesystem::exists(std::string(BinDir) + "/initdb"))
            return "PostgreSQL 15 is not installed (scripts/deps.sh test installs it)";
        if (::geteuid() == 0 && proctest::runCommand("id -u postgres").exitCode != 0)
            return "no postgres user to run the server as";
        return {};
    }

    PgServer()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-pg-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            return;
        m_dir = pattern;
        if (::geteuid() == 0) {
            m_as = "runuser -u postgres -- ";
            proctest::runCommand("chown postgres " + m_dir);
        }
        const auto init = proctest::runCommand(m_as + BinDir + "/initdb -D " + m_dir +
                                               "/data -A trust -U postgres -E UTF8 --locale=C -N");
        m_ready = init.exitCode == 0;
        m_failure = init.output;
        if (m_ready)
            m_ready = start();
    }
    ~PgServer()
    {
        stop();
        std::error_code ignored;
        if (!m_dir.empty())
            std::filesystem::remove_all(m_dir, ignored);
    }
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    bool ready() const { return m_ready; }
    const std::string& failure() const { return m_failure; }
    std::string conninfo() const { return "host=" + m_dir + " port=5432 user=postgres dbname=postgres"; }

    // Waits (pg_ctl -w, at most 60 s) until the server takes connections.
    bool start()
    {
        const auto run = proctest::runCommand(m_as + BinDir + "/pg_ctl -D " + m_dir + "/data -l " + m_dir +
                                              "/server.log -w -t 60 -o \"-k " + m_dir +
                                              " -c listen_addresses='' -p 5432 -F\" start");
        m_failure = run.output;
        m_running = run.exitCode == 0;
        return m_running;
    }
    // "fast" rolls back what is under way; "immediate" is a crash of the server.
    void stop(const std::string& mode = "fast")
    {
        if (!m_running)
            return;
        proctest::runCommand(m_as + BinDir + "/pg_ctl -D " + m_dir + "/data -m " + mode + " -w -t 60 stop");
        m_running = false;
    }

    // Runs one statement; its rows as texts ("" for NULL), or nothing when it failed.
    std::vector<std::vector<std::string>> query(const std::string& sql, std::string* error = nullptr) const
    {
        std::vector<std::vector<std::string>> rows;
        PGconn* conn = PQconnectdb(conninfo().c_str());
        PGresult* r = PQexec(conn, sql.c_str());
        if (PQresultStatus(r) == PGRES_TUPLES_OK) {
            for (int i = 0; i < PQntuples(r); ++i) {
                rows.emplace_back();
                for (int j = 0; j < PQnfields(r); ++j)
                    rows.back().emplace_back(PQgetvalue(r, i, j));
            }
        } else if (error) {
            *error = PQerrorMessage(conn);
        }
        PQclear(r);
        PQfinish(conn);
        return rows;
    }
    // A query of one number; -1 when it failed.
    long long number(const std::string& sql) const
    {
        const auto rows = query(sql);
        return rows.empty() || rows[0].empty() || rows[0][0].empty() ? -1 : std::stoll(rows[0][0]);
    }

private:
    std::string m_dir;
    std::string m_as;
    std::string m_failure;
    bool m_ready = false;
    bool m_running = false;
};

} // namespace ostrel::chaintest
