// The top rung of the fixture ladder for the Qt window: the real window in
// this process over a site, with the program's own access-control
// database, "Automatic Poll" ticked, and a tick of Timer1 at the test's call.
#pragma once

#include "LaunchedChildren.h"
#include "TempDir.h"
#include "app/Program.h"
#include "app/qt/StatusLed.h"
#include "app/qt/TForm1.h"
#include "db/DortexDatabase.h"

#include <QCheckBox>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

namespace movik::test {

class SiteWindow
{
public:
    // With waitForTools, each cycle returns once the tools it started have
    // ended, so that the next starts from a quiet service.
    explicit SiteWindow(const TempDir& site, bool waitForTools = false)
        : program(form, database), m_waitForTools(waitForTools)
    {
        form.start(program.logic(), site.path());
        form.findChild<QCheckBox*>("CheckBox1")->setChecked(true);
    }
    std::string memo() const { return form.findChild<QPlainTextEdit*>("Memo1")->toPlainText().toStdString(); }
    QColor light() const { return form.findChild<StatusLed*>("Status_LED")->fill(); }
    void cycle()
    {
        form.Timer1Timer();
        if (m_waitForTools) {
            ASSERT_TRUE(waitForLaunchedChildren());
        }
    }

    DortexDatabase database;
    TForm1 form;
    Program program;

private:
    bool m_waitForTools;
};

inline const QColor lime(0, 255, 0);
inline const QColor red(255, 0, 0);

} // namespace movik::test
