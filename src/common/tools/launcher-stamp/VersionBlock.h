// A version resource (VS_VERSIONINFO): its fixed numbers and its strings, read, edited and written back.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace stamp {

// a.b.c.d
using VersionQuad = std::array<std::uint16_t, 4>;

// "a", "a.b", "a.b.c" or "a.b.c.d": decimal numbers of 0 to 65535, the missing ones 0 ("2.0" is 2.0.0.0);
// nothing for any other text.
std::optional<VersionQuad> parseVersionQuad(const std::string& text);
// "a.b.c.d", in the version block's UTF-16.
std::u16string toText(const VersionQuad& version);

class VersionBlock {
public:
    // Malformed bytes are BadInput.
    explicit VersionBlock(const std::vector<std::uint8_t>& bytes);

    std::vector<std::uint8_t> serialize() const;
    // The string of the first string table, if it has one.
    std::optional<std::u16string> string(const std::u16string& key) const;
    // Sets the string in every string table, appended where it is missing.
    void setString(const std::u16string& key, const std::u16string& value);
    void setFileVersion(const VersionQuad& version);
    void setProductVersion(const VersionQuad& version);

    VersionQuad fileVersion() const;
    VersionQuad productVersion() const;
    // Each string table's name (language and code page, "040904b0") and its strings in their order.
    struct StringTable {
        std::u16string name;
        std::vector<std::pair<std::u16string, std::u16string>> strings;
    };
    std::vector<StringTable> strings() const;

private:
    struct Node {
        std::u16string key;
        std::uint16_t type = 0;  // 1: the value is text
        std::vector<std::uint8_t> value;
        std::vector<Node> children;
    };

    // The node at offset, level steps below the root.
    static Node parseNode(const std::vector<std::uint8_t>& bytes, std::size_t offset, std::size_t end,
                          int level);
    static void putNode(const Node& node, std::vector<std::uint8_t>& out);
    // The string tables of root, const or not.
    template <class Root>
    static auto stringTables(Root& root);
    void setFixed(std::size_t offset, const VersionQuad& version);
    VersionQuad fixed(std::size_t offset) const;

    Node root_;
};

}  // namespace stamp
