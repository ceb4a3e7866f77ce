#include "app/qt/TForm1.h"

#include "app/qt/StatusLed.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontInfo>
#include <QIcon>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

// The icon is compiled into this static library; its resources must be
// registered by name before the first lookup.
static void initWindowResources()
{
    Q_INIT_RESOURCE(movik);
}

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

TForm1::TForm1()
{
    createParts();
}

TForm1::~TForm1() = default;

void TForm1::start(MainWindowLogic& logic, const std::string& appPath)
{
    m_logic = &logic;
    m_logic->FormCreate(appPath);
}

void TForm1::createParts()
{
    initWindowResources();
    setObjectName("Form1");
    setWindowTitle("ZUN Visitor - Dortex Interface");
    setWindowIcon(QIcon(":/icons/movik.png"));
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
    connect(Button4, &QPushButton::clicked, this, [this] {
        if (m_logic != nullptr)
            m_logic->Button4Click();
    });

    CheckBox1 = new QCheckBox("Automatic Poll", this);
    CheckBox1->setObjectName("CheckBox1");
    CheckBox1->setGeometry(320, 312, 97, 17);
    connect(CheckBox1, &QCheckBox::clicked, this, [this] {
        if (m_logic != nullptr)
            m_logic->CheckBox1Click();
    });

    Status_LED = new StatusLed(this);
    Status_LED->setObjectName("Status_LED");
    Status_LED->setGeometry(24, 312, 17, 17);

    setTabOrder(Memo1, Button4);
    setTabOrder(Button4, CheckBox1);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(Timer1IntervalMs);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
}

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_shown && !event->spontaneous() && m_logic != nullptr) {
        m_shown = true;
        m_logic->FormShow();
    }
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (m_logic != nullptr && !m_logic->closeRequested()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TForm1::Timer1Timer()
{
    // Nothing reaches the screen before the cycle returns to the event loop,
    // yet every line appended would at once scroll Memo1's pixels in the
    // window's backing store, a copy of the whole window per line. Held
    // back, Memo1 is drawn once after the cycle.
    Memo1->setUpdatesEnabled(false);
    m_holdingLines = true;
    if (m_logic != nullptr)
        m_logic->Timer1Timer();
    m_holdingLines = false;
    showHeldLines();
    Memo1->setUpdatesEnabled(true);
}

void TForm1::deliverStopRequests()
{
    // Everything but input: a close of the window or a quit of the
    // application reaches closeEvent, a stop signal its notifier.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TForm1::closeWindow()
{
    close();
}

void TForm1::appendLine(const std::string& line)
{
    // During a cycle nothing is drawn: the lines are laid out together after
    // it, which spares the layout of every line the text area drops again.
    if (m_holdingLines) {
        m_heldLines.push_back(QString::fromLocal8Bit(line));
        if (m_heldLines.size() > memoLineLimit)
            m_heldLines.pop_front();
        return;
    }
    Memo1->appendPlainText(QString::fromLocal8Bit(line));
}

void TForm1::showHeldLines()
{
    if (m_heldLines.isEmpty())
        return;
    Memo1->appendPlainText(m_heldLines.join(QLatin1Char('\n')));
    m_heldLines.clear();
}

void TForm1::clearLines()
{
    m_heldLines.clear();
    Memo1->clear();
}

void TForm1::setLight(const StatusLightView& light)
{
    Status_LED->setLight(light.colour);
    const QString description = QString::fromLocal8Bit(light.description);
    Status_LED->setToolTip(description);
    Status_LED->setAccessibleName(QString::fromLocal8Bit(light.name));
    Status_LED->setAccessibleDescription(description);
}

bool TForm1::automaticPoll() const
{
    return CheckBox1->isChecked();
}

void TForm1::setAutomaticPoll(bool ticked)
{
    CheckBox1->setChecked(ticked);
}

void TForm1::setTimerEnabled(bool enabled)
{
    if (enabled)
        Timer1->start();
    else
        Timer1->stop();
}

} // namespace movik
