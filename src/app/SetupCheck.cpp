#include "app/SetupCheck.h"

#include "app/ProgramDirectory.h"
#include "core/IniFile.h"
#include "core/Log.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/StringUtil.h"
#include "db/AliasFile.h"
#include "db/Credentials.h"
#include "db/DortexConnection.h"
#include "db/DortexDatabase.h"
#include "platform/InstanceLock.h"
#include "platform/Platform.h"
#include "service/CommandRunner.h"
#include "service/CurlExitText.h"
#include "service/HttpResponse.h"
#include "service/PollAnswer.h"
#include "service/VisitorService.h"
#include "vlist/Member.h"
#include "vlist/Scanner.h"

#include <exception>
#include <utility>

namespace movik {

namespace {

// Start-up and the database log as they go; the check keeps those lines
// out of the running copy's log and reads what the steps hand back.
class LogSilence
{
public:
    LogSilence()
    {
        setLogSink([](std::int32_t, const std::string&) {});
    }
    ~LogSilence() { setLogSink({}); }
    LogSilence(const LogSilence&) = delete;
    LogSilence& operator=(const LogSilence&) = delete;
};

CheckLine pass(const std::string& item, const std::string& text)
{
    return {true, item, text};
}

CheckLine fail(const std::string& item, const std::string& text)
{
    return {false, item, text};
}

CheckLine warn(const std::string& item, const std::string& text)
{
    return {true, item, text, true};
}

// " (saved as UTF-16 LE)" for a file saved neither plain nor as UTF-8.
std::string savedAs(TextEncoding encoding)
{
    const std::string name = encodingName(encoding);
    return name.empty() ? std::string() : " (saved as " + name + ")";
}

std::string savedAs(const std::string& iniFile)
{
    IniFile file;
    file.load(iniFile);
    return savedAs(file.encoding());
}

// The host of an address: what lies between "://" and the port or path.
std::string hostOf(const std::string& url)
{
    const std::size_t from = url.find("://");
    if (from == std::string::npos)
        return {};
    std::string host = url.substr(from + 3, url.find_first_of("/?#", from + 3) - (from + 3));
    host = host.substr(host.rfind('@') == std::string::npos ? 0 : host.rfind('@') + 1);
    if (!host.empty() && host.front() == '[')
        return lowerCase(host.substr(1, host.find(']') - 1));
    return lowerCase(host.substr(0, host.find(':')));
}

bool isLoopback(const std::string& host)
{
    return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

// What a site should change although the program works: a token that
// would cross the network in clear, a proxy password others may read.
std::vector<CheckLine> settingsWarnings(const std::string& ini, const Settings& settings)
{
    std::vector<CheckLine> lines;
    const std::string host = hostOf(settings.CurlURL);
    if (lowerCase(settings.CurlURL).rfind("http://", 0) == 0 && !isLoopback(host))
        lines.push_back(warn("settings", "CurlURL " + settings.CurlURL + " is plain http:// to " + host +
                                             ": the token in _$wak would travel in clear; use https://"));
    std::string who;
    if (proxyHasCredentials(settings.ProxyServer) && platform::othersMayRead(ini, who))
        lines.push_back(warn("settings", ini + " holds the proxy's password in ProxyServer and " + who +
                                             " may read it: keep it as private as _$wak"));
    return lines;
}

std::string driverName(AliasDriver driver)
{
    switch (driver) {
    case AliasDriver::Sqlite:
        return "SQLite";
    case AliasDriver::Postgresql:
        return "PostgreSQL";
    case AliasDriver::Odbc:
        return "ODBC";
    }
    return "?";
}

// What to do about a tool that ended with a failure; through a proxy,
// curl connects to the proxy alone.
std::string toolAdvice(int status, bool proxied)
{
    if (proxied && (status == 5 || status == 7 || status == 28 || status == 56))
        return "check ProxyServer in movik.ini, and that the proxy runs and reaches the service";
    switch (status) {
    case 1:
    case 3:
        return "check CurlURL in movik.ini (http://host:port/path/)";
    case 5:
        return "check ProxyServer in movik.ini";
    case 6:
        return "check the host name in CurlURL, and the name service";
    case 7:
        return "check the host and port in CurlURL, and that the service runs";
    case 23:
        return "check that the program directory is writable and the disk has room";
    case 28:
        return "check CurlURL, ProxyServer and the network";
    case 35:
    case 60:
    case 77:
        return "check the service's certificate and the machine's trusted certificates";
    default:
        return "check CurlURL and ProxyServer in movik.ini";
    }
}

// A base address the tool can use: http:// or https:// and a host.
bool isServiceAddress(const std::string& url)
{
    const std::string lower = lowerCase(url);
    for (const std::string scheme : {"http://", "https://"})
        if (lower.rfind(scheme, 0) == 0)
            return url.size() > scheme.size() && url.find_first_of("/:?#@ ", scheme.size()) != scheme.size();
    return false;
}

// The settings the program would read but could not use as written: each
// gets a FAIL line naming the key, its value and what the program uses.
std::vector<CheckLine> checkSettingValues(const std::string& ini, const Settings& settings)
{
    std::vector<CheckLine> lines;
    IniFile file;
    file.load(ini);
    const std::string section = "Options";
    if (settings.CurlURL != "/" && !isServiceAddress(settings.CurlURL))
        lines.push_back(
            fail("settings", "CurlURL=" + visibleText(file.readString(section, "CurlURL", "")) +
                                 " is not an http:// or https:// address with a host name: set it "
                                 "to the visitor service's address"));
    const std::pair<const char*, std::int32_t> integers[] = {{"Debug", settings.DebugLevel},
                                                             {"AckWaitMSec", settings.AckWaitMSec},
                                                             {"PollWaitMSec", settings.PollWaitMSec},
                                                             {"AutoPoll", settings.AutoPoll}};
    for (const auto& [key, used] : integers) {
        const std::string value = file.readString(section, key, "");
        std::int32_t read = 0;
        std::string why;
        // An empty value is the documented way to ask for the default.
        if (!value.empty() && !IniFile::tryParseInteger(value, read))
            why = " is not a whole number";
        else if (!value.empty() && read < 0 && std::string(key).find("Wait") != std::string::npos)
            why = " is a negative wait";
        if (!why.empty())
            lines.push_back(fail("settings", std::string(key) + "=" + visibleText(value) + why +
                                                 ": the program uses " + std::to_string(used) + " instead"));
    }
    return lines;
}

CheckLine judgeCheckPoll(const Settings& settings, const RequestFiles& files, platform::ChildProcess& tool);

// One poll with the check's own file names, so that a running copy's files
// stay untouched; removed again afterwards.
CheckLine checkPoll(const Settings& settings)
{
    const std::string item = "poll";
    const std::string pid = platform::currentProcessId();
    // The running copy's names with the check's own ending: its files stay untouched.
    RequestFiles files;
    for (std::string* name : {&files.pollAnswer, &files.ackAnswer, &files.pollHeaders, &files.ackHeaders,
                              &files.header, &files.proxyConfig})
        *name += ".check." + pid;
    struct Cleanup
    {
        std::vector<std::string> paths;
        ~Cleanup()
        {
            for (const auto& path : paths)
                platform::deleteFile(path);
        }
    } cleanup{{settings.AppPath + files.pollAnswer, settings.AppPath + files.header,
               settings.AppPath + files.pollHeaders, settings.AppPath + files.proxyConfig}};
    for (const auto& path : cleanup.paths)
        platform::deleteFile(path);

    std::string secretsError;
    if (!prepareSecretFiles(settings, files, secretsError))
        return fail(item, secretsError + ": check that the program directory is writable");
    platform::LaunchResult launch =
        std::move(CommandRunner(settings.AppPath)
                      .RunThis(curlToolPath(settings), pollParameters(settings, files, true))
                      .launch);
    if (!launch.started)
        return fail(item, "could not start " + curlToolPath(settings) + " (error " +
                              std::to_string(launch.code) +
                              "): set CurlPath in movik.ini to curl's directory");
    // A tool started without a handle (a Linux curl under Wine) cannot be
    // watched: it gets the program's own wait, and the answer alone is judged.
    const bool ended =
        launch.process.waitFor(launch.process.known() ? CheckPollBoundMs : pollWaitBoundMs(settings));
    if (launch.process.known() && !ended) {
        launch.process.end();
        return fail(item, "no answer within " + std::to_string(CheckPollBoundMs / 1000) +
                              " s: check CurlURL, ProxyServer and the network");
    }
    return judgeCheckPoll(settings, files, launch.process);
}

// What the check's poll brought: curl's exit status, the HTTP status and
// the answer, judged as the cycle judges them.
CheckLine judgeCheckPoll(const Settings& settings, const RequestFiles& files, platform::ChildProcess& tool)
{
    const std::string item = "poll";
    std::string headers;
    std::string answer;
    std::string error;
    bool missing = false;
    platform::readWholeFile(settings.AppPath + files.pollHeaders, headers, missing, error);
    const ResponseHead head = readResponseHead(headers);
    if (tool.known() && tool.exitStatus() != 0) {
        const int status = tool.exitStatus();
        if (status == 56 && head.status != 0 && !isSuccessStatus(head.status))
            return fail(item, "the proxy " + proxyForLog(settings.ProxyServer) +
                                  " refused the tunnel (HTTP " + std::to_string(head.status) +
                                  "): check ProxyServer in movik.ini");
        return fail(item, curlExitText(status, proxyForLog(settings.ProxyServer)) + ": " +
                              toolAdvice(status, !settings.ProxyServer.empty()));
    }
    if (!platform::readWholeFile(settings.AppPath + files.pollAnswer, answer, missing, error) && !missing)
        return fail(item, "the answer could not be read: " + error);
    if (!isSuccessStatus(head.status))
        return fail(item, httpFailureText(head, !settings.ProxyServer.empty(), answer));
    const std::string httpText = "HTTP " + std::to_string(head.status);
    if (!isVisitorList(answer))
        return fail(item, httpText + " but not a visitor list: " + answerExcerpt(answer) +
                              ": check CurlURL and ProxyServer");
    int visitors = 0;
    scanVisitorRecords(answer, [&visitors](const VisitorRecord&) { ++visitors; });
    return pass(item, httpText + ", a visitor list with " + std::to_string(visitors) + " waiting visitor" +
                          (visitors == 1 ? "" : "s") + " (nothing imported or acknowledged)");
}

} // namespace

std::string checkLineText(const CheckLine& line)
{
    return std::string(line.warning ? "WARN " : line.pass ? "PASS " : "FAIL ") + line.item + ": " + line.text;
}

SetupFindings readSetup(const std::string& appPath)
{
    SetupFindings found;
    found.appPath = appPath;
    found.started = loadStartup(appPath, found.settings, found.startError, found.key);
    found.aliasRead = readDatabaseAlias(appPath + "aliases.ini", DortexConnection::aliasName, found.alias,
                                        found.aliasError);
    found.directoryRefusal = programDirectoryRefusal(appPath);
    return found;
}

std::vector<CheckLine> checkSettings(const SetupFindings& found)
{
    const Settings& settings = found.settings;
    const std::string ini = found.appPath + "movik.ini";
    std::vector<CheckLine> lines;
    if (!platform::fileExists(ini))
        lines.push_back(fail("settings", ini + " not found: create it with a section [Options] holding "
                                               "CurlURL=<the visitor service's address>"));
    else if (settings.CurlURL == "/")
        lines.push_back(
            fail("settings", "CurlURL is not set in " + ini + ": set it to the visitor service's address"));
    else if (std::vector<CheckLine> wrong = checkSettingValues(ini, settings); !wrong.empty())
        lines = std::move(wrong);
    else
        lines.push_back(pass("settings", ini + " read" + savedAs(ini) + ", CurlURL " + settings.CurlURL));
    for (const CheckLine& warning : settingsWarnings(ini, settings))
        lines.push_back(warning);
    return lines;
}

std::vector<CheckLine> checkProgramDirectory(const SetupFindings& found)
{
    // Where the program refuses to run; there the check sends nothing
    // either, so the token never leaves.
    if (found.directoryRefusal.empty())
        return {};
    return {fail("program directory", found.directoryRefusal)};
}

std::vector<CheckLine> checkTransferTool(const SetupFindings& found)
{
    const std::string tool = curlToolPath(found.settings);
    if (platform::fileExists(tool))
        return {pass("transfer tool", tool)};
    return {fail("transfer tool", tool + " not found: set CurlPath in movik.ini to curl's directory")};
}

std::vector<CheckLine> checkKeyFile(const SetupFindings& found)
{
    const std::string keyFile = found.appPath + "_$wak";
    const std::string& key = found.settings.ApiKey;
    if (!found.started)
        return {fail("key file", keyFile + " could not be read: " + found.startError)};
    if (!found.key.found)
        return {fail("key file", keyFile + " not found: put the visitor service's token into it")};
    if (!found.key.refusal.empty())
        return {fail("key file",
                     keyFile + ": " + visibleText(found.key.refusal) + ": keep the token on one line")};
    if (key.empty())
        return {fail("key file", keyFile + " is empty: put the visitor service's token into it")};
    return {pass("key file",
                 "a token of " + std::to_string(key.size()) + " characters" + savedAs(found.key.encoding))};
}

std::vector<CheckLine> checkAlias(const SetupFindings& found)
{
    const DatabaseAlias& alias = found.alias;
    if (!found.aliasRead)
        return {fail("database alias", found.aliasError + ": see docs/database.md")};
    return {pass("database alias", std::string(DortexConnection::aliasName) + ": " +
                                       driverName(alias.driver) +
                                       (alias.driver == AliasDriver::Odbc ? "" : " " + alias.database) +
                                       savedAs(alias.encoding))};
}

std::vector<CheckLine> checkCredentials(const SetupFindings& found)
{
    std::string user;
    std::string password;
    const std::string credentials = found.appPath + "morvane.tab";
    if (ReadDbCredentials(user, password, credentials))
        return {pass("credentials", credentials + " read, user " + visibleText(user))};
    if (found.aliasRead && found.alias.driver == AliasDriver::Sqlite)
        return {pass("credentials", credentials + " not found (an SQLite database needs none)")};
    // Windows authentication, or a login inside the data source: the file
    // would not be used.
    if (found.aliasRead && !found.alias.hasUserName)
        return {pass("credentials", credentials + " not found (the alias has no User Name)")};
    return {fail("credentials", credentials + " not found or unreadable: write it with movik-mktab")};
}

std::vector<CheckLine> checkDatabase(const SetupFindings& found)
{
    // Opened as start-up opens it.
    DortexDatabase database;
    std::string error;
    std::string tried;
    if (!database.SQLDB_Connect(found.appPath, error, tried))
        return {fail("database", visibleText(error) + (tried.empty() ? "" : " / " + visibleText(tried)) +
                                     ": fix aliases.ini or morvane.tab")};
    // A card number no visitor can carry: the check must find no row.
    bool failed = false;
    database.RunSQL("select * from cards where card_number='--movik-check--'", true, failed);
    if (failed)
        return {fail("database",
                     "opened, but table cards cannot be read: " + visibleText(database.lastErrorText()))};
    return {pass("database", "opened, table cards read")};
}

std::vector<CheckLine> checkPollItem(const SetupFindings& found)
{
    if (!found.directoryRefusal.empty())
        return {fail("poll", "not sent: MOVIK does not run in this program directory")};
    return {checkPoll(found.settings)};
}

std::vector<CheckLine> runSetupCheck(const std::string& appPath)
{
    using Check = std::vector<CheckLine> (*)(const SetupFindings&);
    static const Check checks[] = {checkSettings, checkProgramDirectory, checkTransferTool, checkKeyFile,
                                   checkAlias,    checkCredentials,      checkDatabase,     checkPollItem};
    std::vector<CheckLine> lines;
    LogSilence silence;
    try {
        const SetupFindings found = readSetup(appPath);
        for (const Check check : checks)
            for (CheckLine& line : check(found))
                lines.push_back(std::move(line));
    } catch (const std::exception& e) {
        lines.push_back(fail("check", std::string("stopped: ") + e.what()));
    }
    return lines;
}

int printSetupCheck(const std::string& appPath, std::ostream& out)
{
    bool all = true;
    for (const auto& line : runSetupCheck(appPath)) {
        out << checkLineText(line) << '\n';
        all = all && line.pass;
    }
    out.flush();
    return all ? 0 : 1;
}

} // namespace movik
