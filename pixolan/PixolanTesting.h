// Lets tests make newdib fail on purpose, to run the failure paths of its callers. newdib asks
// the installed check before it allocates; production code installs none.
#pragma once

namespace pixolan::testing {

using FailureCheck = bool (*)();
// Replaces the check; null removes it.
void SetNewdibFailureCheck(FailureCheck check);

} // namespace pixolan::testing
