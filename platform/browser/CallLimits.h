// The time limit of each call to the engine. It is read by the connection's reader thread (to
// expire calls nobody waits on) as well as by the UI thread, so it lives in an atomic.
#pragma once

namespace browser::engine {

// The time limit for each call to the engine (30 s unless changed); at least 1 ms.
void setCallTimeoutMs(int ms);
int callTimeoutMs();
// How long the window waits for a capture before asking whether the page still answers; 0 (the
// default) gives a capture a second and a half and more for a large one (see
// PageSession::captureLimitMs).
void setCaptureLimitMs(int ms);
int captureLimitMs();

} // namespace browser::engine
