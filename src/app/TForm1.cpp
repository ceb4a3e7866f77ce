#include "TForm1.h"

#include "Decoder.h"
#include "Log.h"
#include "Platform.h"
#include "Settings.h"
#include "Startup.h"
#include "StatusLed.h"
#include "VisitorService.h"

#include <QCheckBox>
#include <QFontInfo>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

#include <exception>

namespace movik {

namespace {

const char* const faceName = "MS Sans Serif";

// The window's face at a character height in pixels (pixels, like every
// position and size on the window). "MS Sans Serif" exists only on Windows;
// elsewhere DejaVu Sans stands in, which at the same height runs about an
// eighth wider and would clip "Automatic Poll" in its 97-pixel box, so it is
// drawn semi-condensed.
QFont windowFont(int characterHeight)
{
    QFont::insertSubstitution(faceName, "DejaVu Sans");
    QFont font(faceName);
    font.setPixelSize(characterHeight);
    if (QFontInfo(font).family() != faceName)
        font.setStretch(QFont::SemiCondensed);
    return font;
}

} // namespace

TForm1::TForm1() : TForm1(platform::executableDirectory()) {}

TForm1::TForm1(const std::string& appPath)
{
    createParts();
    m_pollCycle = [this] { runPollCycle(); };
    setOperatorDisplay(this);
    FormCreate(appPath);
    CheckBox1->setChecked(settings().AutoPoll != 0);
}

TForm1::~TForm1()
{
    setOperatorDisplay(nullptr);
}

void TForm1::createParts()
{
    setObjectName("Form1");
    setWindowTitle("ZUN Visitor - Dortex Interface");
    // The window was laid out on Windows as 552 x 388 outside, a client area
    // of 544 x 361 inside a 4-pixel frame and a 19-pixel title bar. The parts
    // are placed in client pixels, so here the client area keeps that size
    // and the window manager adds whatever frame it draws; the position is
    // that of the outer corner, as on Windows.
    resize(544, 361);
    move(192, 125);
    setFont(windowFont(11));

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setGeometry(16, 16, 505, 289);
    Memo1->setFont(windowFont(21));
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setTabChangesFocus(true);
    // Months of unattended polling would otherwise grow it without bound.
    Memo1->setMaximumBlockCount(memoLineLimit);
    QPalette memoPalette = Memo1->palette();
    memoPalette.setColor(QPalette::Text, Qt::black);
    Memo1->setPalette(memoPalette);

    Button4 = new QPushButton("Clear", this);
    Button4->setObjectName("Button4");
    Button4->setGeometry(432, 312, 75, 25);
    connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);

    CheckBox1 = new QCheckBox("Automatic Poll", this);
    CheckBox1->setObjectName("CheckBox1");
    CheckBox1->setGeometry(320, 312, 97, 17);

    Status_LED = new StatusLed(this);
    Status_LED->setObjectName("Status_LED");
    Status_LED->setGeometry(24, 312, 17, 17);

    setTabOrder(Memo1, Button4);
    setTabOrder(Button4, CheckBox1);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(3000);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
}

void TForm1::FormCreate(const std::string& appPath)
{
    try {
        std::string error;
        if (!loadStartup(appPath, error)) {
            // The database is then not even named: statements fail until the next start.
            WriteLog(LogAlways, "<FCr>" + error);
            return;
        }
        m_database.SQLDB_Connect();
    } catch (const std::exception& e) {
        WriteLog(LogAlways, std::string("<FCr>") + e.what());
    }
}

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_shown && !event->spontaneous()) {
        m_shown = true;
        FormShow();
    }
}

void TForm1::FormShow()
{
    Timer1->start();
}

void TForm1::Button4Click()
{
    Memo1->clear();
}

void TForm1::Timer1Timer()
{
    // Stopped for the whole cycle and started again after it, so cycles never
    // overlap and the next tick comes 3000 ms after this one ends.
    Timer1->stop();
    if (CheckBox1->isChecked())
        m_pollCycle();
    Timer1->start();
}

void TForm1::runPollCycle()
{
    // A database that could not be reached costs one connect timeout per
    // cycle, not one per waiting visitor.
    m_database.beginCycle();
    PollZUNVList();
    platform::sleepMs(500);
    DecodeVListFromFile(settings().AppPath + "_$WAVL", m_database);
}

void TForm1::setPollCycle(std::function<void()> cycle)
{
    m_pollCycle = std::move(cycle);
}

void TForm1::appendLine(const std::string& line)
{
    Memo1->appendPlainText(QString::fromLocal8Bit(line));
}

void TForm1::setStatusLight(StatusLight colour)
{
    Status_LED->setLight(colour);
}

} // namespace movik
