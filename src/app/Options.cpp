#include "app/Options.h"

#include "app/SetupCheck.h"
#include "app/StatusCheck.h"
#include "core/StringUtil.h"
#include "core/Version.h"

namespace movik {

ProgramOptions readProgramOptions(const std::vector<std::string>& arguments)
{
    ProgramOptions options;
    if (arguments.empty())
        return options;
    // One option at a time: anything more is a mistake worth pointing out
    // rather than a guess at what was meant.
    const std::string& first = arguments.front();
    // The only option of two parts, for monitoring agents: a line they
    // cannot have meant is their UNKNOWN, not a usage text.
    if (first == "--status") {
        options.action = ProgramAction::Status;
        for (std::size_t i = 1; i < arguments.size() && options.statusError.empty(); i += 2) {
            const std::string& option = arguments[i];
            const std::string value = i + 1 < arguments.size() ? arguments[i + 1] : std::string();
            bool read = false;
            if (option == "--max-age")
                read = parseDigits(value, 9, options.limits.maxAge);
            else if (option == "--max-failing")
                read = parseDigits(value, 9, options.limits.maxFailing);
            else if (option == "--format" && (value == "prometheus" || value == "plugin")) {
                options.format = value == "prometheus" ? StatusFormat::Prometheus : StatusFormat::Plugin;
                read = true;
            }
            if (!read)
                options.statusError = "cannot read the command line after --status";
        }
        return options;
    }
    if (first == "--version")
        options.action = ProgramAction::Version;
    else if (first == "--help" || first == "-h" || first == "/?")
        options.action = ProgramAction::Help;
    else if (first == "--check")
        options.action = ProgramAction::Check;
    else
        options.unknown = first;
    if (options.action != ProgramAction::Run && arguments.size() > 1) {
        options.action = ProgramAction::Run;
        options.unknown = arguments[1];
    }
    if (!options.unknown.empty() || options.action == ProgramAction::Run)
        options.action = ProgramAction::Usage;
    return options;
}

int answerProgramOptions(const ProgramOptions& options, const std::string& appPath, std::ostream& out,
                         std::ostream& err)
{
    switch (options.action) {
    case ProgramAction::Version:
        out << versionText() << std::flush;
        return 0;
    case ProgramAction::Help:
        out << helpText() << std::flush;
        return 0;
    case ProgramAction::Check:
        return printSetupCheck(appPath, out);
    case ProgramAction::Status:
        if (!options.statusError.empty()) {
            out << unreadableStatusCommand(options.statusError) << '\n' << std::flush;
            return static_cast<int>(MonitorState::Unknown);
        }
        return printStatusCheck(appPath, options.limits, options.format, out);
    case ProgramAction::Usage:
    case ProgramAction::Run:
        break;
    }
    err << usageText(options.unknown) << std::flush;
    return UsageExitStatus;
}

std::string versionText()
{
    return "MOVIK " MOVIK_VERSION_AND_COMMIT "\n";
}

std::string helpText()
{
    return "Usage: movik [--check | --status [--max-age SECONDS] [--max-failing SECONDS]\n"
           "                       [--format prometheus] | --version | --help]\n"
           "Imports the visitor service's waiting visitors into the access-control\n"
           "database. Without options it opens its window and works from the files in\n"
           "its own directory (movik.ini, _$wak, morvane.tab, aliases.ini), logging to\n"
           "MOVIK.log and writing movik.status after every poll cycle.\n"
           "\n"
           "  --check    check the setup: settings, key file, credentials, database\n"
           "             alias, the database itself and one poll of the visitor\n"
           "             service; one PASS or FAIL line each. Exit status 0 when all\n"
           "             pass, 1 otherwise. Safe beside a running copy: it takes no\n"
           "             lock and writes none of the running copy's files.\n"
           "  --status [--max-age SECONDS] [--max-failing SECONDS] [--format prometheus]\n"
           "             for a monitoring agent: one line from movik.status, \"MOVIK OK\",\n"
           "             \"MOVIK WARNING\", \"MOVIK CRITICAL\" or \"MOVIK UNKNOWN\" with the\n"
           "             reasons and performance data, and exit status 0, 1, 2 or 3.\n"
           "             A status older than --max-age (default 60 s), a stopped\n"
           "             program, an unreachable database, a program directory others\n"
           "             may change, a journal that cannot be used, a refused token or\n"
           "             certificate, a wrong address, or polls failing for longer than\n"
           "             --max-failing (default 900 s) is critical; a failed poll,\n"
           "             Automatic Poll off, a log that cannot be written, a journal set\n"
           "             aside, or visitors stuck in the queue warn. A status written\n"
           "             in the future is unknown. With --format\n"
           "             prometheus the same figures in Prometheus' text format, exit\n"
           "             status 0. Takes no lock and writes nothing.\n"
           "  --version  print the version\n"
           "  --help     print this text\n";
}

std::string usageText(const std::string& unknown)
{
    return "movik: unknown option \"" + unknown +
           "\"\n"
           "Usage: movik [--check | --status [--max-age SECONDS] [--max-failing SECONDS]\n"
           "                       [--format prometheus] | --version | --help]\n";
}

} // namespace movik
