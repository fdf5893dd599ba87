#include "server/data/history.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstring>

#include "common/text.h"

namespace tw::server {

namespace {

constexpr char kTimeFormat[] = "yyyy-MM-ddTHH:mm:ss";
// Where the head of a mailing's line ends. Inside a JSON string every quote is escaped, so
// the sequence cannot occur in the text before it.
constexpr char kClientsKey[] = ",\"clients\":[";

const char* outcomeToken(DeliveryState state) {
    switch (state) {
        case DeliveryState::None:
            return "noNews";
        case DeliveryState::Delivered:
            return "delivered";
        case DeliveryState::Confirmed:
            return "confirmed";
        case DeliveryState::NotDelivered:
            return "notDelivered";
        case DeliveryState::Active:
            return "answered";
    }
    return "other";
}

void appendString(QByteArray& out, const QString& s) {
    std::string json;
    tw::appendJsonString(json, s.toStdString());
    out.append(json.data(), static_cast<qsizetype>(json.size()));
}

void appendCounts(QByteArray& out, const MailingCounts& c) {
    out += "\"counts\":{\"confirmed\":" + QByteArray::number(c.confirmed) +
           ",\"delivered\":" + QByteArray::number(c.delivered) +
           ",\"notDelivered\":" + QByteArray::number(c.notDelivered) +
           ",\"waiting\":" + QByteArray::number(c.waiting) +
           ",\"total\":" + QByteArray::number(c.total) + '}';
}

void appendClientFields(QByteArray& out, const MailingClient& c) {
    out += "\"name\":";
    appendString(out, c.name);
    out += ",\"address\":";
    appendString(out, c.address);
    out += ",\"state\":" + QByteArray::number(bitsOf(c.state)) + ",\"outcome\":\"" +
           outcomeToken(c.state) + "\",\"time\":";
    appendString(out, c.reportTime);
}

MailingCounts countsFrom(const QJsonObject& o) {
    MailingCounts c;
    c.confirmed = o.value(QStringLiteral("confirmed")).toInt();
    c.delivered = o.value(QStringLiteral("delivered")).toInt();
    c.notDelivered = o.value(QStringLiteral("notDelivered")).toInt();
    c.waiting = o.value(QStringLiteral("waiting")).toInt();
    c.total = o.value(QStringLiteral("total")).toInt();
    return c;
}

MailingClient clientFrom(const QJsonObject& o) {
    MailingClient c;
    c.name = o.value(QStringLiteral("name")).toString();
    c.address = o.value(QStringLiteral("address")).toString();
    c.state = static_cast<DeliveryState>(o.value(QStringLiteral("state")).toInt());
    c.reportTime = o.value(QStringLiteral("time")).toString();
    return c;
}

void readHead(const QJsonObject& o, QString& rootId, QDateTime& time, QString& text,
              QString& transport) {
    rootId = o.value(QStringLiteral("rootId")).toString();
    time = QDateTime::fromString(o.value(QStringLiteral("time")).toString(),
                                 QString::fromLatin1(kTimeFormat));
    text = o.value(QStringLiteral("text")).toString();
    transport = o.value(QStringLiteral("transport")).toString();
}

// Calls `line(bytes, offset)` for every line of the file from byte `from` on, mapped rather
// than read, so a long history costs no copy of itself.
template <class F>
void forEachLine(const std::filesystem::path& file, qint64 from, F line) {
    QFile f(QString::fromStdString(file.string()));
    if (!f.open(QIODevice::ReadOnly) || f.size() <= from || from < 0) return;
    const qint64 size = f.size() - from;
    const uchar* data = f.map(from, size);
    QByteArray whole;
    if (!data) {  // a file that cannot be mapped is read instead
        if (!f.seek(from)) return;
        whole = f.readAll();
        data = reinterpret_cast<const uchar*>(whole.constData());
    }
    const char* begin = reinterpret_cast<const char*>(data);
    const char* p = begin;
    const char* end =
        p + (data == reinterpret_cast<const uchar*>(whole.constData()) ? whole.size() : size);
    while (p < end) {
        const auto* nl =
            static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        const char* stop = nl ? nl : end;
        if (stop > p) line(QByteArrayView(p, stop - p), from + (p - begin));
        p = stop + 1;
    }
}

bool isUpdate(QByteArrayView line) { return line.startsWith("{\"update\":"); }

QJsonObject parseObject(QByteArrayView bytes) {
    const QJsonDocument doc = QJsonDocument::fromJson(bytes.toByteArray());
    return doc.isObject() ? doc.object() : QJsonObject();
}

}  // namespace

void MailingCounts::add(DeliveryState state) {
    ++total;
    switch (state) {
        case DeliveryState::None:
            ++waiting;
            break;
        case DeliveryState::Delivered:
            ++delivered;
            break;
        case DeliveryState::Confirmed:
            ++confirmed;
            break;
        case DeliveryState::NotDelivered:
            ++notDelivered;
            break;
        default:
            break;
    }
}

MailingCounts MailingRecord::counts() const {
    MailingCounts c;
    for (const auto& client : clients) c.add(client.state);
    return c;
}

QByteArray mailingLine(const MailingRecord& m) {
    QByteArray out;
    out.reserve(256 + static_cast<qsizetype>(m.clients.size()) * 96);
    out += "{\"rootId\":";
    appendString(out, m.rootId);
    out += ",\"time\":";
    appendString(out, m.time.toString(QString::fromLatin1(kTimeFormat)));
    out += ",\"transport\":";
    appendString(out, m.transport);
    out += ",\"text\":";
    appendString(out, m.text);
    out += ',';
    appendCounts(out, m.counts());
    out += kClientsKey;
    for (std::size_t i = 0; i < m.clients.size(); ++i) {
        if (i) out += ',';
        out += '{';
        appendClientFields(out, m.clients[i]);
        out += '}';
    }
    out += "]}\n";
    return out;
}

QByteArray lateReportLine(const QString& rootId, int ordinal, const MailingClient& client,
                          const MailingCounts& counts) {
    QByteArray out = "{\"update\":";
    appendString(out, rootId);
    out += ",\"client\":" + QByteArray::number(ordinal) + ',';
    appendClientFields(out, client);
    out += ',';
    appendCounts(out, counts);
    out += "}\n";
    return out;
}

bool appendHistory(const std::filesystem::path& file, const QByteArray& line) {
    QFile f(QString::fromStdString(file.string()));
    if (!f.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) return false;
    // A line cut short by a crash or a full disk must not swallow the next one.
    QByteArray whole;
    if (f.size() > 0 && f.seek(f.size() - 1)) {
        char last = '\n';
        if (f.getChar(&last) && last != '\n') whole += '\n';
    }
    whole += line;
    // One write at the end of the file: a late report appended by the listener at the same
    // moment lands before or after this line, never inside it.
    return f.write(whole) == whole.size();
}

std::vector<MailingSummary> readHistoryList(const std::filesystem::path& file) {
    std::vector<MailingSummary> list;
    QHash<QString, std::size_t> byRoot;
    forEachLine(file, 0, [&](QByteArrayView line, qint64 offset) {
        if (isUpdate(line)) {
            const QJsonObject o = parseObject(line);
            const auto it = byRoot.constFind(o.value(QStringLiteral("update")).toString());
            if (it != byRoot.constEnd())
                list[*it].counts = countsFrom(o.value(QStringLiteral("counts")).toObject());
            return;
        }
        const qsizetype head = line.indexOf(QByteArrayView(kClientsKey));
        if (head < 0) return;
        QByteArray bytes = line.first(head).toByteArray();
        bytes += '}';
        const QJsonObject o = parseObject(bytes);
        if (o.isEmpty()) return;
        MailingSummary s;
        readHead(o, s.rootId, s.time, s.text, s.transport);
        s.counts = countsFrom(o.value(QStringLiteral("counts")).toObject());
        s.offset = offset;
        byRoot.insert(s.rootId, list.size());
        list.push_back(std::move(s));
    });
    return list;
}

std::optional<MailingRecord> readMailing(const std::filesystem::path& file, const QString& rootId,
                                         qint64 from) {
    std::optional<MailingRecord> found;
    QByteArray id;
    appendString(id, rootId);
    const QByteArray mailingStart = "{\"rootId\":" + id + ',';
    const QByteArray updateStart = "{\"update\":" + id + ',';
    forEachLine(file, from, [&](QByteArrayView line, qint64) {
        if (line.startsWith(mailingStart)) {
            const QJsonObject o = parseObject(line);
            if (o.isEmpty()) return;
            MailingRecord m;
            readHead(o, m.rootId, m.time, m.text, m.transport);
            for (const auto& c : o.value(QStringLiteral("clients")).toArray())
                m.clients.push_back(clientFrom(c.toObject()));
            found = std::move(m);  // the same id sent twice in one second: the later counts
        } else if (found && line.startsWith(updateStart)) {
            const QJsonObject o = parseObject(line);
            const int ordinal = o.value(QStringLiteral("client")).toInt(-1);
            if (ordinal >= 0 && static_cast<std::size_t>(ordinal) < found->clients.size())
                found->clients[static_cast<std::size_t>(ordinal)] = clientFrom(o);
        }
    });
    return found;
}

QString stateWord(DeliveryState state, const InterfaceTexts& texts) {
    switch (state) {
        case DeliveryState::None:
            return texts[Text::NoNews];
        case DeliveryState::Delivered:
            return texts[Text::Delivered];
        case DeliveryState::Confirmed:
            return texts[Text::Confirmed];
        case DeliveryState::NotDelivered:
            return texts[Text::NotDelivered];
        case DeliveryState::Active:
            return texts[Text::Answered];
    }
    return QString::number(bitsOf(state));
}

QByteArray mailingCsv(const MailingRecord& m, const InterfaceTexts& texts) {
    const auto field = [](QString s) {
        if (!s.isEmpty() && QStringLiteral("=+-@\t\r").contains(s.front())) s.prepend(u'\'');
        if (s.contains(u',') || s.contains(u'"') || s.contains(u'\n') || s.contains(u'\r')) {
            s.replace(QStringLiteral("\""), QStringLiteral("\"\""));
            s = u'"' + s + u'"';
        }
        return s.toUtf8();
    };
    QByteArray out;
    out += field(texts[Text::ScanName]) + ',' + field(texts[Text::ScanAddress]) + ',' +
           field(texts[Text::HistoryState]) + ',' + field(texts[Text::HistoryReportTime]) + "\r\n";
    for (const auto& c : m.clients) {
        out += field(c.name) + ',' + field(c.address) + ',' + field(stateWord(c.state, texts)) +
               ',' + field(c.reportTime) + "\r\n";
    }
    return out;
}

}  // namespace tw::server
