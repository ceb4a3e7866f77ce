// An operator display that keeps what it was shown, so tests can read the
// lines that went to Memo1.
#pragma once

#include "core/OperatorDisplay.h"

#include <string>
#include <vector>

namespace movik::test {

class RecordingDisplay : public OperatorDisplay
{
public:
    void appendLine(const std::string& line) override { m_lines.push_back(line); }
    void setStatusLight(StatusLight colour) override { m_lights.push_back(colour); }

    const std::vector<std::string>& lines() const { return m_lines; }
    const std::vector<StatusLight>& lights() const { return m_lights; }

private:
    std::vector<std::string> m_lines;
    std::vector<StatusLight> m_lights;
};

} // namespace movik::test
