#include "core/OperatorDisplay.h"

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
    if (g_display)
        g_display->appendLine(line);
}

void showStatusLight(StatusLight colour)
{
    if (g_display)
        g_display->setStatusLight(colour);
}

} // namespace movik
