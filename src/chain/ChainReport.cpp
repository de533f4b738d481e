#include "chain/ChainReport.h"

#include "chain/ChainSchema.h"
#include "core/CsvField.h"
#include "core/DateTime.h"
#include "core/Texts.h"
#include "report/WorkReportBuilder.h"

#include <libpq-fe.h>

namespace ostrel {

namespace {

std::string timeText(std::int64_t milliseconds)
{
    return splitTimeTotal(static_cast<double>(milliseconds) / static_cast<double>(MillisecondsPerDay)).text();
}

constexpr std::string_view Columns[] = {"Салон", "Сеансов", "Повторов", "Сумма", "Время"};
constexpr std::string_view TotalTitle = "Итого";

std::vector<std::string> cells(const ChainSalonTotals& t, bool total)
{
    return {total ? std::string(TotalTitle) : t.salon, std::to_string(t.sessions), std::to_string(t.repeats),
            formatKopecks(t.kopecks), timeText(t.milliseconds)};
}

// The header, a row a salon and the total, in that order.
std::vector<std::vector<std::string>> rows(const ChainReport& report)
{
    std::vector<std::vector<std::string>> out{{Columns, Columns + 5}};
    for (const ChainSalonTotals& s : report.salons)
        out.push_back(cells(s, false));
    out.push_back(cells(report.total, true));
    return out;
}

} // namespace

std::string ChainReport::text() const
{
    std::string out;
    for (const auto& row : rows(*this)) {
        for (std::size_t i = 0; i < row.size(); ++i)
            out += (i ? "\t" : "") + row[i];
        out += '\n';
    }
    return out;
}

std::string ChainReport::csv() const
{
    std::string out;
    for (const auto& row : rows(*this)) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (i > 0)
                out += ';';
            out += csvTextField(row[i]);
        }
        out += "\r\n";
    }
    return out;
}

ChainReport readChainReport(const std::string& conninfo, double dateBeg, double dateEnd)
{
    ChainReport report;
    const auto from = sqlTimestamp(dateBeg);
    const auto until = sqlTimestamp(dateEnd + 1.0);
    if (!from || !until) {
        report.error = "the period is not a range of dates";
        return report;
    }
    PGconn* conn = PQconnectdb(conninfo.c_str());
    if (!conn || PQstatus(conn) != CONNECTION_OK) {
        report.error = conn ? PQerrorMessage(conn) : "out of memory";
        PQfinish(conn);
        return report;
    }
    PQsetClientEncoding(conn, "UTF8");
    // Money and time are summed in the database exactly: kopecks and milliseconds.
    const char* sql =
        "SELECT salon, count(*) FILTER (WHERE NOT repeated), count(*) FILTER (WHERE repeated), "
        "coalesce(sum(round(sum * 100)) FILTER (WHERE NOT repeated), 0)::bigint, "
        "coalesce(round(extract(epoch FROM sum(duration) FILTER (WHERE NOT repeated)) * 1000), 0)::bigint "
        "FROM ostrel_sessions WHERE closed_at >= $1::timestamp AND closed_at < $2::timestamp "
        "GROUP BY salon ORDER BY salon";
    const char* values[] = {from->c_str(), until->c_str()};
    PGresult* r = PQexecParams(conn, sql, 2, nullptr, values, nullptr, nullptr, 0);
    if (PQresultStatus(r) != PGRES_TUPLES_OK) {
        report.error = PQerrorMessage(conn);
    } else {
        for (int i = 0; i < PQntuples(r); ++i) {
            ChainSalonTotals t;
            t.salon = PQgetvalue(r, i, 0);
            t.sessions = std::stoull(PQgetvalue(r, i, 1));
            t.repeats = std::stoull(PQgetvalue(r, i, 2));
            t.kopecks = std::stoll(PQgetvalue(r, i, 3));
            t.milliseconds = std::stoll(PQgetvalue(r, i, 4));
            report.total.sessions += t.sessions;
            report.total.repeats += t.repeats;
            report.total.kopecks += t.kopecks;
            report.total.milliseconds += t.milliseconds;
            report.salons.push_back(std::move(t));
        }
    }
    PQclear(r);
    PQfinish(conn);
    if (report.error)
        while (!report.error->empty() && (report.error->back() == '\n' || report.error->back() == ' '))
            report.error->pop_back();
    return report;
}

} // namespace ostrel
