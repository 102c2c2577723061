#pragma once
// Looks at processes by id from tests (to see that a grandchild really ended).

namespace orvik_test {

// True when the process `pid` has ended within `timeoutMs` (an ended child or grandchild
// of ours is reaped on the way, so no zombie stays behind).
bool waitProcessGone(long pid, int timeoutMs);

// Makes this process the reaper of its orphaned descendants (Linux; no-op on Windows), so
// that tests can see their grandchildren end.
void becomeSubreaper();

}  // namespace orvik_test
