#pragma once
// The clients database: clients.xml read into the clients list (tree order, root first) and
// into the client tree, the conversion of the older clients.ini, the start-up check that the
// file could be created.
#include <QString>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "common/packets.h"
#include "server/data/texts.h"

namespace tw::server {

// What the packets' root-id and GUID fields hold.
inline constexpr int kMessageIdChars = static_cast<int>(kMsgRootIdWidth);
inline constexpr int kMessageGuidChars = static_cast<int>(kMsgGuidWidth);
// The widest range a list may hold; wider ones are refused rather than exhausting memory.
inline constexpr std::size_t kMaxRangeAddresses = 1048576;
inline constexpr char16_t kRootRecordName[] = u"MSG_Broadcast";

// Bounds of a database the program agrees to load; beyond them the load fails with a message
// that names the element and its line, instead of exhausting the stack, the memory or the
// operator's patience.
struct ClientsLimits {
    int maxDepth = 64;                              // element nesting below the document element
    std::size_t maxItems = 2 * kMaxRangeAddresses;  // records of the whole tree, root included
    std::size_t maxRangeAddresses = kMaxRangeAddresses;
    std::size_t maxNameBytes = 4096;  // a name attribute, the text of a key
    std::size_t maxFileBytes = std::size_t{128} << 20;
};

// A record's check mark, as bits: Unchecked = something unchecked, Checked = something
// checked, so a folder over both is Partly. The numbers are those the tree's images use.
enum class CheckMark : std::uint8_t { Unchecked = 1, Checked = 2, Partly = 3 };

// A record's delivery state. A client holds one of the named values, or the byte of a report
// of a kind the server does not know, kept as it came; a folder holds the OR of its
// children's states, so there any combination occurs. The numbers are those of the report
// kinds and of the history file.
enum class DeliveryState : std::uint8_t {
    None = 0,
    Delivered = 1,
    Confirmed = 2,
    NotDelivered = 4,
    Active = 9,
};

// The state a report of `kind` leaves in the records it matches.
constexpr DeliveryState deliveryStateOf(ReportKind kind) {
    return static_cast<DeliveryState>(static_cast<std::uint8_t>(kind));
}

// The bits of a mark or a state, for the tree's combination upwards.
constexpr std::uint8_t bitsOf(CheckMark m) { return static_cast<std::uint8_t>(m); }
constexpr std::uint8_t bitsOf(DeliveryState s) { return static_cast<std::uint8_t>(s); }
constexpr CheckMark operator|(CheckMark a, CheckMark b) {
    return static_cast<CheckMark>(bitsOf(a) | bitsOf(b));
}
constexpr DeliveryState operator|(DeliveryState a, DeliveryState b) {
    return static_cast<DeliveryState>(bitsOf(a) | bitsOf(b));
}
// True when `m` has the bits of `part` (a partly checked folder has Checked and Unchecked).
constexpr bool hasBits(CheckMark m, CheckMark part) { return (bitsOf(m) & bitsOf(part)) != 0; }

// One item of the client tree. Record n of the clients list and tree item n describe the
// same item.
struct ClientRecord {
    QString address;                 // IPv4 text or computer name; empty for folders
    QString name;                    // caption; "MSG_Broadcast" for the root record
    std::uint8_t folder = 0;         // 1 for the root, groups and lists
    CheckMark checkMark = CheckMark::Unchecked;
    std::int32_t parentIndex = -1;   // index of the enclosing folder; -1 for the root
    std::int32_t level = 0;          // 0 for the root, one more per nesting
    QString messageId;               // RootId of the last message, at most 10 characters
    QString messageGuid;             // GUID of the last message, at most 72 characters
    DeliveryState deliveryState = DeliveryState::None;
    QString reportTime;              // "hh:mm:ss" of the last report

    // The fixed-width fields keep at most their number of characters.
    void setMessageId(const QString& id) { messageId = id.left(kMessageIdChars); }
    void setMessageGuid(const QString& guid) { messageGuid = guid.left(kMessageGuidChars); }
};

using ClientsList = std::vector<ClientRecord>;

// The client tree as the load fills it; the window implements it, tests record the calls.
// It is called on the thread that runs the load.
class TreeSink {
public:
    virtual ~TreeSink() = default;
    virtual void ClearTree() = 0;
    // Appends an item at the end of the tree, with state image 0.
    virtual void AddTreeItem(const QString& caption, int level) = 0;
};

struct LoadResult {
    enum class Status { Loaded, NoFile, Failed };
    Status status = Status::Loaded;
    QString message;  // for Failed: the text of the "Error" box, in the interface language
    bool failed() const { return status == Status::Failed; }
};

// Clears the list and the tree (sink may be null) and reads the database at `file`. A missing
// file leaves both empty. On a failure the list stays empty, the tree only cleared, and the
// result carries the message; the caller shows it and ends the program with exit code -1.
LoadResult LoadClientsDatabase(const std::filesystem::path& file, ClientsList& list, TreeSink* tree,
                               const InterfaceTexts& texts, const ClientsLimits& limits = {});

// The same over the bytes of a file already read.
LoadResult LoadClientsDocument(std::string_view bytes, ClientsList& list, TreeSink* tree,
                               const InterfaceTexts& texts, const ClientsLimits& limits = {});

// Converts an older text database at `clientsPath` (as configured, e.g. ".\clients.ini") into
// clients.xml beside it and points `clientsPath` at the new file; the older file stays. A file
// that is not an older database is left alone. True when `clientsPath` changed.
bool ConvertOldClientsFile(QString& clientsPath);

// The conversion's document for the text of an older database, or false when the text is not
// one. Groups open deeper than one level beyond ClientsLimits::maxDepth hold everything below,
// so the written file keeps the depth the load then refuses with its message.
struct XmlElement;
bool convertOldClientsText(std::string_view bytes, XmlElement& root);

// The start-up check: true when the file exists or could be created (the test file is
// removed again at once).
bool ClientsFileCreatable(const std::filesystem::path& file);

// Parent-to-children lookup over a loaded list, for walking a folder's direct children
// without scanning the rest of the list.
class ChildIndex {
public:
    explicit ChildIndex(const ClientsList& list);
    std::span<const std::int32_t> children(std::int32_t index) const;

private:
    std::vector<std::int32_t> first_;  // children of i: items_[first_[i] .. first_[i + 1])
    std::vector<std::int32_t> items_;
};

// A configured path (".\clients.xml") as a file-system path: tw::platform::fromConfigPath.
std::filesystem::path dataFilePath(const QString& configured);

}  // namespace tw::server
