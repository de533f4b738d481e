#include "Options.h"

#include "core/Cp1251.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

namespace ostrel::sim {

namespace {

std::string_view trim(std::string_view s)
{
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::optional<long long> parseInteger(std::string_view text)
{
    text = trim(text);
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::optional<std::uint16_t> parsePort(std::string_view text)
{
    const auto value = parseInteger(text);
    if (!value || *value < 1 || *value > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(*value);
}

// Finite numbers only; the comma is accepted as a decimal separator too.
std::optional<double> parseNumber(std::string_view text)
{
    std::string s(trim(text));
    for (char& c : s)
        if (c == ',')
            c = '.';
    double value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<std::string> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

std::optional<std::uint32_t> parseIpv4(std::string_view text)
{
    if (text.empty() || text.back() == '.')
        return std::nullopt;
    std::uint32_t address = 0;
    int parts = 0;
    while (parts < 4) {
        const auto dot = text.find('.');
        const std::string_view part = text.substr(0, dot);
        if (part.empty() || part.size() > 3)
            return std::nullopt;
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (ec != std::errc() || end != part.data() + part.size() || value > 255)
            return std::nullopt;
        address = (address << 8) | value;
        ++parts;
        if (dot == std::string_view::npos) {
            text = {};
            break;
        }
        text.remove_prefix(dot + 1);
    }
    if (parts != 4 || !text.empty())
        return std::nullopt;
    return address;
}

std::string formatIpv4(std::uint32_t address)
{
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::optional<std::uint32_t> stationAddress(std::uint32_t first, int index)
{
    if (index < 0 || (first >> 24) != 127)
        return std::nullopt;
    const std::uint32_t third = (first >> 8) & 0xFF;
    const std::uint32_t fourth = first & 0xFF;
    if (fourth == 0 || fourth == 255 || third == 255)
        return std::nullopt;
    // Within the /16 of the first address, counting only host numbers 1..254 in the last octet.
    const std::uint64_t position = std::uint64_t{third} * 254 + (fourth - 1) + static_cast<std::uint64_t>(index);
    const std::uint64_t newThird = position / 254;
    if (newThird > 254)
        return std::nullopt;
    const auto newFourth = static_cast<std::uint32_t>(position % 254 + 1);
    return (first & 0xFFFF0000u) | (static_cast<std::uint32_t>(newThird) << 8) | newFourth;
}

IniPorts readIniPorts(std::string_view iniText)
{
    IniPorts ports;
    bool inServer = false;
    while (!iniText.empty()) {
        const auto eol = iniText.find('\n');
        std::string_view line = trim(iniText.substr(0, eol));
        iniText.remove_prefix(eol == std::string_view::npos ? iniText.size() : eol + 1);
        if (line.starts_with("\xEF\xBB\xBF"))
            line.remove_prefix(3);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            const auto close = line.find(']');
            inServer = close != std::string_view::npos && equalsIgnoreCase(trim(line.substr(1, close - 1)), "Server");
            continue;
        }
        const auto eq = line.find('=');
        if (!inServer || eq == std::string_view::npos)
            continue;
        const std::string_view key = trim(line.substr(0, eq));
        const std::string_view value = line.substr(eq + 1);
        // The first occurrence of a key counts, as for the server.
        if (equalsIgnoreCase(key, "ServerTCP") && !ports.serverTcp)
            ports.serverTcp = parsePort(value);
        else if (equalsIgnoreCase(key, "ServerUDP") && !ports.serverUdp)
            ports.serverUdp = parsePort(value);
        else if (equalsIgnoreCase(key, "ClientUDP") && !ports.clientUdp)
            ports.clientUdp = parsePort(value);
    }
    return ports;
}

std::optional<std::vector<ScriptStep>> parseScript(std::string_view text, std::string& error)
{
    std::vector<ScriptStep> steps;
    int lineNumber = 0;
    while (!text.empty()) {
        const auto eol = text.find('\n');
        std::string line(trim(text.substr(0, eol)));
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        ++lineNumber;
        // A comment runs from a "#" that opens the line or follows a blank.
        for (std::size_t hash = line.find('#'); hash != std::string::npos; hash = line.find('#', hash + 1)) {
            if (hash == 0 || line[hash - 1] == ' ' || line[hash - 1] == '\t') {
                line = std::string(trim(std::string_view(line).substr(0, hash)));
                break;
            }
        }
        if (line.empty() || line.front() == '#')
            continue;
        std::istringstream words(line);
        std::string at, action, argument;
        words >> at >> action >> argument;
        ScriptStep step;
        const auto seconds = parseNumber(at);
        const auto fail = [&] {
            error = "script line " + std::to_string(lineNumber) + ": " + line;
            return std::nullopt;
        };
        if (!seconds || *seconds < 0)
            return fail();
        step.atSeconds = *seconds;
        const auto onOff = [&](ScriptStep::Action a) {
            step.action = a;
            if (argument == "on" || argument == "1")
                step.argument = 1;
            else if (argument == "off" || argument == "0")
                step.argument = 0;
            else
                return false;
            return true;
        };
        if (action == "drop" || action == "powercut") {
            step.action = action == "drop" ? ScriptStep::Action::Drop : ScriptStep::Action::PowerCut;
            const auto which =
                argument.empty() || argument == "all" ? std::optional<long long>(0) : parseInteger(argument);
            if (!which || *which < 0)
                return fail();
            step.argument = static_cast<double>(*which);
        } else if (action == "split") {
            if (!onOff(ScriptStep::Action::Split))
                return fail();
        } else if (action == "one-byte") {
            if (!onOff(ScriptStep::Action::OneByte))
                return fail();
        } else if (action == "garbage") {
            step.action = ScriptStep::Action::Garbage;
            const auto p = parseNumber(argument);
            if (!p || *p < 0 || *p > 1)
                return fail();
            step.argument = *p;
        } else if (action == "stop") {
            step.action = ScriptStep::Action::Stop;
        } else if (action == "local") {
            // SECONDS local STATION CODE [PRICE [MINUTES [TARIFF...]]]; the tariff may hold blanks.
            std::string codeText, priceText, minutesText, tariff;
            words >> codeText >> priceText >> minutesText;
            std::getline(words >> std::ws, tariff);
            const auto station = argument == "all" ? std::optional<long long>(0) : parseInteger(argument);
            const auto commandCode = parseInteger(codeText);
            const auto price = priceText.empty() ? std::optional<double>(0) : parseNumber(priceText);
            const auto minutes = minutesText.empty() ? std::optional<double>(0) : parseNumber(minutesText);
            if (!station || *station < 0 || !commandCode || *commandCode < 0 || *commandCode > 1000 || !price ||
                !minutes || *minutes < 0)
                return fail();
            step.action = ScriptStep::Action::Local;
            step.argument = static_cast<double>(*station);
            step.command.code = static_cast<CommandCode>(*commandCode);
            step.command.price = *price;
            step.command.time = *minutes / 1440.0;
            step.command.tariff = utf8ToCp1251(std::string(trim(tariff)));
        } else {
            return fail();
        }
        steps.push_back(step);
    }
    // Steps run in time order whatever the order of the lines; equal times keep their line order.
    std::stable_sort(steps.begin(), steps.end(),
                     [](const ScriptStep& a, const ScriptStep& b) { return a.atSeconds < b.atSeconds; });
    return steps;
}

ParsedOptions parseOptions(const std::vector<std::string>& args)
{
    ParsedOptions result;
    SimulatorOptions options;
    std::optional<std::uint16_t> tcpFlag, udpFlag, clientFlag;
    std::string iniPath;

    const auto fail = [&](std::string message) {
        result.error = std::move(message);
        return result;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size())
                return std::nullopt;
            return args[++i];
        };
        const auto number = [&](double min, double max) -> std::optional<double> {
            const auto text = value();
            if (!text)
                return std::nullopt;
            const auto x = parseNumber(*text);
            if (!x || *x < min || *x > max)
                return std::nullopt;
            return x;
        };
        // Sets `field` only when the next argument is a number within [min, max].
        const auto setNumber = [&](double& field, double min, double max) {
            const auto x = number(min, max);
            if (x)
                field = *x;
            return x.has_value();
        };
        const auto port = [&]() -> std::optional<std::uint16_t> {
            const auto text = value();
            return text ? parsePort(*text) : std::nullopt;
        };
        if (arg == "-h" || arg == "--help") {
            result.help = true;
            return result;
        } else if (arg == "--server") {
            const auto text = value();
            if (!text || !parseIpv4(*text))
                return fail("--server needs a dotted IPv4 address");
            options.serverAddress = *text;
            options.discovery = false;
        } else if (arg == "--discover") {
            const auto text = value();
            if (!text || !parseIpv4(*text))
                return fail("--discover needs a dotted IPv4 address");
            options.discoverAddress = *text;
        } else if (arg == "--port" || arg == "--tcp-port") {
            if (!(tcpFlag = port()))
                return fail(arg + " needs a port number 1..65535");
        } else if (arg == "--udp-port") {
            if (!(udpFlag = port()))
                return fail("--udp-port needs a port number 1..65535");
        } else if (arg == "--client-udp-port") {
            if (!(clientFlag = port()))
                return fail("--client-udp-port needs a port number 1..65535");
        } else if (arg == "--ini") {
            const auto text = value();
            if (!text)
                return fail("--ini needs a file");
            iniPath = *text;
        } else if (arg == "--stations") {
            const auto n = number(1, 65000);
            if (!n || *n != std::floor(*n))
                return fail("--stations needs a whole number 1..65000");
            options.stations = static_cast<int>(*n);
        } else if (arg == "--first-address") {
            const auto text = value();
            const auto address = text ? parseIpv4(*text) : std::nullopt;
            if (!address || !stationAddress(*address, 0))
                return fail("--first-address needs an address in 127.0.0.0/8 with a last octet 1..254");
            options.firstAddress = *text;
        } else if (arg == "--rate") {
            if (!setNumber(options.rate, 0.001, 100000))
                return fail("--rate needs reports per second, 0.001..100000");
        } else if (arg == "--speed") {
            if (!setNumber(options.speed, 0.001, 100000))
                return fail("--speed needs a factor, 0.001..100000");
        } else if (arg == "--duration") {
            if (!setNumber(options.durationSeconds, 0, 1e7))
                return fail("--duration needs seconds");
        } else if (arg == "--split") {
            options.split = true;
        } else if (arg == "--one-byte") {
            options.oneByte = true;
        } else if (arg == "--garbage") {
            if (!setNumber(options.garbage, 0, 1))
                return fail("--garbage needs a probability 0..1");
        } else if (arg == "--drop-after") {
            if (!setNumber(options.dropAfterSeconds, 0.001, 1e7))
                return fail("--drop-after needs seconds");
        } else if (arg == "--load") {
            options.load = true;
        } else if (arg == "--summary") {
            options.summary = true;
        } else if (arg == "--log-commands") {
            options.logCommands = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--script") {
            const auto path = value();
            const auto text = path ? readFile(*path) : std::nullopt;
            if (!text)
                return fail("--script needs a readable file");
            std::string error;
            auto steps = parseScript(*text, error);
            if (!steps)
                return fail(error);
            options.script = std::move(*steps);
        } else if (arg == "--reboot-delay" || arg == "--logoff-delay" || arg == "--poweroff-delay") {
            double& delay = arg == "--reboot-delay"   ? options.rebootSeconds
                            : arg == "--logoff-delay" ? options.logOffSeconds
                                                      : options.powerOffSeconds;
            if (!setNumber(delay, 0, 3600))
                return fail(arg + " needs seconds 0..3600");
        } else if (arg == "--customer-delay") {
            const auto text = value();
            if (!text)
                return fail("--customer-delay needs MIN[:MAX] seconds");
            const auto colon = text->find(':');
            const auto low = parseNumber(std::string_view(*text).substr(0, colon));
            const auto high = colon == std::string::npos ? low : parseNumber(std::string_view(*text).substr(colon + 1));
            if (!low || !high || *low < 0 || *high < *low || *high > 1e6)
                return fail("--customer-delay needs MIN[:MAX] seconds, MIN <= MAX");
            options.customerMinSeconds = *low;
            options.customerMaxSeconds = *high;
        } else if (arg == "--seed") {
            const auto x = number(0, 4294967295.0);
            if (!x)
                return fail("--seed needs a whole number");
            options.seed = static_cast<std::uint32_t>(*x);
        } else {
            return fail("unknown argument: " + arg);
        }
    }

    if (!iniPath.empty()) {
        const auto text = readFile(iniPath);
        if (!text)
            return fail("cannot read " + iniPath);
        const IniPorts ports = readIniPorts(*text);
        options.tcpPort = ports.serverTcp.value_or(0);
        options.udpPort = ports.serverUdp.value_or(0);
        options.clientUdpPort = ports.clientUdp.value_or(0);
    }
    // Flags win over the ini file.
    if (tcpFlag)
        options.tcpPort = *tcpFlag;
    if (udpFlag)
        options.udpPort = *udpFlag;
    if (clientFlag)
        options.clientUdpPort = *clientFlag;

    if (options.tcpPort == 0)
        return fail("the server's TCP port is unknown: give --ini PATH or --tcp-port N");
    if (options.discovery && (options.udpPort == 0 || options.clientUdpPort == 0))
        return fail("discovery needs ServerUDP and ClientUDP: give --ini PATH, or --udp-port and --client-udp-port, "
                    "or name the server with --server ADDR --port N");
    const auto first = parseIpv4(options.firstAddress);
    if (!first || !stationAddress(*first, options.stations - 1))
        return fail("too many stations for the addresses from " + options.firstAddress + " to 127.0.254.254");
    result.options = options;
    return result;
}

} // namespace ostrel::sim
