#include "server/engine/mailing.h"

#include <algorithm>
#include <limits>

namespace tw::server::engine {

std::optional<int> waitingInterval(std::int32_t timer, TimeUnit measure) {
    std::int64_t unit = 0;
    switch (measure) {
        case TimeUnit::Seconds:
            unit = 1000;
            break;
        case TimeUnit::Minutes:
            unit = 60000;
            break;
        case TimeUnit::Hours:
            unit = 3600000;
            break;
        default:
            return std::nullopt;
    }
    const std::int64_t ms = std::max<std::int64_t>(timer, 0) * unit;
    return static_cast<int>(std::min<std::int64_t>(ms, std::numeric_limits<int>::max()));
}

MailingEnd finishMailing(ClientTree& tree, const InterfaceTexts& texts) {
    MailingEnd end;
    auto& list = tree.records();
    for (std::size_t i = 0; i < list.size(); ++i) {
        ClientRecord& r = list[i];
        if (r.folder || r.checkMark != CheckMark::Checked) continue;
        QString status;
        switch (r.deliveryState) {
            case DeliveryState::None: {
                const auto up =
                    tree.updateUpwards(static_cast<int>(i), DeliveryState::NotDelivered);
                end.changed.insert(end.changed.end(), up.begin(), up.end());
                status = texts[Text::NotDelivered];
                break;
            }
            case DeliveryState::Delivered:
                status = texts[Text::Delivered] + QLatin1Char(' ') + texts[Text::In] +
                         QLatin1Char(' ') + r.reportTime;
                break;
            case DeliveryState::Confirmed:
                status = texts[Text::Confirmed] + QLatin1Char(' ') + texts[Text::In] +
                         QLatin1Char(' ') + r.reportTime;
                break;
            case DeliveryState::NotDelivered:
                status = texts[Text::NotDelivered];
                break;
            default:
                break;  // a check's answer has no wording of its own
        }
        end.summary += r.name + QStringLiteral("\t= ") + status + QStringLiteral("\r\n");
    }
    std::sort(end.changed.begin(), end.changed.end());
    end.changed.erase(std::unique(end.changed.begin(), end.changed.end()), end.changed.end());
    return end;
}

}  // namespace tw::server::engine
