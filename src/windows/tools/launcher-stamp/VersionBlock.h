// A version resource (VS_VERSIONINFO): its fixed numbers and its strings, read, edited and written back.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace stamp {

// a.b.c.d
using VersionQuad = std::array<WORD, 4>;

// "a.b.c.d" with four decimal numbers of 0 to 65535; nothing for any other text.
std::optional<VersionQuad> parseVersionQuad(const std::wstring& text);
std::wstring toText(const VersionQuad& version);

class VersionBlock {
public:
    // Malformed bytes are BadInput.
    explicit VersionBlock(const std::vector<std::uint8_t>& bytes);

    std::vector<std::uint8_t> serialize() const;
    // The string of the first string table, if it has one.
    std::optional<std::wstring> string(const std::wstring& key) const;
    // Sets the string in every string table, appended where it is missing.
    void setString(const std::wstring& key, const std::wstring& value);
    void setFileVersion(const VersionQuad& version);
    void setProductVersion(const VersionQuad& version);

private:
    struct Node {
        std::wstring key;
        WORD type = 0;  // 1: the value is text
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

    Node root_;
};

}  // namespace stamp
