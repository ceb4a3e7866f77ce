// The window's logic driven through a view that records what it was told: the
// timer discipline, start-up and the "Automatic Poll" start state, the
// operator display and the status light's explanation. It builds without Qt,
// so the Windows program's logic is tested under Wine too.
#include "app/MainWindowLogic.h"
#include "AnsweredTool.h"
#include "RecordingImport.h"
#include "ScriptedLogic.h"
#include "TempDir.h"
#include "app/ImportJournal.h"
#include "app/PollCycle.h"
#include "core/Settings.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/resource.h>
#endif

using namespace movik;
using namespace movik::test;

namespace {

class RecordingView : public MainWindowView
{
public:
    void appendLine(const std::string& line) override { lines.push_back(line); }
    void clearLines() override { lines.clear(); }
    void setLight(const StatusLightView& shown) override { light = shown; }
    bool automaticPoll() const override { return ticked; }
    void setAutomaticPoll(bool value) override { ticked = value; }
    void setTimerEnabled(bool enabled) override
    {
        timerOn = enabled;
        ++timerChanges;
    }
    // A close request that comes in the middle of a cycle, when armed.
    void deliverStopRequests() override
    {
        if (closeDuringCycle && logic != nullptr) {
            closeDuringCycle = false;
            logic->closeRequested();
        }
    }
    void closeWindow() override { closed = logic != nullptr && logic->closeRequested(); }

    std::vector<std::string> lines;
    StatusLightView light;
    bool ticked = false;
    bool timerOn = false;
    int timerChanges = 0;
    MainWindowLogic* logic = nullptr;
    bool closeDuringCycle = false;
    bool closed = false;
};

class WindowLogic : public testing::Test
{
protected:
    MainWindowLogic& create()
    {
        m_logic.reset();
        m_logic = std::make_unique<ScriptedLogic>(m_view, m_database);
        m_logic->logic.FormCreate(m_dir.path());
        return m_logic->logic;
    }

    int count(const std::string& messages, const std::string& prefix)
    {
        int n = 0;
        for (const std::string& line : splitLines(messages))
            n += line.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }

    TempDir m_dir;
    RecordingView m_view;
    RecordingImport m_database;
    std::unique_ptr<ScriptedLogic> m_logic;
};

const std::regex lastPollAt(".* Last poll: [0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.");

} // namespace

TEST_F(WindowLogic, TimerIsOffDuringACycleAndOnAfter)
{
    MainWindowLogic& logic = create();
    EXPECT_FALSE(m_view.timerOn) << "the timer waits for the window to be shown";
    logic.FormShow();
    EXPECT_TRUE(m_view.timerOn);

    std::vector<bool> timerDuringCycle;
    m_logic->cycle.step = [&] { timerDuringCycle.push_back(m_view.timerOn); };
    logic.Timer1Timer();
    EXPECT_TRUE(timerDuringCycle.empty()) << "no cycle while Automatic Poll is off";
    EXPECT_TRUE(m_view.timerOn);

    m_view.ticked = true;
    const int changesBefore = m_view.timerChanges;
    logic.Timer1Timer();
    logic.Timer1Timer();
    EXPECT_EQ(timerDuringCycle, std::vector<bool>({false, false}));
    EXPECT_TRUE(m_view.timerOn);
    EXPECT_EQ(m_view.timerChanges - changesBefore, 4) << "stopped and started again around each cycle";

    logic.FormClose();
    EXPECT_FALSE(m_view.timerOn);
    logic.Timer1Timer();
    EXPECT_FALSE(m_view.timerOn) << "a tick already queued at closing starts no further cycle";
    EXPECT_EQ(timerDuringCycle.size(), 3u);
}

TEST_F(WindowLogic, ACloseDuringACycleEndsItAfterTheVisitorInHandAndClosesAfterIt)
{
    MainWindowLogic& logic = create();
    m_view.logic = &logic;
    m_view.ticked = true;
    std::vector<bool> goOn;
    OperatorWindow& display = m_logic->display;
    m_logic->cycle.step = [&] {
        display.takeStopRequests();
        goOn.push_back(!display.stopRequested());
        m_view.closeDuringCycle = true;
        display.takeStopRequests();
        goOn.push_back(!display.stopRequested());
        EXPECT_FALSE(m_view.closed) << "not while the cycle runs";
    };
    logic.Timer1Timer();
    EXPECT_EQ(goOn, (std::vector<bool>{true, false}));
    EXPECT_TRUE(m_view.closed) << "closed once the cycle returned";
    EXPECT_FALSE(m_view.timerOn);
    EXPECT_EQ(count(logMessages(m_dir), "--- MOVIK stopped ---"), 1);
}

TEST_F(WindowLogic, StartUpOpensTheDatabaseAndTicksAutomaticPoll)
{
    writeFile(m_dir.file("movik.ini"), "[Options]\r\nAutoPoll=1\r\n");
    writeFile(m_dir.file("_$wak"), "token\r\n");
    create();
    EXPECT_EQ(m_logic->settings.AppPath, m_dir.path());
    EXPECT_EQ(m_logic->settings.ApiKey, "token");
    EXPECT_EQ(m_database.connects, 1);
    EXPECT_TRUE(m_view.ticked);
    const std::string messages = logMessages(m_dir);
    EXPECT_EQ(count(messages, "<FCr>"), 0) << messages;

    m_logic.reset();
    writeFile(m_dir.file("movik.ini"), "[options]\nautopoll=0\n");
    m_view.ticked = true;
    create();
    EXPECT_FALSE(m_view.ticked);
}

TEST_F(WindowLogic, FailedStartUpSkipsTheDatabase)
{
    writeFile(m_dir.file("movik.ini"), "[Options]\r\nAutoPoll=1\r\n");
    std::filesystem::create_directory(m_dir.file("_$wak"));
    MainWindowLogic& logic = create();
    const std::string messages = logMessages(m_dir);
    EXPECT_EQ(count(messages, "<FCr>"), 1) << messages;
    EXPECT_EQ(m_database.connects, 0);
    EXPECT_TRUE(m_view.ticked) << "the settings read before the failure still hold";
    logic.FormShow();
    EXPECT_TRUE(m_view.timerOn) << "the window still polls";
}

TEST_F(WindowLogic, TheCyclesDisplayReachesTheView)
{
    MainWindowLogic& logic = create();
    m_logic->display.appendLine("> Updating Card: 1234");
    m_logic->display.appendLine("  OK");
    EXPECT_EQ(m_view.lines, std::vector<std::string>({"> Updating Card: 1234", "  OK"}));
    logic.Button4Click();
    EXPECT_TRUE(m_view.lines.empty());
}

TEST_F(WindowLogic, LightSaysWhatItsColourMeansAndWhenThePollRan)
{
    MainWindowLogic& logic = create();
    EXPECT_EQ(m_view.light.colour, StatusLight::White);
    EXPECT_EQ(m_view.light.name, "Status: no poll read yet");
    EXPECT_EQ(
        m_view.light.description,
        "White: no answer of the visitor service has been read since the program started. No poll yet.");

    m_view.ticked = true;
    m_logic->cycle.step = [this] { m_logic->display.setStatusLight(StatusLight::Red); };
    logic.Timer1Timer();
    EXPECT_EQ(m_view.light.colour, StatusLight::Red);
    EXPECT_EQ(m_view.light.name, "Status: last poll failed");
    EXPECT_EQ(m_view.light.description.rfind("Red: the last poll failed: no readable answer", 0), 0u)
        << m_view.light.description;
    EXPECT_TRUE(std::regex_match(m_view.light.description, lastPollAt)) << m_view.light.description;

    m_logic->cycle.step = [this] { m_logic->display.setStatusLight(StatusLight::Lime); };
    logic.Timer1Timer();
    EXPECT_EQ(m_view.light.colour, StatusLight::Lime);
    EXPECT_EQ(m_view.light.name, "Status: last poll read");
    EXPECT_EQ(m_view.light.description.rfind(
                  "Lime: the last poll's answer was a visitor list, read to its end.", 0),
              0u);
    EXPECT_TRUE(std::regex_match(m_view.light.description, lastPollAt)) << m_view.light.description;

    // A cycle that leaves the colour alone still moves the time on.
    m_view.light = {};
    m_logic->cycle.step = [] {};
    logic.Timer1Timer();
    EXPECT_EQ(m_view.light.colour, StatusLight::Lime);
    EXPECT_TRUE(std::regex_match(m_view.light.description, lastPollAt)) << m_view.light.description;
}

namespace {

// What keeps the log from taking its lines: something that is no file in
// its place, or (Linux) a file-size limit below the log's size, where every
// write is cut short and a write of nothing still succeeds.
enum class LogFault { Directory, SizeLimit };

class WindowLogicLogFault : public WindowLogic, public testing::WithParamInterface<LogFault>
{
protected:
    void SetUp() override
    {
        if (GetParam() == LogFault::Directory) {
            std::filesystem::create_directory(m_dir.file("MOVIK.log"));
            return;
        }
#ifdef _WIN32
        GTEST_SKIP() << "no file-size limit on Windows";
#else
        writeFile(m_dir.file("MOVIK.log"), std::string(8192, 'x') + "\r\n");
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_limit);
        struct rlimit lower = m_limit;
        lower.rlim_cur = 4096;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lower), 0);
#endif
    }
    void TearDown() override
    {
        mend();
    }
    // The fault goes away.
    void mend()
    {
        if (GetParam() == LogFault::Directory)
            std::filesystem::remove(m_dir.file("MOVIK.log"));
#ifndef _WIN32
        else
            ::setrlimit(RLIMIT_FSIZE, &m_limit);
#endif
    }

#ifndef _WIN32
    struct rlimit m_limit = {};
#endif
};

} // namespace

TEST_P(WindowLogicLogFault, ALogThatCannotBeWrittenIsShownOnceWithARedLight)
{
    create();
    ASSERT_FALSE(m_view.lines.empty());
    EXPECT_EQ(m_view.lines[0].rfind(m_dir.file("MOVIK.log") + " cannot be written (", 0), 0u)
        << m_view.lines[0];
    EXPECT_EQ(m_view.lines.size(), 1u) << "once, not once a line";
    EXPECT_EQ(m_view.light.colour, StatusLight::Red);

    // Red after every cycle while it lasts, and said so in the status and the
    // light's description, even after a good answer.
    MainWindowLogic& logic = m_logic->logic;
    const std::string answer = m_dir.file("answer");
    writeFile(answer, "[]");
    m_view.ticked = true;
    // The real cycle over the logic's own parts, handed a good answer.
    ImportJournal journal;
    VisitorService service(m_logic->settings);
    PollCycle cycle(m_logic->settings, service, m_database, journal, m_logic->reporter, m_logic->statusWriter,
                    m_logic->display);
    m_logic->cycle.step = [&] { cycle.DecodeVListFromFile(answer, answeredWith(200)); };
    logic.Timer1Timer();
    logic.Timer1Timer();
    EXPECT_EQ(m_view.light.colour, StatusLight::Red);
    EXPECT_EQ(m_view.lines.size(), 1u) << "still once";
    EXPECT_NE(m_view.light.description.find(" The log cannot be written: " + m_dir.file("MOVIK.log")),
              std::string::npos)
        << m_view.light.description;
    EXPECT_NE(
        readFile(m_dir.file("movik.status")).find("\nlog=failed\nlog_reason=" + m_dir.file("MOVIK.log")),
        std::string::npos);

    // Once it works again, the log says since when it did not.
    mend();
    logic.Timer1Timer();
    EXPECT_EQ(m_view.light.colour, StatusLight::Lime);
    logic.FormClose();
    EXPECT_EQ(count(logMessages(m_dir), m_dir.file("MOVIK.log") + " could not be written from "), 1)
        << logMessages(m_dir);
}

INSTANTIATE_TEST_SUITE_P(Faults, WindowLogicLogFault,
                         testing::Values(LogFault::Directory, LogFault::SizeLimit), [](const auto& info) {
                             return std::string(info.param == LogFault::Directory ? "Directory"
                                                                                  : "SizeLimit");
                         });
