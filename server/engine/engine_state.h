#pragma once
// The life of the server's engine as one state machine. Every change of what the engine is
// doing goes through transition(), so that what may follow what is written down in one place
// (engine_state.cpp) instead of being spread over flags.
#include <optional>

namespace tw::server::engine {

enum class EngineState {
    Idle,
    Sending,          // a mailing's pass runs, and so does its waiting time
    SendingPastWait,  // the waiting time ended (summary written) while the pass still runs
    Waiting,          // the pass is over; the summary waits for the end of the waiting time,
                      // or, after the operator stopped the pass, for whatever comes next
    Probing,          // a check of working clients counts down
    Scanning,         // a new-clients scan counts down; its collector gathers the answers
    Finishing,        // a check or scan has counted down; its probe pass is still under way
    Closing,          // the window closes: nothing starts any more
};

enum class EngineEvent {
    Send,            // the operator starts a mailing
    Stop,            // the operator stops the running pass
    PassEnded,       // the pass of the current job has ended by itself
    WaitEnded,       // the waiting time of the mailing ran out
    Check,           // the operator starts a check of working clients
    Scan,            // the operator starts a new-clients scan
    CountdownEnded,  // the check's or the scan's countdown reached zero
    Close,           // the window closes
};

// The state after `event` in state `from`; nothing when the event is not allowed there (the
// engine then refuses the request or ignores the news).
std::optional<EngineState> transition(EngineState from, EngineEvent event);

// For debug lines and test messages.
const char* stateName(EngineState state);
const char* eventName(EngineEvent event);

}  // namespace tw::server::engine
