#include "server/ui/layout/ui_document.h"

#include <expat.h>

#include <charconv>
#include <climits>
#include <cstring>
#include <set>
#include <string_view>

namespace tw::ui {
namespace {

struct ElementInfo {
    std::string_view tag;
    NodeKind kind;
};

constexpr ElementInfo kElements[] = {
    {"window", NodeKind::Window},
    {"vbox", NodeKind::VBox},
    {"hbox", NodeKind::HBox},
    {"singlebox", NodeKind::SingleBox},
    {"empty", NodeKind::Empty},
    {"splitter", NodeKind::Splitter},
    {"editor", NodeKind::Editor},
    {"listview", NodeKind::ListView},
    {"tree", NodeKind::Tree},
    {"spin", NodeKind::Spin},
    {"combobox", NodeKind::ComboBox},
    {"button", NodeKind::Button},
    {"buttonimage", NodeKind::ButtonImage},
    {"checkbox", NodeKind::CheckBox},
    {"ipaddress", NodeKind::IpAddress},
    {"text", NodeKind::Text},
    {"frame", NodeKind::Frame},
    {"hyperlink", NodeKind::Hyperlink},
};

struct FlagInfo {
    std::string_view word;
    NodeFlag flag;
};

constexpr FlagInfo kFlags[] = {
    {"systemmenu", FlagSystemMenu},   {"minimizebox", FlagMinimizeBox},
    {"maximizebox", FlagMaximizeBox}, {"resizable", FlagResizable},
    {"centered", FlagCentered},       {"vertical", FlagVertical},
    {"readonly", FlagReadOnly},       {"underline", FlagUnderline},
};

std::string_view tagOf(NodeKind kind) {
    for (const auto& e : kElements)
        if (e.kind == kind) return e.tag;
    return {};
}

QString q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

bool holdsChildren(NodeKind kind) {
    switch (kind) {
        case NodeKind::Window:
        case NodeKind::VBox:
        case NodeKind::HBox:
        case NodeKind::SingleBox:
        case NodeKind::Splitter:
        case NodeKind::Frame:
            return true;
        default:
            return false;
    }
}

// The embedded document nests about eight levels; this bound keeps a damaged one from
// building a tree that the layout engine and the destructors would walk by deep recursion.
constexpr std::size_t kMaxDepth = 64;

bool parseInt(std::string_view s, bool allowNegative, int& out) {
    if (s.empty()) return false;
    const char* first = s.data();
    const char* last = s.data() + s.size();
    if (!allowNegative && *first == '-') return false;
    auto [ptr, ec] = std::from_chars(first, last, out);
    return ec == std::errc() && ptr == last;
}

class Reader {
public:
    Reader() : parser_(XML_ParserCreate("UTF-8")) {
        XML_SetUserData(parser_, this);
        XML_SetElementHandler(parser_, &Reader::onStart, &Reader::onEnd);
    }
    ~Reader() { XML_ParserFree(parser_); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    bool run(QByteArrayView bytes, std::vector<UiNode>& windows, UiParseError& error) {
        if (bytes.size() > INT_MAX) {
            error = {QStringLiteral("document too large"), 0, 0};
            return false;
        }
        const auto status = XML_Parse(parser_, bytes.data(), static_cast<int>(bytes.size()), 1);
        if (failed_) {
            error = error_;
            return false;
        }
        if (status != XML_STATUS_OK) {
            error.message = QString::fromUtf8(XML_ErrorString(XML_GetErrorCode(parser_)));
            error.line = static_cast<long>(XML_GetCurrentLineNumber(parser_));
            error.column = static_cast<long>(XML_GetCurrentColumnNumber(parser_));
            return false;
        }
        windows = std::move(windows_);
        return true;
    }

private:
    static void XMLCALL onStart(void* self, const XML_Char* tag, const XML_Char** attrs) {
        static_cast<Reader*>(self)->start(tag, attrs);
    }
    static void XMLCALL onEnd(void* self, const XML_Char*) { static_cast<Reader*>(self)->end(); }

    long currentLine() const { return static_cast<long>(XML_GetCurrentLineNumber(parser_)); }

    void fail(const QString& message, long line) {
        if (failed_) return;
        failed_ = true;
        error_.message = message;
        error_.line = line;
        error_.column = static_cast<long>(XML_GetCurrentColumnNumber(parser_));
        XML_StopParser(parser_, XML_FALSE);
    }

    void start(std::string_view tag, const XML_Char** attrs) {
        if (failed_) return;
        const long line = currentLine();
        if (!sawRoot_) {
            sawRoot_ = true;
            if (tag != "dialogs") fail(QStringLiteral("the root element must be <dialogs>"), line);
            return;
        }
        const ElementInfo* info = nullptr;
        for (const auto& e : kElements)
            if (e.tag == tag) info = &e;
        if (!info) return fail(QStringLiteral("unknown element <%1>").arg(q(tag)), line);

        if (stack_.size() >= kMaxDepth)
            return fail(
                QStringLiteral("<%1> is nested deeper than %2 levels").arg(q(tag)).arg(kMaxDepth),
                line);
        if (stack_.empty() && info->kind != NodeKind::Window)
            return fail(QStringLiteral("<dialogs> holds only <window> elements"), line);
        if (!stack_.empty()) {
            const NodeKind parent = stack_.back().kind;
            if (info->kind == NodeKind::Window || !holdsChildren(parent))
                return fail(QStringLiteral("<%1> cannot hold <%2>").arg(q(tagOf(parent)), q(tag)),
                            line);
        }

        UiNode node;
        node.kind = info->kind;
        node.line = static_cast<int>(line);
        for (int i = 0; attrs[i]; i += 2) {
            if (!readAttribute(node, tag, attrs[i], attrs[i + 1], line)) return;
        }
        stack_.push_back(std::move(node));
    }

    bool readAttribute(UiNode& node, std::string_view tag, std::string_view name,
                       std::string_view value, long line) {
        auto bad = [&] {
            fail(QStringLiteral("bad value \"%1\" of attribute \"%2\"").arg(q(value), q(name)),
                 line);
            return false;
        };
        struct IntAttr {
            std::string_view name;
            int UiNode::*field;
            bool negative;
        };
        static constexpr IntAttr kInts[] = {
            {"width", &UiNode::width, false},
            {"height", &UiNode::height, false},
            {"minwidth", &UiNode::minWidth, false},
            {"minheight", &UiNode::minHeight, false},
            {"min", &UiNode::min, true},
            {"max", &UiNode::max, true},
            {"spacing", &UiNode::spacing, false},
            {"margin", &UiNode::margin, false},
            {"firstmin", &UiNode::firstMin, false},
            {"secondmin", &UiNode::secondMin, false},
        };
        for (const auto& a : kInts) {
            if (a.name != name) continue;
            if (!parseInt(value, a.negative, node.*a.field)) return bad();
            return true;
        }
        if (name == "id") {
            node.id = idFromName(value);
            if (!node.id) {
                fail(QStringLiteral("unknown identifier \"%1\"").arg(q(value)), line);
                return false;
            }
        } else if (name == "name") {
            node.name = q(value);
        } else if (name == "text") {
            node.text = q(value);
        } else if (name == "flags") {
            std::size_t pos = 0;
            while (pos < value.size()) {
                const std::size_t from = value.find_first_not_of("| \t\r\n", pos);
                if (from == std::string_view::npos) break;
                std::size_t to = value.find_first_of("| \t\r\n", from);
                if (to == std::string_view::npos) to = value.size();
                const std::string_view word = value.substr(from, to - from);
                const FlagInfo* flag = nullptr;
                for (const auto& f : kFlags)
                    if (f.word == word) flag = &f;
                if (!flag) {
                    fail(QStringLiteral("unknown flag \"%1\"").arg(q(word)), line);
                    return false;
                }
                node.flags |= flag->flag;
                pos = to;
            }
        } else if (name == "expand") {
            if (value == "no") {
                node.expand.mode = Expand::Mode::None;
            } else if (value.starts_with("item:")) {
                int item = 0;
                if (!parseInt(value.substr(5), false, item) || item < 1) return bad();
                node.expand = {Expand::Mode::Item, item - 1};
            } else {
                return bad();
            }
        } else if (name == "align") {
            if (value != "center") return bad();
            node.alignCenter = true;
        } else {
            fail(QStringLiteral("unknown attribute \"%1\" of <%2>").arg(q(name), q(tag)), line);
            return false;
        }
        return true;
    }

    void end() {
        if (failed_ || stack_.empty()) return;  // the closing </dialogs>
        UiNode node = std::move(stack_.back());
        stack_.pop_back();
        const long line = node.line;
        const QString tag = q(tagOf(node.kind));
        const std::size_t count = node.children.size();

        if ((node.kind == NodeKind::Window || node.kind == NodeKind::SingleBox) && count != 1)
            return fail(QStringLiteral("<%1> must hold exactly one element").arg(tag), line);
        if (node.kind == NodeKind::Splitter && count != 2)
            return fail(QStringLiteral("<splitter> must hold exactly two elements"), line);
        if (node.kind == NodeKind::Frame && count > 1)
            return fail(QStringLiteral("<frame> holds at most one element"), line);
        if (node.expand.mode == Expand::Mode::Item &&
            static_cast<std::size_t>(node.expand.item) >= count)
            return fail(QStringLiteral("expand=\"item:%1\" names a child that does not exist")
                            .arg(node.expand.item + 1),
                        line);
        if (node.kind == NodeKind::Spin && node.min > node.max)
            return fail(QStringLiteral("<spin> has min above max"), line);

        if (node.kind == NodeKind::Window) {
            if (node.name.isEmpty()) return fail(QStringLiteral("<window> needs a name"), line);
            if (!node.id) return fail(QStringLiteral("<window> needs an id"), line);
            for (const auto& w : windows_)
                if (w.name == node.name)
                    return fail(QStringLiteral("window \"%1\" is defined twice").arg(node.name),
                                line);
            std::set<Id> seen;
            if (!uniqueIds(node, seen)) return;
            windows_.push_back(std::move(node));
        } else {
            stack_.back().children.push_back(std::move(node));
        }
    }

    // A window's gadgets are looked up by identifier, so one may not stand for two.
    bool uniqueIds(const UiNode& node, std::set<Id>& seen) {
        if (node.id && !seen.insert(*node.id).second) {
            fail(QStringLiteral("identifier \"#%1\" is used twice in one window")
                     .arg(objectName(*node.id)),
                 node.line);
            return false;
        }
        for (const auto& c : node.children)
            if (!uniqueIds(c, seen)) return false;
        return true;
    }

    XML_Parser parser_;
    bool sawRoot_ = false;
    bool failed_ = false;
    UiParseError error_;
    std::vector<UiNode> stack_;
    std::vector<UiNode> windows_;
};

}  // namespace

QString UiParseError::debugLine() const {
    return QStringLiteral("XML error: %1 (Line: %2)").arg(message).arg(line);
}

UiDocument::Result UiDocument::parse(QByteArrayView bytes) {
    Result result;
    std::vector<UiNode> windows;
    Reader reader;
    if (!reader.run(bytes, windows, result.error)) return result;
    auto doc = std::make_shared<UiDocument>();
    doc->windows_ = std::move(windows);
    result.document = std::move(doc);
    return result;
}

const UiNode* UiDocument::window(QStringView name) const {
    for (const auto& w : windows_)
        if (w.name == name) return &w;
    return nullptr;
}

}  // namespace tw::ui
