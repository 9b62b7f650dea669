#pragma once
// The one feedback channel of long runs (query, conversion, export, information scan): the
// caller is asked whether to stop and is shown how far the run has come. Each run's observer
// derives from it and adds what only that run reports.

namespace tervalo {

class TRueckmeldung {
public:
    virtual ~TRueckmeldung() = default;
    // Polled between lines or records. Lets the caller handle its events; true ends the run
    // as cancelled (the user confirmed). Runs that cannot be cancelled never ask.
    virtual bool CancelCheck() { return false; }
    // One step of the busy picture: `step` is the picture index 0..7 to show.
    virtual void BusyStep(int step) { (void)step; }
};

}  // namespace tervalo
