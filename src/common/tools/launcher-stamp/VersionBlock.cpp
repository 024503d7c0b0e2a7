#include "VersionBlock.h"

#include <cstddef>
#include <cstring>

#include "ImageFormat.h"
#include "Layout.h"
#include "StampError.h"

namespace stamp {

namespace {

// Each node: its length, its value's length (in characters for text), its type, its key with a terminating
// zero, its value and its children, each of the last three starting on four bytes.
constexpr std::size_t NODE_HEADER = 3 * sizeof(std::uint16_t);
constexpr std::uint16_t TEXT_TYPE = 1;
constexpr std::uint32_t FIXED_SIGNATURE = 0xFEEF04BD;
constexpr std::size_t FILE_VERSION_OFFSET = offsetof(image::FixedFileInfo, fileVersionMS);
constexpr std::size_t PRODUCT_VERSION_OFFSET = offsetof(image::FixedFileInfo, productVersionMS);

constexpr std::size_t NODE_ALIGNMENT = 4;
// A version block has a fixed shape: the root, its file-info blocks, their tables (or Var entries), the
// strings. Nothing sits deeper, so the reader never descends further than that, whatever the bytes say.
constexpr int DEEPEST_LEVEL = 3;

std::size_t alignNode(std::size_t offset) {
    return static_cast<std::size_t>(alignUp(offset, NODE_ALIGNMENT));
}

[[noreturn]] void malformed(const char* why = "its version block is malformed") {
    throw BadInput(std::string("LAUNCHER is not one of our launchers: ") + why);
}

std::vector<std::uint8_t> encodeText(const std::u16string& text) {
    std::vector<std::uint8_t> bytes((text.size() + 1) * sizeof(char16_t));
    std::memcpy(bytes.data(), text.c_str(), bytes.size());
    return bytes;
}

std::u16string decodeText(const std::vector<std::uint8_t>& bytes) {
    // A string without value has no bytes at all, and no buffer to copy from.
    if (bytes.empty()) {
        return {};
    }
    std::u16string text(bytes.size() / sizeof(char16_t), u'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * sizeof(char16_t));
    return text.substr(0, text.find(u'\0'));
}

}  // namespace

std::optional<VersionQuad> parseVersionQuad(const std::string& text) {
    VersionQuad version{};
    std::size_t at = 0;
    for (std::size_t part = 0; part < version.size(); ++part) {
        if (part != 0 && at == text.size()) {
            return version;
        }
        if (part != 0 && text[at++] != '.') {
            return std::nullopt;
        }
        std::uint32_t number = 0;
        const std::size_t start = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 5) {
            number = number * 10 + static_cast<std::uint32_t>(text[at++] - '0');
        }
        if (at == start || number > 0xFFFF) {
            return std::nullopt;
        }
        version[part] = static_cast<std::uint16_t>(number);
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    return version;
}

std::u16string toText(const VersionQuad& version) {
    const std::string text = std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
                             std::to_string(version[2]) + "." + std::to_string(version[3]);
    return std::u16string(text.begin(), text.end());
}

VersionBlock::VersionBlock(const std::vector<std::uint8_t>& bytes) {
    root_ = parseNode(bytes, 0, bytes.size(), 0);
    if (root_.key != u"VS_VERSION_INFO" || root_.value.size() < sizeof(image::FixedFileInfo) ||
        fieldAt<std::uint32_t>(root_.value, 0) != FIXED_SIGNATURE) {
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
    const std::size_t length = fieldAt<std::uint16_t>(bytes, offset);
    const std::size_t valueLength = fieldAt<std::uint16_t>(bytes, offset + 2);
    Node node;
    node.type = fieldAt<std::uint16_t>(bytes, offset + 4);
    const std::size_t nodeEnd = offset + length;
    if (length < NODE_HEADER || nodeEnd > end) {
        malformed();
    }
    std::size_t at = offset + NODE_HEADER;
    for (;; at += sizeof(char16_t)) {
        if (at + sizeof(char16_t) > nodeEnd) {
            malformed();
        }
        const std::uint16_t unit = fieldAt<std::uint16_t>(bytes, at);
        if (unit == 0) {
            break;
        }
        node.key.push_back(static_cast<char16_t>(unit));
    }
    at = alignNode(at + sizeof(char16_t));
    const std::size_t valueSize = node.type == TEXT_TYPE ? valueLength * sizeof(char16_t) : valueLength;
    if (valueSize != 0) {
        if (at + valueSize > nodeEnd) {
            malformed();
        }
        node.value.assign(bytes.begin() + at, bytes.begin() + at + valueSize);
        at = alignNode(at + valueSize);
    }
    while (at < nodeEnd) {
        node.children.push_back(parseNode(bytes, at, nodeEnd, level + 1));
        at = alignNode(at + fieldAt<std::uint16_t>(bytes, at));
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
    const std::uint16_t valueLength = static_cast<std::uint16_t>(
        node.type == TEXT_TYPE ? node.value.size() / sizeof(char16_t) : node.value.size());
    appendField<std::uint16_t>(out, 0);  // the length, known at the end
    appendField<std::uint16_t>(out, valueLength);
    appendField<std::uint16_t>(out, node.type);
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
        throw BadInput("the version strings are too long");
    }
    const std::uint16_t lengthWord = static_cast<std::uint16_t>(length);
    std::memcpy(out.data() + start, &lengthWord, sizeof lengthWord);
}

template <class Root>
auto VersionBlock::stringTables(Root& root) {
    std::vector<decltype(&root)> tables;
    for (auto& child : root.children) {
        if (child.key == u"StringFileInfo") {
            for (auto& table : child.children) {
                tables.push_back(&table);
            }
        }
    }
    return tables;
}

std::optional<std::u16string> VersionBlock::string(const std::u16string& key) const {
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

void VersionBlock::setString(const std::u16string& key, const std::u16string& value) {
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
    const std::uint32_t numbers[] = {static_cast<std::uint32_t>(version[0]) << 16 | version[1],
                                     static_cast<std::uint32_t>(version[2]) << 16 | version[3]};
    std::memcpy(root_.value.data() + offset, numbers, sizeof numbers);
}

VersionQuad VersionBlock::fixed(std::size_t offset) const {
    const std::uint32_t high = fieldAt<std::uint32_t>(root_.value, offset);
    const std::uint32_t low = fieldAt<std::uint32_t>(root_.value, offset + sizeof high);
    return {static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high),
            static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low)};
}

VersionQuad VersionBlock::fileVersion() const {
    return fixed(FILE_VERSION_OFFSET);
}

VersionQuad VersionBlock::productVersion() const {
    return fixed(PRODUCT_VERSION_OFFSET);
}

std::vector<VersionBlock::StringTable> VersionBlock::strings() const {
    std::vector<StringTable> tables;
    for (const Node* table : stringTables(root_)) {
        StringTable& each = tables.emplace_back();
        each.name = table->key;
        for (const Node& entry : table->children) {
            each.strings.emplace_back(entry.key, decodeText(entry.value));
        }
    }
    return tables;
}

void VersionBlock::setFileVersion(const VersionQuad& version) {
    setFixed(FILE_VERSION_OFFSET, version);
}

void VersionBlock::setProductVersion(const VersionQuad& version) {
    setFixed(PRODUCT_VERSION_OFFSET, version);
}

}  // namespace stamp
