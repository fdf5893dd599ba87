// The engine's life as a table: every state against every event.
#include "server/engine/engine_state.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <utility>

using tw::server::engine::EngineEvent;
using tw::server::engine::EngineState;
using tw::server::engine::eventName;
using tw::server::engine::stateName;
using tw::server::engine::transition;

namespace {

using S = EngineState;
using E = EngineEvent;

constexpr S kStates[] = {S::Idle,    S::Sending,  S::SendingPastWait, S::Waiting,
                         S::Probing, S::Scanning, S::Finishing,       S::Closing};
constexpr E kEvents[] = {E::Send,  E::Stop, E::PassEnded,      E::WaitEnded,
                         E::Check, E::Scan, E::CountdownEnded, E::Close};

// Walks `events` from Idle; the state reached, or nothing when one of them was refused.
std::optional<S> walk(std::initializer_list<E> events) {
    S s = S::Idle;
    for (const E e : events) {
        const auto next = transition(s, e);
        if (!next) return std::nullopt;
        s = *next;
    }
    return s;
}

}  // namespace

// Every pair not named here is refused: a job never starts over another one, and nothing
// follows the close.
TEST(EngineState, onlyTheseTransitionsAreAllowed) {
    const std::map<std::pair<S, E>, S> allowed = {
        {{S::Idle, E::Send}, S::Sending},
        {{S::Idle, E::Check}, S::Probing},
        {{S::Idle, E::Scan}, S::Scanning},
        {{S::Sending, E::Stop}, S::Waiting},
        {{S::Sending, E::PassEnded}, S::Waiting},
        {{S::Sending, E::WaitEnded}, S::SendingPastWait},
        {{S::SendingPastWait, E::Stop}, S::Idle},
        {{S::SendingPastWait, E::PassEnded}, S::Idle},
        {{S::Waiting, E::Send}, S::Sending},
        {{S::Waiting, E::Check}, S::Probing},
        {{S::Waiting, E::Scan}, S::Scanning},
        {{S::Waiting, E::WaitEnded}, S::Idle},
        {{S::Probing, E::CountdownEnded}, S::Finishing},
        {{S::Scanning, E::CountdownEnded}, S::Finishing},
        {{S::Finishing, E::PassEnded}, S::Idle},
    };
    for (const S s : kStates) {
        for (const E e : kEvents) {
            SCOPED_TRACE(std::string(stateName(s)) + " + " + eventName(e));
            const auto got = transition(s, e);
            if (e == E::Close) {
                EXPECT_EQ(got, s == S::Closing ? std::nullopt : std::optional<S>(S::Closing));
                continue;
            }
            const auto it = allowed.find({s, e});
            if (it == allowed.end())
                EXPECT_EQ(got, std::nullopt);
            else
                EXPECT_EQ(got, it->second);
        }
    }
}

TEST(EngineState, jobsEndInIdleWhicheverOfTheirPartsEndsFirst) {
    const struct {
        const char* what;
        std::initializer_list<E> events;
        std::optional<S> end;
    } cases[] = {
        {"pass, then waiting time", {E::Send, E::PassEnded, E::WaitEnded}, S::Idle},
        {"waiting time, then pass", {E::Send, E::WaitEnded, E::PassEnded}, S::Idle},
        {"stopped: the summary waits", {E::Send, E::Stop}, S::Waiting},
        {"stopped after the waiting time", {E::Send, E::WaitEnded, E::Stop}, S::Idle},
        {"a new mailing after a stopped one", {E::Send, E::Stop, E::Send}, S::Sending},
        {"a check after a mailing's pass", {E::Send, E::PassEnded, E::Check}, S::Probing},
        {"check", {E::Check, E::CountdownEnded, E::PassEnded}, S::Idle},
        {"scan", {E::Scan, E::CountdownEnded, E::PassEnded}, S::Idle},
        {"no mailing while a check counts down", {E::Check, E::Send}, std::nullopt},
        {"no scan while a check's probe runs",
         {E::Check, E::CountdownEnded, E::Scan},
         std::nullopt},
        {"no check while a mailing is sent", {E::Send, E::Check}, std::nullopt},
        {"nothing after the close", {E::Send, E::Close, E::Stop}, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(walk(c.events), c.end) << c.what;
}
