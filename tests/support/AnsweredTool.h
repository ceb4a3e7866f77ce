// The outcome of a poll's tool as a test hands it to the cycle with an
// answer file of its own: curl ended well and the service answered status.
#pragma once

#include "service/VisitorService.h"

namespace movik::test {

inline ToolOutcome answeredWith(int status = 200)
{
    ToolOutcome tool;
    tool.state = ToolOutcome::State::Exited;
    tool.exitStatus = 0;
    tool.response.status = status;
    return tool;
}

} // namespace movik::test
