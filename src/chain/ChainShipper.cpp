#include "chain/ChainShipper.h"

#include "chain/ChainStreams.h"
#include "chain/ChainTexts.h"
#include "core/DateTime.h"

#include <libpq-fe.h>

#include <algorithm>
#include <sys/stat.h>

namespace ostrel {

namespace {

struct Result
{
    PGresult* r = nullptr;
    explicit Result(PGresult* result) : r(result) {}
    ~Result() { PQclear(r); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    ExecStatusType status() const { return r ? PQresultStatus(r) : PGRES_FATAL_ERROR; }
    bool ok() const { return status() == PGRES_COMMAND_OK || status() == PGRES_TUPLES_OK; }
};

enum class Shipped
{
    Done,
    Failed,   // the connection or the statement failed: try again later
    Conflict, // a row there differs
};

std::optional<std::uint64_t> fileWholeRecords(const std::string& path)
{
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

} // namespace

struct ChainShipper::Connection
{
    PGconn* conn = nullptr;
    ~Connection() { PQfinish(conn); }

    std::string error() const
    {
        std::string text = conn ? PQerrorMessage(conn) : "out of memory";
        while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
            text.pop_back();
        return text;
    }

    bool exec(const std::string& sql)
    {
        const Result r(PQexec(conn, sql.c_str()));
        return r.ok();
    }

    // A query with the salon as $1 and one number or NULL back.
    std::optional<std::optional<std::uint64_t>> number(const std::string& sql, const std::string& salon)
    {
        const char* values[] = {salon.c_str()};
        const Result r(PQexecParams(conn, sql.c_str(), 1, nullptr, values, nullptr, nullptr, 0));
        if (r.status() != PGRES_TUPLES_OK)
            return std::nullopt;
        if (PQntuples(r.r) == 0 || PQgetisnull(r.r, 0, 0))
            return std::optional<std::uint64_t>{};
        return std::optional<std::uint64_t>{std::stoull(PQgetvalue(r.r, 0, 0))};
    }

    bool copy(const std::string& target, const std::string& rows)
    {
        {
            const Result r(PQexec(conn, ("COPY " + target + " FROM STDIN").c_str()));
            if (r.status() != PGRES_COPY_IN)
                return false;
        }
        bool sent = PQputCopyData(conn, rows.data(), static_cast<int>(rows.size())) == 1;
        sent = PQputCopyEnd(conn, sent ? nullptr : "not sent") == 1 && sent;
        bool ok = sent;
        // Bounded: libpq ends the results with a null once the command is over.
        while (PGresult* raw = PQgetResult(conn)) {
            const Result r(raw);
            ok = ok && r.status() == PGRES_COMMAND_OK;
        }
        return ok;
    }

    // One batch in one transaction. `conflict` is set to the first position whose row in the
    // table differs from the batch's.
    Shipped ship(const ChainTable& table, const ChainBatch& batch, std::uint64_t& conflict)
    {
        const std::string columns = table.columnList();
        // Straight into the table: a batch of new rows, as nearly every batch is, is parsed and
        // written once. A row of it already there fails the copy (its key is taken), and the
        // batch goes again through the comparison below.
        if (!exec("BEGIN"))
            return Shipped::Failed;
        if (copy(std::string(table.name) + " (" + columns + ")", batch.rows))
            return exec("COMMIT") ? Shipped::Done : Shipped::Failed;
        exec("ROLLBACK");
        return shipComparing(table, batch, conflict);
    }

    // The batch through its table's companion: what is new is inserted, what is there already is
    // compared with the batch's row.
    Shipped shipComparing(const ChainTable& table, const ChainBatch& batch, std::uint64_t& conflict)
    {
        const std::string columns = table.columnList();
        const std::string position = table.positionColumn();
        if (!exec("BEGIN") || !copy(std::string(table.batch) + " (" + columns + ")", batch.rows)) {
            exec("ROLLBACK");
            return Shipped::Failed;
        }
        const Result inserted(PQexec(conn, ("INSERT INTO " + std::string(table.name) + " (" + columns + ") SELECT " +
                                            columns + " FROM " + std::string(table.batch) + " ON CONFLICT DO NOTHING")
                                               .c_str()));
        if (!inserted.ok()) {
            exec("ROLLBACK");
            return Shipped::Failed;
        }
        if (std::strtoull(PQcmdTuples(inserted.r), nullptr, 10) < batch.count) {
            // Rows already there: the same as ours after a batch whose commit we did not hear of, or
            // the resumption's one row sent again; anything else is another file's.
            std::string theirs = "ROW(";
            std::string ours = "ROW(";
            for (std::size_t i = 2; i < table.columns.size(); ++i) {
                const std::string name(table.columns[i].name);
                theirs += (i > 2 ? ", t." : "t.") + name;
                ours += (i > 2 ? ", b." : "b.") + name;
            }
            const std::string sql = "SELECT b." + position + " FROM " + std::string(table.batch) + " b JOIN " +
                                    std::string(table.name) + " t ON t.salon = b.salon AND t." + position + " = b." +
                                    position + " WHERE " + theirs + ") IS DISTINCT FROM " + ours + ") ORDER BY b." +
                                    position + " LIMIT 1";
            const Result differs(PQexec(conn, sql.c_str()));
            if (differs.status() != PGRES_TUPLES_OK) {
                exec("ROLLBACK");
                return Shipped::Failed;
            }
            if (PQntuples(differs.r) > 0) {
                conflict = std::stoull(PQgetvalue(differs.r, 0, 0));
                exec("ROLLBACK");
                return Shipped::Conflict;
            }
        }
        return exec("COMMIT") ? Shipped::Done : Shipped::Failed;
    }
};

ChainShipper::ChainShipper(ChainSettings settings, ChainSources sources, ChainTiming timing)
    : m_settings(std::move(settings)), m_sources(std::move(sources)), m_timing(timing)
{
    if (!m_sources.logLength)
        m_sources.logLength = [path = m_sources.logPath] { return fileWholeRecords(path); };
}

ChainShipper::~ChainShipper()
{
    stop();
}

void ChainShipper::start()
{
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
}

void ChainShipper::stop()
{
    {
        std::scoped_lock hold(m_lock);
        m_stopping = true;
        if (m_cancel) {
            char why[256];
            PQcancel(static_cast<PGcancel*>(m_cancel), why, sizeof why);
        }
    }
    m_wakeUp.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void ChainShipper::wake()
{
    {
        std::scoped_lock hold(m_lock);
        m_woken = true;
    }
    m_wakeUp.notify_all();
}

ChainStatus ChainShipper::status() const
{
    std::scoped_lock hold(m_lock);
    ChainStatus status = m_status;
    if (status.awaySince)
        status.awayFor = std::chrono::steady_clock::now() - m_awayStarted;
    return status;
}

void ChainShipper::setStatusListener(std::function<void()> listener)
{
    std::scoped_lock hold(m_lock);
    m_listener = std::move(listener);
}

void ChainShipper::update(const std::function<void(ChainStatus&)>& change)
{
    std::function<void()> listener;
    {
        std::scoped_lock hold(m_lock);
        change(m_status);
        listener = m_listener;
    }
    if (listener)
        listener();
}

bool ChainShipper::waitFor(std::chrono::milliseconds span)
{
    std::unique_lock hold(m_lock);
    m_wakeUp.wait_for(hold, span, [this] { return m_stopping || m_woken; });
    m_woken = false;
    return !m_stopping;
}

void ChainShipper::run()
{
    auto retry = m_timing.firstRetry;
    const auto away = [this](const std::string& error) {
        update([&](ChainStatus& s) {
            if (s.connected || !s.awaySince) {
                s.awaySince = nowDayNumber();
                m_awayStarted = std::chrono::steady_clock::now();
            }
            s.connected = false;
            s.lastError = error;
        });
    };
    while (true) {
        {
            std::scoped_lock hold(m_lock);
            if (m_stopping)
                return;
        }
        Connection c;
        // The owner's string comes last, so its own connect_timeout and the rest win.
        const char* keys[] = {"connect_timeout",
                              "keepalives_idle",
                              "keepalives_interval",
                              "keepalives_count",
                              "application_name",
                              "dbname",
                              nullptr};
        const char* values[] = {"10", "30", "10", "3", "ostrel-server", m_settings.database.c_str(), nullptr};
        c.conn = PQconnectdbParams(keys, values, 1);
        if (!c.conn || PQstatus(c.conn) != CONNECTION_OK) {
            away(c.error());
            if (!waitFor(retry))
                return;
            retry = m_timing.nextRetry(retry);
            continue;
        }
        {
            std::scoped_lock hold(m_lock);
            m_cancel = PQgetCancel(c.conn);
        }
        const bool ended = session(c, retry);
        {
            std::scoped_lock hold(m_lock);
            PQfreeCancel(static_cast<PGcancel*>(m_cancel));
            m_cancel = nullptr;
        }
        if (ended)
            break;
        away(c.error());
        if (!waitFor(retry))
            return;
        retry = m_timing.nextRetry(retry);
    }
    // Stopped for good, or stopping: wait for stop().
    std::unique_lock hold(m_lock);
    m_wakeUp.wait(hold, [this] { return m_stopping; });
}

bool ChainShipper::session(Connection& c, std::chrono::milliseconds& retry)
{
    const auto stopping = [this] {
        std::scoped_lock hold(m_lock);
        return m_stopping;
    };
    PQsetClientEncoding(c.conn, "UTF8");
    c.exec("SET client_min_messages = warning");
    const ChainTable* tables[] = {&sessionsTable(), &commandsTable(), &cashTable(), &stationsNowTable()};
    for (const ChainTable* t : tables) {
        // Only what is missing is created: a role that may not create tables works on tables made for it.
        const std::string name(t->name);
        const Result there(PQexec(c.conn, ("SELECT to_regclass('" + name + "') IS NOT NULL").c_str()));
        if (there.status() != PGRES_TUPLES_OK)
            return false;
        if (std::string_view(PQgetvalue(there.r, 0, 0)) != "t" && !c.exec(t->createStatement()))
            return false;
        if (!c.exec("CREATE TEMP TABLE IF NOT EXISTS " + std::string(t->batch) + " (LIKE " + name +
                    ") ON COMMIT DELETE ROWS"))
            return false;
    }
    if (!c.exec("CREATE INDEX IF NOT EXISTS ostrel_sessions_closed_at ON ostrel_sessions (closed_at)")) {
        // Without the right to create it the reports are slower, not wrong.
        c.exec("ROLLBACK");
    }

    std::string salon;
    appendCopyText(salon, m_settings.salon);
    LogStream log(m_sources.logPath, m_sources.logLength);
    CsvStream audit(m_sources.auditPath, CsvStream::Kind::Audit, m_sources.auditLength);
    CsvStream cash(m_sources.cashPath, CsvStream::Kind::Cash);
    const auto last = [&](const ChainTable& t) {
        return c.number("SELECT max(" + t.positionColumn() + ") FROM " + std::string(t.name) + " WHERE salon = $1",
                        m_settings.salon);
    };
    const auto logAt = last(sessionsTable());
    const auto auditAt = last(commandsTable());
    const auto cashAt = last(cashTable());
    if (!logAt || !auditAt || !cashAt)
        return false;
    log.resumeAt(*logAt);
    audit.resumeAt(*auditAt);
    cash.resumeAt(*cashAt);
    retry = m_timing.firstRetry;

    const auto shipped = [&] {
        return log.nextRecord() + (audit.nextLine() > 2 ? audit.nextLine() - 2 : 0) +
               (cash.nextLine() > 2 ? cash.nextLine() - 2 : 0);
    };
    update([&](ChainStatus& s) {
        s.connected = true;
        s.awaySince.reset();
        s.lastError.clear();
        s.shipped = shipped();
        s.waiting = log.availableRecords() - std::min(log.availableRecords(), log.nextRecord());
    });

    auto lastHall = std::chrono::steady_clock::now() - m_timing.hallEvery;
    while (!stopping()) {
        bool more = false;
        struct Stream
        {
            const ChainTable& table;
            std::string_view file;
            std::function<ChainBatch()> read;
            std::function<void(const ChainBatch&)> commit;
        };
        const Stream streams[] = {
            {sessionsTable(), "Ostrel.log", [&] { return log.read(salon, m_timing.batchRows); },
             [&](const ChainBatch& b) { log.commit(b); }},
            {commandsTable(), "Ostrel.audit.csv", [&] { return audit.read(salon, m_timing.batchRows); },
             [&](const ChainBatch& b) { audit.commit(b); }},
            {cashTable(), "Ostrel.cash.csv", [&] { return cash.read(salon, m_timing.batchRows); },
             [&](const ChainBatch& b) { cash.commit(b); }},
        };
        for (const Stream& stream : streams) {
            const ChainBatch batch = stream.read();
            if (batch.count > 0) {
                std::uint64_t at = 0;
                const Shipped done = c.ship(stream.table, batch, at);
                if (done == Shipped::Conflict) {
                    update([&](ChainStatus& s) {
                        s.stopped = chain::conflictText(m_settings.salon, stream.file, at);
                        s.waiting = 0;
                    });
                    return true;
                }
                if (done == Shipped::Failed)
                    return false;
                more = more || batch.count >= m_timing.batchRows;
            }
            stream.commit(batch);
        }
        const std::uint64_t available = log.availableRecords();
        update([&](ChainStatus& s) {
            s.shipped = shipped();
            s.waiting = available - std::min(available, log.nextRecord());
        });
        if (m_sources.hall && std::chrono::steady_clock::now() - lastHall >= m_timing.hallEvery) {
            lastHall = std::chrono::steady_clock::now();
            const std::vector<HallRow> rows = m_sources.hall();
            const std::string updated = sqlTimestamp(nowDayNumber()).value_or("now");
            std::string copy;
            int number = 0;
            for (const HallRow& row : rows)
                appendStationRow(copy, salon, ++number, row, updated);
            const char* values[] = {m_settings.salon.c_str()};
            bool ok = c.exec("BEGIN");
            const Result removed(PQexecParams(c.conn, "DELETE FROM ostrel_stations_now WHERE salon = $1", 1, nullptr,
                                              values, nullptr, nullptr, 0));
            ok = ok && removed.ok();
            ok = ok && (rows.empty() || c.copy("ostrel_stations_now (" + stationsNowTable().columnList() + ")", copy));
            // Two salons under one name fight over the hall's rows: that costs the live table, not the shipping.
            if (!(ok && c.exec("COMMIT")))
                c.exec("ROLLBACK");
        }
        if (PQstatus(c.conn) != CONNECTION_OK)
            return false;
        if (!more && !waitFor(m_timing.poll))
            break;
    }
    return true;
}

} // namespace ostrel
