#pragma once

#include <cstdint>
#include <vector>

namespace vorsa {

class TRaVInetChecker;

// The flags that harvesting, validation and the window share. Owned by the main window's
// module, touched on the main thread only.
struct SharedState {
    bool Busy = false;            // a harvest or a validation run is in progress
    bool CheckAfterDown = false;  // validate when the harvest ends
    bool StopFlag = false;        // issue no further checks; the next completion finalises
    bool CheckDone = false;       // the current run is finalised; later completions are dropped
    std::int32_t PendingChecks = 0;
    // The checker last started for each grid row; slot 0 is never used.
    std::vector<TRaVInetChecker*> Checkers;
};

}  // namespace vorsa
