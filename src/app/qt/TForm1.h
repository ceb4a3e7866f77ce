// The program's window in Qt: the operator's text area and status light, the
// "Automatic Poll" switch, "Clear", and the timer that drives the poll cycle.
// It only draws and forwards; MainWindowLogic decides.
#pragma once

#include "app/MainWindowLogic.h"
#include "app/MainWindowView.h"

#include <QStringList>
#include <QWidget>

#include <string>

class QCheckBox;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace movik {

class StatusLed;

class TForm1 : public QWidget, public MainWindowView
{
    Q_OBJECT
public:
    // Creates the window's parts, without showing it.
    TForm1();
    ~TForm1() override;

    // Forwards the window's events to logic from now on, and starts the
    // program up in the program directory appPath (ending with the separator).
    void start(MainWindowLogic& logic, const std::string& appPath);

    void appendLine(const std::string& line) override;
    void clearLines() override;
    void setLight(const StatusLightView& light) override;
    bool automaticPoll() const override;
    void setAutomaticPoll(bool ticked) override;
    void setTimerEnabled(bool enabled) override;
    void deliverStopRequests() override;
    void closeWindow() override;

    // One tick of Timer1.
    void Timer1Timer();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createParts();
    // Appends the lines held back during a cycle.
    void showHeldLines();

    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button4 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    StatusLed* Status_LED = nullptr;
    QTimer* Timer1 = nullptr;

    MainWindowLogic* m_logic = nullptr;
    bool m_shown = false;
    // During a tick's cycle nothing is drawn: its lines are held, the newest
    // memoLineLimit of them.
    bool m_holdingLines = false;
    QStringList m_heldLines;
};

} // namespace movik
