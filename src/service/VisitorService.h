// The two requests to the visitor service, made by starting the transfer
// tool: the poll (answer "_$WAVL") and the acknowledgement (answer "_$WAVL2").
#pragma once

#include <string>

namespace movik {

struct Settings;

// Deletes the old poll answer and starts the tool for a new one; returns at once.
void PollZUNVList();

// Acknowledges visitor id; waits AckWaitMSec, then reads the answer into
// response. True when the answer contains "Deleted".
bool RemoveFromVisitorList(const std::string& id, std::string& response);

// The tool's command lines for the two requests. Split by the Windows C
// runtime's rules they give the tool its arguments in order; id is the raw
// text the list carried between its quotes and goes into the body unescaped.
std::string pollParameters(const Settings& s);
std::string ackParameters(const Settings& s, const std::string& id);

} // namespace movik
