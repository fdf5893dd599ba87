#pragma once
// The end of a mailing and the waiting time before it.
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "server/data/client_tree.h"
#include "server/data/config.h"
#include "server/data/texts.h"

namespace tw::server::engine {

// The waiting time of a mailing in milliseconds: Timer in the unit of Measure. Empty for a
// number that names no unit: the previous interval stays. Negative times count as 0 and
// times beyond what a timer can hold are cut to its maximum.
std::optional<int> waitingInterval(std::int32_t timer, TimeUnit measure);

struct MailingEnd {
    QString summary;           // one "name\t= status\r\n" line per checked client
    std::vector<int> changed;  // tree items whose image changed
};

// With the clients lock held: every checked client without news becomes "Not delivered", and the
// summary lists every checked client with its state.
MailingEnd finishMailing(ClientTree& tree, const InterfaceTexts& texts);

}  // namespace tw::server::engine
