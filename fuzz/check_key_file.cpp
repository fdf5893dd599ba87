#include <QByteArray>
#include <string>
#include <vector>

#include "common/auth.h"
#include "common/packets.h"
#include "fuzz/checks.h"

namespace tw::fuzz {

namespace {

std::size_t keySize(auth::KeyKind kind) { return kind == auth::KeyKind::OperatorSecret ? 64 : 32; }

std::string canonicalText(const auth::Key& key) {
    const QByteArray bytes(reinterpret_cast<const char*>(key.bytes.data()),
                           static_cast<qsizetype>(key.bytes.size()));
    return std::string(auth::keyHeader(key.kind)) + '\n' + bytes.toBase64().toStdString() + '\n';
}

}  // namespace

std::string checkKeyFile(Bytes input) {
    const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
    int readAs = 0;
    for (const auth::KeyKind kind :
         {auth::KeyKind::OperatorSecret, auth::KeyKind::OperatorPublic, auth::KeyKind::Office}) {
        const std::string what = auth::keyHeader(kind);
        const auth::KeyResult r = auth::parseKeyText(text, kind, "key");
        if (r.key.has_value() != (r.fault == auth::KeyFault::None) ||
            r.key.has_value() == (r.error.rfind("key: ", 0) == 0))
            return what + ": a key and a fault at once, or neither";
        if (r.fault == auth::KeyFault::WrongKind && r.found == kind)
            return what + ": the wrong kind named as the kind asked for";
        if (!r.key) continue;
        ++readAs;
        if (r.key->kind != kind || r.key->bytes.size() != keySize(kind))
            return what + ": a key of the wrong size was taken";
        // What was read is what the file says: written out as a key file it reads back alike.
        const auth::KeyResult again = auth::parseKeyText(canonicalText(*r.key), kind, "key");
        if (!again.key || again.key->bytes != r.key->bytes)
            return what + ": the key does not read back from its own file text";
        if (kind == auth::KeyKind::OperatorSecret) {
            // A secret key that was taken signs what its own public half accepts.
            const auth::Key pub{auth::KeyKind::OperatorPublic,
                                {r.key->bytes.begin() + 32, r.key->bytes.end()}};
            const std::vector<std::uint8_t> record(kMessagePacketSize, 0x41);
            auth::ReplayGuard guard;
            const std::uint64_t now = 1796900000000;
            if (auth::verify(auth::sign(record, *r.key, now), record.size(), pub, guard, now) !=
                auth::Verdict::Ok)
                return what + ": a key was taken whose signatures do not verify";
        }
    }
    if (readAs > 1) return "one text read as keys of two kinds";
    return {};
}

}  // namespace tw::fuzz
