#include "cli/cli.h"

#include <algorithm>
#include <limits>
#include <ostream>

#include "common/addresses.h"
#include "common/text.h"

namespace tw::cli {

namespace {

void line(std::ostream& out, std::string_view text) { out << text << '\n'; }

// Prints an "Unknown ..." style error: its own line feed, then the usage text.
int failWithUsage(std::ostream& out, std::string_view message) {
    line(out, std::string(message) + "\n");
    line(out, usageText());
    return -1;
}

std::string stripOuterQuotes(std::string_view s) {
    const auto first = s.find_first_not_of('"');
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of('"');
    return std::string(s.substr(first, last - first + 1));
}

enum class Opt {
    Address,
    Text,
    Port,
    Mode,
    Language,
    KeyFile,
    GenerateKeys,
    Version,
    Help,
    Unknown
};

Opt optionFor(std::string_view name) {
    struct Entry {
        std::string_view shortName, longName;
        Opt opt;
    };
    static constexpr Entry kTable[] = {
        {"-a", "--address", Opt::Address},
        {"-t", "--text", Opt::Text},
        {"-p", "--port", Opt::Port},
        {"-m", "--mode", Opt::Mode},
        {"-l", "--language", Opt::Language},
        {"-k", "--key-file", Opt::KeyFile},
        {"-g", "--generate-keys", Opt::GenerateKeys},
        {"-v", "--version", Opt::Version},
        {"-h", "--help", Opt::Help},
    };
    for (const auto& e : kTable)
        if (name == e.shortName || name == e.longName) return e.opt;
    return Opt::Unknown;
}

}  // namespace

std::string usageText() {
    return "Usage: tellwick_cli [OPTION]...\nTry 'tellwick_cli --help' for more information.";
}

std::string helpText() {
    return "  -a, --address=a1,a2,a3-a4...  list of addresses or ranges, separated by comma\n"
           "  -t, --text=\"Line1|Line2\"      text to send\n"
           "  -p, --port=[NUM]              remote client port to connect. Default: 47127\n"
           "  -m, --mode=tcp|udp            connection mode: tcp|udp. Default: udp\n"
           "  -l, --language=ru|en          language of client UI: ru|en. Default: ru\n"
           "  -k, --key-file=PATH           sign every packet with this operator key\n"
           "  -g, --generate-keys=DIR       write new operator.key, operator.pub, office.key\n"
           "  -v, --version                 show version info\n"
           "  -h, --help                    print this help\n"
           "\n"
           "examples:\n"
           "tellwick_cli -a 127.0.0.1 -t \"test message|line 2\"\n"
           "tellwick_cli -a 10.0.0.1-10.0.0.5,localhost,10.0.1.5-10.0.1.20 -t \"test message\"\n"
           "tellwick_cli -a test-pc,10.0.1.5-10.0.1.6 -t \"test message\" -m tcp -l en -p 48000\n"
           "tellwick_cli --address=127.0.0.1 --text=\"test message|line 2\"";
}

std::string versionText() {
    return "tellwick_cli (Tellwick CLI) " TELLWICK_VERSION
           "\n"
           "Copyright (C) 2026 the Tellwick developers.\n"
           "License MIT: free to use, change and redistribute, with NO WARRANTY.\n"
           "Written by the Tellwick developers.";
}

long long numericValue(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        // Stop growing well past any port: the value only has to stay out of range.
        if (value < 1'000'000'000) value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

ParseOutcome parseArguments(const std::vector<std::string>& args, std::ostream& out) {
    ParseOutcome r;
    // No arguments, or an empty first one, reads as an empty option: the usage text, exit 0.
    if (args.empty() || args.front().empty()) {
        line(out, usageText());
        return r;
    }
    Options& o = r.options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.empty()) continue;  // an empty word from a script carries no option
        std::string name, value;
        if (arg.starts_with("--")) {
            const auto eq = arg.find('=');
            name = arg.substr(0, eq);
            if (eq != std::string::npos) value = arg.substr(eq + 1);
        } else if (arg.starts_with('-')) {
            name = arg;
            if (i + 1 < args.size()) value = args[i + 1];
            ++i;  // the value is taken even when it is missing or looks like an option
        } else {
            r.exitCode = failWithUsage(out, "Unknown parameter: " + arg);
            return r;
        }

        switch (optionFor(name)) {
            case Opt::Address:
                o.addressList = value;
                ++o.requiredSeen;
                break;
            case Opt::Text: {
                std::string text = stripOuterQuotes(value);
                std::replace(text.begin(), text.end(), '|', '\n');
                o.text = std::move(text);
                ++o.requiredSeen;
                break;
            }
            case Opt::Port: {
                const long long port = numericValue(value);
                if (port < 0 || port > 65535) {
                    r.exitCode = failWithUsage(out, "Incorrect port: " + value);
                    return r;
                }
                o.port = static_cast<int>(port);
                break;
            }
            case Opt::Mode:
                if (value == "tcp")
                    o.mode = static_cast<int>(Transport::Tcp);
                else if (value == "udp")
                    o.mode = static_cast<int>(Transport::Udp);
                else {
                    r.exitCode = failWithUsage(out, "Unknown protocol: " + value);
                    return r;
                }
                break;
            case Opt::Language:
                if (value == "ru")
                    o.language = "RU";
                else if (value == "en")
                    o.language = "EN";
                else {
                    r.exitCode = failWithUsage(out, "Unknown language: " + value);
                    return r;
                }
                break;
            case Opt::KeyFile:
                o.keyFile = value;
                break;
            case Opt::GenerateKeys: {
                // A job of its own: the keys are made and the program ends, nothing is sent.
                const std::string error = auth::generateKeys(value);
                if (!error.empty()) {
                    line(out, "Cannot generate keys: " + error);
                    r.exitCode = -1;
                    return r;
                }
                line(out, "Keys written to " + value + ": operator.key, operator.pub, office.key");
                return r;
            }
            case Opt::Version:
                line(out, versionText());
                return r;
            case Opt::Help:
                line(out, helpText());
                return r;
            case Opt::Unknown:
                r.exitCode = failWithUsage(out, "Unknown parameter: " + name);
                return r;
        }
    }
    r.send = true;
    return r;
}

ListResult expandAddressList(std::string_view list, std::vector<std::string>& out,
                             std::size_t limit) {
    // The command line's rules: an empty item is a mistake, and the whole list is judged and
    // counted before anything is produced.
    addr::ListRules rules;
    rules.skipEmptyItems = false;
    rules.judgeWholeListFirst = true;
    rules.maxListAddresses = limit;
    switch (addr::expandAddressList(list, rules, out).status) {
        case addr::ListStatus::Ok:
            return ListResult::Ok;
        case addr::ListStatus::TooMany:
            return ListResult::TooMany;
        default:
            return ListResult::BadAddress;
    }
}

std::optional<int> progressPercent(std::size_t i, std::size_t n) {
    const std::size_t total = n + 1;
    const std::size_t step = (total + 9) / 10;
    if (i == 0 || i % step != 0) return std::nullopt;
    // i / total * 100 rounded to the nearest integer, halves upwards, in integers.
    return static_cast<int>((200 * i + total) / (2 * total));
}

MessagePacket buildPacket(const Options& options, std::string_view sender,
                          std::u16string_view msgRootId) {
    MessagePacket p;
    p.language = utf8ToUtf16(options.language.empty() ? "RU" : options.language);
    p.serverName = utf8ToUtf16(sender);
    p.msgRootId = msgRootId;
    p.msgGuid = msgRootId;                  // no GUID of its own: reports are never asked for
    p.msgText = utf8ToUtf16(options.text);  // the field rule cuts it to 500 units
    p.systemMessage = 0;
    return p;
}

Outgoing::Outgoing(std::vector<std::uint8_t> record, std::optional<auth::Key> key)
    : record_(std::move(record)), key_(std::move(key)) {}

std::span<const std::uint8_t> Outgoing::next() {
    if (!key_) return record_;
    signed_ = auth::sign(record_, *key_, auth::nowMs());
    return signed_;
}

int run(const std::vector<std::string>& args, std::ostream& out, const SendFunction& send,
        std::string_view sender) {
    const SendAllFunction oneByOne = [&send](const std::vector<std::string>& hosts, int port,
                                             Transport mode, Outgoing& bytes,
                                             const std::function<void(std::size_t)>& started) {
        for (std::size_t i = 0; i < hosts.size(); ++i) {
            started(i);
            send(hosts[i], port, mode, bytes.next());
        }
    };
    return run(args, out, oneByOne, sender);
}

int run(const std::vector<std::string>& args, std::ostream& out, const SendAllFunction& sendAll,
        std::string_view sender) {
    const ParseOutcome parsed = parseArguments(args, out);
    if (!parsed.send) return parsed.exitCode;
    const Options& o = parsed.options;
    const int port = o.port == 0 ? kDefaultClientPort : o.port;
    const Transport mode = o.mode == 0 ? Transport::Udp : static_cast<Transport>(o.mode);

    if (o.requiredSeen != 2) {
        line(out, "Insufficient number of parameters.\n");
        line(out, usageText());
        return -1;
    }

    std::vector<std::string> addresses;
    switch (expandAddressList(o.addressList, addresses)) {
        case ListResult::Ok:
            break;
        case ListResult::BadAddress:
            line(out, "\nIncorrect address: check address parameter.");
            return -1;
        case ListResult::TooMany:
            line(out, "\nToo many addresses: at most " + std::to_string(kMaxAddresses) +
                          " can be sent at once.");
            return -1;
    }

    // A key that cannot be used ends the run before anything is sent: falling back to
    // unsigned packets would leave keyed workstations dropping them without anyone knowing.
    std::optional<auth::Key> key;
    if (o.keyFile) {
        auth::KeyResult read = auth::readKeyFile(*o.keyFile, auth::KeyKind::OperatorSecret);
        if (!read.key) {
            line(out, "Cannot use the key file: " + read.error);
            return -1;
        }
        key = std::move(read.key);
    }

    const auto record = buildPacket(o, sender, makeMsgRootId()).serialize();
    Outgoing bytes(std::vector<std::uint8_t>(record.begin(), record.end()), std::move(key));
    out << "Sending... 0%" << std::endl;
    sendAll(addresses, port, mode, bytes, [&](std::size_t i) {
        if (const auto percent = progressPercent(i + 1, addresses.size()))
            out << "Sending... " << *percent << '%' << std::endl;
    });
    out << "Sending finished." << std::endl;
    return 0;
}

}  // namespace tw::cli
