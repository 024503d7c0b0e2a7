#include "VersionBlock.h"

#include <cstddef>
#include <cstring>

#include "Layout.h"
#include "StampError.h"

namespace stamp {

namespace {

// Each node: its length, its value's length (in characters for text), its type, its key with a terminating
// zero, its value and its children, each of the last three starting on four bytes.
constexpr std::size_t NODE_HEADER = 3 * sizeof(WORD);
constexpr WORD TEXT_TYPE = 1;
constexpr DWORD FIXED_SIGNATURE = 0xFEEF04BD;
constexpr std::size_t FILE_VERSION_OFFSET = offsetof(VS_FIXEDFILEINFO, dwFileVersionMS);
constexpr std::size_t PRODUCT_VERSION_OFFSET = offsetof(VS_FIXEDFILEINFO, dwProductVersionMS);

constexpr std::size_t NODE_ALIGNMENT = 4;
// A version block has a fixed shape: the root, its file-info blocks, their tables (or Var entries), the
// strings. Nothing sits deeper, so the reader never descends further than that, whatever the bytes say.
constexpr int DEEPEST_LEVEL = 3;

std::size_t alignNode(std::size_t offset) {
    return static_cast<std::size_t>(alignUp(offset, NODE_ALIGNMENT));
}

[[noreturn]] void malformed(const char* why = "its version block is malformed") {
    throw BadInput(tstrings::TextBuilder() << "LAUNCHER is not one of our launchers: " << why);
}

std::vector<std::uint8_t> encodeText(const std::wstring& text) {
    std::vector<std::uint8_t> bytes((text.size() + 1) * sizeof(wchar_t));
    std::memcpy(bytes.data(), text.c_str(), bytes.size());
    return bytes;
}

std::wstring decodeText(const std::vector<std::uint8_t>& bytes) {
    std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}

}  // namespace

std::optional<VersionQuad> parseVersionQuad(const std::wstring& text) {
    VersionQuad version{};
    std::size_t at = 0;
    for (std::size_t part = 0; part < version.size(); ++part) {
        if (part != 0 && (at >= text.size() || text[at++] != L'.')) {
            return std::nullopt;
        }
        std::uint32_t number = 0;
        const std::size_t start = at;
        while (at < text.size() && text[at] >= L'0' && text[at] <= L'9' && at - start < 5) {
            number = number * 10 + static_cast<std::uint32_t>(text[at++] - L'0');
        }
        if (at == start || number > 0xFFFF) {
            return std::nullopt;
        }
        version[part] = static_cast<WORD>(number);
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    return version;
}

std::wstring toText(const VersionQuad& version) {
    return (tstrings::TextBuilder() << version[0] << "." << version[1] << "." << version[2] << "."
                                    << version[3])
        .str();
}

VersionBlock::VersionBlock(const std::vector<std::uint8_t>& bytes) {
    root_ = parseNode(bytes, 0, bytes.size(), 0);
    if (root_.key != L"VS_VERSION_INFO" || root_.value.size() < sizeof(VS_FIXEDFILEINFO) ||
        fieldAt<DWORD>(root_.value, 0) != FIXED_SIGNATURE) {
        malformed();
    }
}

VersionBlock::Node VersionBlock::parseNode(const std::vector<std::uint8_t>& bytes, std::size_t offset,
                                           std::size_t end, int level) {
    if (level > DEEPEST_LEVEL) {
        malformed("its version block is nested deeper than a version block goes");
    }
    if (offset + NODE_HEADER > end) {
        malformed();
    }
    const std::size_t length = fieldAt<WORD>(bytes, offset);
    const std::size_t valueLength = fieldAt<WORD>(bytes, offset + 2);
    Node node;
    node.type = fieldAt<WORD>(bytes, offset + 4);
    const std::size_t nodeEnd = offset + length;
    if (length < NODE_HEADER || nodeEnd > end) {
        malformed();
    }
    std::size_t at = offset + NODE_HEADER;
    for (;; at += sizeof(wchar_t)) {
        if (at + sizeof(wchar_t) > nodeEnd) {
            malformed();
        }
        const WORD unit = fieldAt<WORD>(bytes, at);
        if (unit == 0) {
            break;
        }
        node.key.push_back(static_cast<wchar_t>(unit));
    }
    at = alignNode(at + sizeof(wchar_t));
    const std::size_t valueSize = node.type == TEXT_TYPE ? valueLength * sizeof(wchar_t) : valueLength;
    if (valueSize != 0) {
        if (at + valueSize > nodeEnd) {
            malformed();
        }
        node.value.assign(bytes.begin() + at, bytes.begin() + at + valueSize);
        at = alignNode(at + valueSize);
    }
    while (at < nodeEnd) {
        node.children.push_back(parseNode(bytes, at, nodeEnd, level + 1));
        at = alignNode(at + fieldAt<WORD>(bytes, at));
    }
    return node;
}

std::vector<std::uint8_t> VersionBlock::serialize() const {
    std::vector<std::uint8_t> out;
    putNode(root_, out);
    return out;
}

void VersionBlock::putNode(const Node& node, std::vector<std::uint8_t>& out) {
    const std::size_t start = out.size();
    const WORD valueLength =
        static_cast<WORD>(node.type == TEXT_TYPE ? node.value.size() / sizeof(wchar_t) : node.value.size());
    appendField<WORD>(out, 0);  // the length, known at the end
    appendField<WORD>(out, valueLength);
    appendField<WORD>(out, node.type);
    const std::vector<std::uint8_t> key = encodeText(node.key);
    out.insert(out.end(), key.begin(), key.end());
    out.resize(alignNode(out.size()));
    out.insert(out.end(), node.value.begin(), node.value.end());
    for (const Node& child : node.children) {
        out.resize(alignNode(out.size()));
        putNode(child, out);
    }
    const std::size_t length = out.size() - start;
    if (length > 0xFFFF) {
        throw BadInput(tstrings::TextBuilder() << "the version strings are too long");
    }
    const WORD lengthWord = static_cast<WORD>(length);
    std::memcpy(out.data() + start, &lengthWord, sizeof lengthWord);
}

template <class Root>
auto VersionBlock::stringTables(Root& root) {
    std::vector<decltype(&root)> tables;
    for (auto& child : root.children) {
        if (child.key == L"StringFileInfo") {
            for (auto& table : child.children) {
                tables.push_back(&table);
            }
        }
    }
    return tables;
}

std::optional<std::wstring> VersionBlock::string(const std::wstring& key) const {
    const auto tables = stringTables(root_);
    if (!tables.empty()) {
        for (const Node& entry : tables.front()->children) {
            if (entry.key == key) {
                return decodeText(entry.value);
            }
        }
    }
    return std::nullopt;
}

void VersionBlock::setString(const std::wstring& key, const std::wstring& value) {
    for (Node* table : stringTables(root_)) {
        Node* found = nullptr;
        for (Node& entry : table->children) {
            if (entry.key == key) {
                found = &entry;
            }
        }
        if (found == nullptr) {
            found = &table->children.emplace_back();
            found->key = key;
        }
        found->type = TEXT_TYPE;
        found->value = encodeText(value);
    }
}

void VersionBlock::setFixed(std::size_t offset, const VersionQuad& version) {
    const DWORD numbers[] = {static_cast<DWORD>(version[0]) << 16 | version[1],
                             static_cast<DWORD>(version[2]) << 16 | version[3]};
    std::memcpy(root_.value.data() + offset, numbers, sizeof numbers);
}

void VersionBlock::setFileVersion(const VersionQuad& version) {
    setFixed(FILE_VERSION_OFFSET, version);
}

void VersionBlock::setProductVersion(const VersionQuad& version) {
    setFixed(PRODUCT_VERSION_OFFSET, version);
}

}  // namespace stamp
