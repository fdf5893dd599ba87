#pragma once
// The dialog-definition document: windows described as nested boxes and gadgets, read once
// with Expat into a tree that every later opening of a window builds from.
#include <QByteArrayView>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "server/ui/identifiers.h"

namespace tw::ui {

enum class NodeKind {
    Window,
    // boxes
    VBox,
    HBox,
    SingleBox,
    Empty,
    Splitter,
    // gadgets
    Editor,
    ListView,
    Tree,
    Spin,
    ComboBox,
    Button,
    ButtonImage,
    CheckBox,
    IpAddress,
    Text,
    Frame,
    Hyperlink,
};

// Flag words of the `flags` attribute, joined with "|" or blanks in the document.
enum NodeFlag : unsigned {
    FlagSystemMenu = 1u << 0,   // window: "systemmenu"
    FlagMinimizeBox = 1u << 1,  // window: "minimizebox"
    FlagMaximizeBox = 1u << 2,  // window: "maximizebox"
    FlagResizable = 1u << 3,    // window: "resizable"; without it the size is fixed
    FlagCentered = 1u << 4,     // window: "centered" on the screen
    FlagVertical = 1u << 5,     // splitter: "vertical" divider, parts side by side
    FlagReadOnly = 1u << 6,     // editor: "readonly" rich-text viewer
    FlagUnderline = 1u << 7,    // hyperlink: "underline"
};

// How a box shares the space beyond its children's requested sizes.
struct Expand {
    enum class Mode { All, None, Item };
    Mode mode = Mode::All;
    int item = 0;  // 0-based child that takes it all, for Mode::Item ("item:1" is the first)
};

struct UiNode {
    NodeKind kind = NodeKind::VBox;
    int line = 0;  // where the element starts in the document
    std::optional<Id> id;
    QString name;  // windows: the name they are opened by
    QString text;  // fixed caption
    unsigned flags = 0;
    int width = -1, height = -1;  // requested size; -1 = the natural size
    int minWidth = -1, minHeight = -1;
    int min = 0, max = 100;         // spin range
    int spacing = -1, margin = -1;  // -1 = the engine's default
    Expand expand;
    bool alignCenter = false;
    int firstMin = 0, secondMin = 0;  // splitter parts
    std::vector<UiNode> children;
};

// What went wrong while reading the document: Expat's own message for malformed XML, or
// ours for a well-formed document that does not describe windows; line is 1-based.
struct UiParseError {
    QString message;
    long line = 0;
    long column = 0;  // 0-based, as Expat counts
    // "XML error: <message> (Line: <line>)", the start-up's debug-log line.
    QString debugLine() const;
};

class UiDocument {
public:
    struct Result {
        std::shared_ptr<const UiDocument> document;  // null on failure
        UiParseError error;
        bool ok() const { return document != nullptr; }
    };

    // Reads a whole document (UTF-8). Never throws.
    static Result parse(QByteArrayView bytes);

    const std::vector<UiNode>& windows() const { return windows_; }
    // The window definition opened by `name`; null when there is none.
    const UiNode* window(QStringView name) const;

private:
    std::vector<UiNode> windows_;
};

}  // namespace tw::ui
