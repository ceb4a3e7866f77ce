// Writing "movik.status" for a monitor: the record that the poll cycle
// keeps up to date, completed with the database's state as the change
// reporter last saw it, whether the log can be written, the version and the
// process id. The cycle writes it during long lists and waits, the window's
// logic at every tick.
#pragma once

#include "core/ChangeReporter.h"
#include "core/Dates.h"
#include "core/StatusFile.h"

#include <cstdint>

namespace movik {

struct Settings;

class StatusWriter
{
public:
    // The longest a long cycle leaves the status file unwritten.
    static constexpr std::int64_t intervalSeconds = 10;

    StatusWriter(const Settings& settings, StatusRecord& status, ChangeReporter& reporter,
                 SecondsClock clock = secondsNow);

    StatusRecord& record() { return m_status; }

    // Writes the file in the program directory. A file that cannot be
    // written is logged once, and again only after it could be written once
    // more.
    void write(bool automaticPoll);
    // Writes it when intervalSeconds have passed since it last was.
    void keepFresh();

private:
    const Settings& m_settings;
    StatusRecord& m_status;
    ChangeReporter& m_reporter;
    SecondsClock m_clock;
    std::int64_t m_writtenAt = 0;
    bool m_failureLogged = false;
};

} // namespace movik
