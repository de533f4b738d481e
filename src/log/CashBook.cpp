#include "log/CashBook.h"

#include "core/Cp1251.h"
#include "core/CsvField.h"
#include "core/Texts.h"
#include "core/UniqueFd.h"
#include "log/CashTexts.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace ostrel {

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view LineEnd = "\r\n";
// Another operator's server holds the lock only while it writes and syncs one line.
constexpr int LockTries = 100;
constexpr auto LockPause = std::chrono::milliseconds(20);

std::string oneLine(std::string text)
{
    std::ranges::replace(text, '\r', ' ');
    std::ranges::replace(text, '\n', ' ');
    return text;
}

std::string moment(double at)
{
    return formatDateAndTime(at).value_or(std::string());
}

bool lockFile(int fd)
{
    for (int i = 0; i < LockTries; ++i) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        std::this_thread::sleep_for(LockPause);
    }
    errno = EWOULDBLOCK;
    return false;
}

std::string_view headerText()
{
    return cash::Header;
}

} // namespace

std::string cashHeaderLine()
{
    return std::string(ByteOrderMark) + std::string(cash::Header) + std::string(LineEnd);
}

std::string cashLine(const CashUp& c, std::string_view user)
{
    std::string line = moment(c.at);
    const auto add = [&line](const std::string& field) {
        line += ';';
        line += field;
    };
    add(csvTextField(oneLine(std::string(user))));
    add(moment(c.from));
    add(moment(c.until));
    add(std::to_string(c.sessions));
    add(formatKopecks(c.computed));
    add(formatKopecks(c.counted));
    add(formatKopecks(c.difference()));
    add(csvTextField(oneLine(c.comment)));
    line += LineEnd;
    return line;
}

CashLineCheck checkCashLine(std::string_view line)
{
    CashLineCheck check;
    check.fields = splitCsvLine(line, check.fault);
    if (check.fault)
        return check;
    const auto& f = check.fields;
    if (!isValidUtf8(line)) {
        check.fault = "not UTF-8";
        return check;
    }
    if (f.size() != CashFieldCount) {
        check.fault = std::to_string(f.size()) + " fields, " + std::to_string(CashFieldCount) + " expected";
        return check;
    }
    const auto at = parseDateAndTime(f[0]);
    const auto from = parseDateAndTime(f[2]);
    const auto until = parseDateAndTime(f[3]);
    const auto sessions = parseWholeNumber(f[4]);
    const auto computed = parseKopecks(f[5], true);
    const auto counted = parseKopecks(f[6], true);
    const auto difference = parseKopecks(f[7], true);
    if (!at || !from || !until)
        check.fault = "a date-time cannot be read";
    else if (*from > *until)
        check.fault = "the shift ends before it starts";
    else if (!sessions || *sessions < 0)
        check.fault = "the sessions are not a count";
    else if (!computed || !counted || !difference)
        check.fault = "a sum of money cannot be read";
    else if (*difference != *counted - *computed)
        check.fault = "the difference is not counted minus computed";
    if (check.fault)
        return check;
    CashUp c;
    c.at = *at;
    c.user = f[1];
    c.from = *from;
    c.until = *until;
    c.sessions = static_cast<std::uint64_t>(*sessions);
    c.computed = *computed;
    c.counted = *counted;
    c.comment = f[8];
    check.cashUp = std::move(c);
    return check;
}

std::vector<CashFileLine> checkCashFile(std::string_view content)
{
    const std::string header = std::string(ByteOrderMark) + std::string(headerText());
    return checkCsvFileLines<CashFileLine>(content, header, [](std::string_view line) { return checkCashLine(line); });
}

std::optional<double> CashBookRead::lastAt() const
{
    if (cashUps.empty())
        return std::nullopt;
    return cashUps.back().at;
}

CashBookRead readCashBookText(std::string_view content)
{
    CashBookRead read;
    for (CashFileLine& line : checkCashFile(content)) {
        if (line.check.fault) {
            ++read.damaged;
            if (!read.firstDamaged)
                read.firstDamaged = line.number;
        } else if (line.check.cashUp) {
            read.cashUps.push_back(std::move(*line.check.cashUp));
        }
    }
    return read;
}

CashBookRead readCashBook(const std::string& path)
{
    std::string content;
    if (!readWholeFile(path, content)) {
        CashBookRead read;
        read.error = errno;
        read.status = errno == ENOENT ? CashBookRead::Status::Missing : CashBookRead::Status::Unreadable;
        return read;
    }
    return readCashBookText(content);
}

CashBook::CashBook(std::string path, std::string user) : m_path(std::move(path)), m_user(std::move(user)) {}

int CashBook::append(const CashUp& cashUp)
{
    const std::string line = cashLine(cashUp, m_user);
    std::scoped_lock hold(m_lock);
    const UniqueFd fd(m_spare.open([this] { return openSharedFile(m_path); }));
    const auto failed = [](int why) { return why == 0 ? EIO : why; };
    if (!fd)
        return failed(errno);
    // The lock goes with the descriptor.
    if (!lockFile(fd.get()))
        return failed(errno);
    struct stat st
    {
    };
    if (::fstat(fd.get(), &st) != 0)
        return failed(errno);
    const auto end = wholeLinesEnd(fd.get(), st.st_size);
    if (!end)
        return failed(errno);
    // A line cut short by a crash was never durable: it goes, and the new line takes its place.
    if (*end < st.st_size && ::ftruncate(fd.get(), *end) != 0)
        return failed(errno);
    const std::string bytes = *end == 0 ? cashHeaderLine() + line : line;
    const bool written =
        writeAllAt(fd.get(), reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), *end) &&
        dataSync(fd.get());
    if (!written) {
        const int why = failed(errno);
        cutBackAfterFailedAppend(fd.get(), *end);
        (void)dataSync(fd.get());
        return why;
    }
    if (*end == 0)
        syncParentDirectory(m_path);
    m_spare.retake();
    return 0;
}

} // namespace ostrel
