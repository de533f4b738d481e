#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace ostrel {

// What one showing of the period dialog computes: the mode, the four "from the start of" boxes,
// the counters of Month and Quarter mode, the texts of the fields, which controls are enabled, and
// the working pair DateBeg..DateEnd that OK returns. The dialog only mirrors this state.
//
// Handlers that read a date field return an error text when the field does not hold a date; the
// recomputation stops at that point, as the comments of the handlers say.
class PeriodSelection
{
public:
    enum Mode
    {
        Quarter = 0,
        Month = 1,
        Day = 2,
        Interval = 3
    };
    enum Box
    {
        YearCh = 0,
        KvartCh = 1,
        MonthCh = 2,
        DayCh = 3
    };
    enum Control
    {
        KvartE,
        KvartUp,
        MonthYear,
        MonthUP,
        DayOne,
        DayOneSP,
        DayB,
        DayBSP,
        DayE,
        DayESP,
        YearChBox,
        KvartChBox,
        MonthChBox,
        DayChBox,
        ControlCount
    };
    enum Field
    {
        DayOneField,
        DayBField,
        DayEField
    };

    using Error = std::optional<std::string>; // nullopt: done

    // The working dates a showing starts from (the component's last choice, or today twice).
    PeriodSelection(double dateBeg, double dateEnd);

    // Runs once as the dialog opens.
    Error FormActivate();

    // The begin-date adjustment by the checked boxes.
    double YKMBegin(double date) const;

    Error VidClick();
    Error setMode(Mode mode); // selects the item, then VidClick
    Error MonthUPClick(bool up);
    Error KvartUpClick(bool up);
    // The operator has just set the box to `checked`; the other three are cleared.
    Error boxClick(Box box, bool checked);

    // The date a calendar button seeds its picker with, or the error it reports instead of a picker.
    Error calendarSeed(Field field, double& seed) const;
    // A date confirmed in the picker of a field's button.
    Error DayOneSPClick(double picked);
    Error DayBSPClick(double picked);
    Error DayESPClick(double picked);

    // The operator has left a date field (focus out, Enter) or pressed OK while editing it: its
    // text takes effect as a date picked from that field's calendar would. A text that is not a
    // date reports the date error and changes nothing.
    Error fieldEdited(Field field);

    // What the operator typed into a date field (read at the next recomputation).
    void setFieldText(Field field, std::string text) { m_fields[field] = std::move(text); }
    const std::string& fieldText(Field field) const { return m_fields[field]; }

    Mode mode() const { return m_mode; }
    bool checked(Box box) const { return m_checked[box]; }
    bool enabled(Control control) const { return m_enabled[control]; }
    const std::string& kvartText() const { return m_kvartText; }
    const std::string& monthText() const { return m_monthText; }
    const std::string& statusText() const { return m_status; }

    std::uint16_t year() const { return m_year; }
    std::uint16_t month() const { return m_month; }
    std::uint16_t kvartYear() const { return m_kvartYear; }
    std::uint16_t kvart() const { return m_kvart; }
    double dateBeg() const { return m_dateBeg; }
    double dateEnd() const { return m_dateEnd; }

private:
    Error fieldDate(Field field, double& date) const;
    // A date picked for an interval field: the field shows it, and `date` takes it as it stands.
    Error pickInto(Field field, double picked, double& date);
    Error dayPeriod();                                        // DayOne alone
    Error monthsPeriod(int year, int firstMonth, int months); // a month or a quarter
    void refreshStatus();
    void updateMonthText();
    void updateKvartText();
    void enable(std::initializer_list<Control> controls);

    Mode m_mode = Day;
    std::array<bool, 4> m_checked{};
    std::array<bool, ControlCount> m_enabled{};
    std::array<std::string, 3> m_fields;
    std::string m_kvartText;
    std::string m_monthText;
    std::string m_status;
    std::uint16_t m_year = 0;
    std::uint16_t m_month = 1;
    std::uint16_t m_kvartYear = 0;
    std::uint16_t m_kvart = 1;
    double m_dateBeg = 0;
    double m_dateEnd = 0;
};

} // namespace ostrel
