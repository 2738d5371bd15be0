// The time limit of each call to the engine. It is read by the connection's reader thread (to
// expire calls nobody waits on) as well as by the UI thread, so it lives in an atomic.
#pragma once

namespace browser::engine {

// The time limit for each call to the engine (30 s unless changed); at least 1 ms.
void setCallTimeoutMs(int ms);
int callTimeoutMs();

} // namespace browser::engine
