// The program's one window: the operator's text area and status light, the
// "Automatic Poll" switch, and the timer that drives the poll cycle. Creating
// it starts the program up; everything after start-up happens in its timer.
#pragma once

#include "DortexDatabase.h"
#include "OperatorDisplay.h"

#include <QWidget>

#include <functional>
#include <string>

class QCheckBox;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace movik {

class StatusLed;

class TForm1 : public QWidget, public OperatorDisplay
{
    Q_OBJECT
public:
    // Starts up in the directory of the running executable.
    TForm1();
    // Starts up in the program directory appPath (ending with the separator).
    explicit TForm1(const std::string& appPath);
    ~TForm1() override;

    // Newest lines the text area keeps; the log file keeps everything.
    static constexpr int memoLineLimit = 5000;

    void appendLine(const std::string& line) override;
    void setStatusLight(StatusLight colour) override;

    // Replaces what a tick does while "Automatic Poll" is ticked, so a cycle
    // can be watched from inside without the visitor service.
    void setPollCycle(std::function<void()> cycle);

    // One tick of Timer1: a poll cycle when "Automatic Poll" is ticked.
    void Timer1Timer();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void createParts();
    void FormCreate(const std::string& appPath);
    void FormShow();
    void Button4Click();
    void runPollCycle();

    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button4 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    StatusLed* Status_LED = nullptr;
    QTimer* Timer1 = nullptr;
    // Database1 and Query1.
    DortexDatabase m_database;

    std::function<void()> m_pollCycle;
    bool m_shown = false;
};

} // namespace movik
