// The main window on the offscreen platform: its parts, start-up, the
// operator's services and the timer discipline of the poll cycle.
#include "app/qt/TForm1.h"
#include "ScriptedLogic.h"
#include "TempDir.h"
#include "app/qt/StatusLed.h"
#include "core/Settings.h"
#include "db/DortexDatabase.h"

#include <QCheckBox>
#include <QFontInfo>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <ostream>
#include <vector>

using namespace movik;
using namespace movik::test;

// Readable texts in failure messages.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

class Form1Test : public testing::Test
{
protected:
    // Creates the window for the temporary program directory, which runs start-up there.
    TForm1& create()
    {
        // One window at a time, as in the program: the old one must be gone
        // before the new one opens its connection.
        m_logic.reset();
        m_form.reset();
        m_form = std::make_unique<TForm1>();
        m_logic = std::make_unique<ScriptedLogic>(*m_form, m_database);
        m_form->start(m_logic->logic, m_dir.path());
        return *m_form;
    }

    TForm1& createShown()
    {
        create().show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
        return *m_form;
    }

    template <class Part> Part* part(const char* name)
    {
        Part* found = m_form->findChild<Part*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    QPlainTextEdit* memo() { return part<QPlainTextEdit>("Memo1"); }
    QTimer* timer() { return part<QTimer>("Timer1"); }
    QCheckBox* checkBox() { return part<QCheckBox>("CheckBox1"); }

    // One tick of Timer1, delivered as the timer itself delivers it.
    void tick() { ASSERT_TRUE(QMetaObject::invokeMethod(timer(), "timeout")); }

    QColor lightFill() { return part<StatusLed>("Status_LED")->grab().toImage().pixelColor(8, 8); }

    TempDir m_dir;
    DortexDatabase m_database;
    std::unique_ptr<TForm1> m_form;
    std::unique_ptr<ScriptedLogic> m_logic;
};

// Log messages, one per line, that start with prefix.
std::vector<std::string> linesStartingWith(const std::string& messages, const std::string& prefix)
{
    std::vector<std::string> found;
    for (const std::string& line : splitLines(messages))
        if (line.rfind(prefix, 0) == 0)
            found.push_back(line);
    return found;
}

} // namespace

TEST_F(Form1Test, WindowAndPartsAsLaidOut)
{
    TForm1& form = create();
    EXPECT_EQ(form.objectName(), "Form1");
    EXPECT_EQ(form.windowTitle(), "ZUN Visitor - Dortex Interface");
    EXPECT_EQ(form.pos(), QPoint(192, 125));
    EXPECT_EQ(form.size(), QSize(544, 361)) << "client area of the 552 x 388 window";

    EXPECT_EQ(memo()->geometry(), QRect(16, 16, 505, 289));
    auto* button = part<QPushButton>("Button4");
    EXPECT_EQ(button->geometry(), QRect(432, 312, 75, 25));
    EXPECT_EQ(button->text(), "Clear");
    EXPECT_EQ(checkBox()->geometry(), QRect(320, 312, 97, 17));
    EXPECT_EQ(checkBox()->text(), "Automatic Poll");
    EXPECT_EQ(part<StatusLed>("Status_LED")->geometry(), QRect(24, 312, 17, 17));
    EXPECT_EQ(timer()->interval(), 3000);
}

TEST_F(Form1Test, InitialStates)
{
    TForm1& form = create();
    QPlainTextEdit* memo1 = memo();
    EXPECT_TRUE(memo1->toPlainText().isEmpty());
    EXPECT_FALSE(memo1->isReadOnly());
    EXPECT_EQ(memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(memo1->palette().color(QPalette::Text), QColor(0, 0, 0));
    EXPECT_EQ(QFontInfo(memo1->font()).pixelSize(), 21);
    EXPECT_EQ(QFontInfo(form.font()).pixelSize(), 11);

    EXPECT_FALSE(checkBox()->isChecked());
    EXPECT_EQ(lightFill(), QColor(255, 255, 255));
    EXPECT_FALSE(timer()->isActive()) << "the timer waits for the window to be shown";
}

TEST_F(Form1Test, ShowingEnablesTheTimer)
{
    createShown();
    EXPECT_TRUE(timer()->isActive());
    EXPECT_EQ(timer()->interval(), 3000);
}

TEST_F(Form1Test, TabGoesMemoButtonCheckBox)
{
    TForm1& form = createShown();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    memo()->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), memo());

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), part<QPushButton>("Button4"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), checkBox());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), memo());
    EXPECT_TRUE(memo()->toPlainText().isEmpty()) << "Tab moves on instead of typing a tab";
}

// "MS Sans Serif" is missing here; whatever stands in must leave every caption
// whole inside its control at the window's sizes.
TEST_F(Form1Test, CaptionsFitTheirControls)
{
    create();
    QCheckBox* box = checkBox();
    QStyleOptionButton boxOption;
    boxOption.initFrom(box);
    boxOption.text = box->text();
    const QRect boxText = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &boxOption, box);
    EXPECT_LE(box->fontMetrics().horizontalAdvance(box->text()), boxText.width());
    EXPECT_LE(box->fontMetrics().height(), boxText.height());

    QPushButton* button = part<QPushButton>("Button4");
    QStyleOptionButton buttonOption;
    buttonOption.initFrom(button);
    buttonOption.text = button->text();
    const QRect buttonText =
        button->style()->subElementRect(QStyle::SE_PushButtonContents, &buttonOption, button);
    EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()), buttonText.width());
    EXPECT_LE(button->fontMetrics().height(), buttonText.height());
}

TEST_F(Form1Test, ClearEmptiesTheTextAreaOnly)
{
    createShown();
    m_form->appendLine("first");
    m_form->appendLine("second");
    const std::string logBefore = readFile(m_dir.file("MOVIK.log"));
    ASSERT_FALSE(logBefore.empty());

    QTest::mouseClick(part<QPushButton>("Button4"), Qt::LeftButton);
    EXPECT_TRUE(memo()->toPlainText().isEmpty());
    EXPECT_EQ(readFile(m_dir.file("MOVIK.log")), logBefore);

    m_form->appendLine("next");
    EXPECT_EQ(memo()->toPlainText(), "next") << "the next line starts at the top";
}

TEST_F(Form1Test, TextAreaKeepsTheNewestLines)
{
    create();
    const int total = memoLineLimit + 3;
    for (int i = 0; i < total; ++i)
        m_form->appendLine("line " + std::to_string(i));
    QTextDocument* document = memo()->document();
    EXPECT_EQ(document->blockCount(), memoLineLimit);
    EXPECT_EQ(document->firstBlock().text(), "line 3");
    EXPECT_EQ(document->lastBlock().text(), QString::fromStdString("line " + std::to_string(total - 1)));
}

// What the timer, start-up and a close mean is the window logic's; here,
// that the Qt window carries it out: the timer off and the text area not
// drawn during a cycle, the box as the settings say, the window up after a
// failed start-up, and the timer stopped at closing.
TEST_F(Form1Test, TheWindowFollowsTheCycleStartUpAndClose)
{
    writeFile(m_dir.file("movik.ini"), "[Options]\r\nAutoPoll=1\r\n");
    std::filesystem::create_directory(m_dir.file("_$wak"));
    TForm1& form = createShown();
    EXPECT_EQ(linesStartingWith(logMessages(m_dir), "<FCr>").size(), 1u) << logMessages(m_dir);
    EXPECT_TRUE(checkBox()->isChecked());
    EXPECT_TRUE(form.isVisible()) << "the window still comes up";
    std::vector<bool> duringCycle;
    m_logic->cycle.step = [&] {
        m_logic->display.appendLine("> Updating Card: 1");
        duringCycle.push_back(timer()->isActive());
        duringCycle.push_back(memo()->viewport()->updatesEnabled());
    };
    tick();
    EXPECT_EQ(duringCycle, std::vector<bool>({false, false}));
    EXPECT_TRUE(timer()->isActive());
    EXPECT_EQ(timer()->interval(), 3000);
    EXPECT_TRUE(memo()->viewport()->updatesEnabled());
    EXPECT_EQ(memo()->document()->lastBlock().text(), "> Updating Card: 1");
    checkBox()->setChecked(false);
    tick();
    EXPECT_EQ(duringCycle.size(), 2u) << "no cycle while Automatic Poll is off";

    form.close();
    EXPECT_FALSE(timer()->isActive());
}

TEST_F(Form1Test, LightExplainsItselfAndTheWindowHasAnIcon)
{
    TForm1& form = create();
    auto* led = part<StatusLed>("Status_LED");
    EXPECT_EQ(led->accessibleName(), "Status: no poll read yet");
    EXPECT_TRUE(led->toolTip().startsWith("White: ")) << led->toolTip().toStdString();
    EXPECT_TRUE(led->toolTip().endsWith(" No poll yet.")) << led->toolTip().toStdString();
    EXPECT_EQ(led->accessibleDescription(), led->toolTip());

    checkBox()->setChecked(true);
    m_logic->cycle.step = [this] { m_logic->display.setStatusLight(StatusLight::Red); };
    tick();
    EXPECT_EQ(lightFill(), QColor(255, 0, 0));
    EXPECT_EQ(led->accessibleName(), "Status: last poll failed");
    EXPECT_TRUE(led->toolTip().startsWith("Red: ")) << led->toolTip().toStdString();
    EXPECT_TRUE(led->toolTip().contains(" Last poll: ")) << led->toolTip().toStdString();
    EXPECT_EQ(led->accessibleDescription(), led->toolTip());

    ASSERT_FALSE(form.windowIcon().isNull());
    EXPECT_TRUE(form.windowIcon().availableSizes().contains(QSize(64, 64)));
}
