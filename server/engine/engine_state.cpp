#include "server/engine/engine_state.h"

namespace tw::server::engine {

std::optional<EngineState> transition(EngineState from, EngineEvent event) {
    using S = EngineState;
    using E = EngineEvent;
    if (from == S::Closing) return std::nullopt;
    if (event == E::Close) return S::Closing;
    switch (from) {
        case S::Idle:
        case S::Waiting:
            // A waiting mailing is closed with its summary before anything new starts.
            switch (event) {
                case E::Send:
                    return S::Sending;
                case E::Check:
                    return S::Probing;
                case E::Scan:
                    return S::Scanning;
                case E::WaitEnded:
                    if (from == S::Waiting) return S::Idle;
                    return std::nullopt;
                default:
                    return std::nullopt;
            }
        case S::Sending:
            switch (event) {
                // A stopped mailing keeps its summary open until the next job or the close.
                case E::Stop:
                case E::PassEnded:
                    return S::Waiting;
                case E::WaitEnded:
                    return S::SendingPastWait;
                default:
                    return std::nullopt;
            }
        case S::SendingPastWait:
            if (event == E::Stop || event == E::PassEnded) return S::Idle;
            return std::nullopt;
        case S::Probing:
        case S::Scanning:
            if (event == E::CountdownEnded) return S::Finishing;
            return std::nullopt;
        case S::Finishing:
            if (event == E::PassEnded) return S::Idle;
            return std::nullopt;
        case S::Closing:
            break;
    }
    return std::nullopt;
}

const char* stateName(EngineState state) {
    switch (state) {
        case EngineState::Idle:
            return "Idle";
        case EngineState::Sending:
            return "Sending";
        case EngineState::SendingPastWait:
            return "SendingPastWait";
        case EngineState::Waiting:
            return "Waiting";
        case EngineState::Probing:
            return "Probing";
        case EngineState::Scanning:
            return "Scanning";
        case EngineState::Finishing:
            return "Finishing";
        case EngineState::Closing:
            return "Closing";
    }
    return "?";
}

const char* eventName(EngineEvent event) {
    switch (event) {
        case EngineEvent::Send:
            return "Send";
        case EngineEvent::Stop:
            return "Stop";
        case EngineEvent::PassEnded:
            return "PassEnded";
        case EngineEvent::WaitEnded:
            return "WaitEnded";
        case EngineEvent::Check:
            return "Check";
        case EngineEvent::Scan:
            return "Scan";
        case EngineEvent::CountdownEnded:
            return "CountdownEnded";
        case EngineEvent::Close:
            return "Close";
    }
    return "?";
}

}  // namespace tw::server::engine
