// Waiting for the processes the launcher started, so that a test can look at
// what they left behind without guessing how long they take.
#pragma once

namespace movik::test {

// Reaps until every child the launcher started has ended; false when some
// are still running after timeoutMs (a hang guard, not a measurement).
bool waitForLaunchedChildren(int timeoutMs = 60000);

} // namespace movik::test
