// The two requests to the visitor service, made by starting the transfer
// tool: the poll (answer "_$WAVL") and the acknowledgement (answer "_$WAVL2").
#pragma once

#include <string>

namespace movik {

// Deletes the old poll answer and starts the tool for a new one; returns at once.
void PollZUNVList();

// Acknowledges visitor id; waits AckWaitMSec, then reads the answer into
// response. True when the answer contains "Deleted".
bool RemoveFromVisitorList(const std::string& id, std::string& response);

} // namespace movik
