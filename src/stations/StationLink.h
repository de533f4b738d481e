#pragma once

#include <string>

namespace ostrel {

struct StationReport;

// What report processing needs to know of the connection a report came on. The network layer's
// connection implements it; tests use a plain struct.
class StationLink
{
public:
    virtual ~StationLink() = default;
    virtual const std::string& hostName() const = 0; // looked up once; the dotted address when the look-up failed
    virtual const std::string& address() const = 0;  // dotted decimal
    virtual bool isClosed() const = 0;               // true once the disconnect handling has run for it
};

// Where the network layer hands what a connection brings: each decoded report and the end of the
// connection. ReportProcessor is the one implementation; the network layer knows only this.
class StationReportSink
{
public:
    virtual bool applyReport(const StationLink& link, const StationReport& report) = 0;
    virtual void stationDisconnected(const StationLink& link) = 0;

protected:
    ~StationReportSink() = default;
};

} // namespace ostrel
