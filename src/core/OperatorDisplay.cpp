#include "OperatorDisplay.h"

#include "StringUtil.h"

namespace movik {

namespace {
OperatorDisplay* g_display = nullptr;
}

void setOperatorDisplay(OperatorDisplay* display)
{
    g_display = display;
}

void showOperatorLine(const std::string& line)
{
    // Laying out one line of megabytes would hold the window for minutes.
    if (g_display)
        g_display->appendLine(boundedLines(line));
}

void showStatusLight(StatusLight colour)
{
    if (g_display)
        g_display->setStatusLight(colour);
}

} // namespace movik
