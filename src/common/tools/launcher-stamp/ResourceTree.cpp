#include "ResourceTree.h"

#include <cstring>
#include <type_traits>

#include "ImageFormat.h"
#include "Layout.h"
#include "StampError.h"

namespace stamp {

namespace {

constexpr std::uint32_t SUBDIRECTORY_FLAG = 0x80000000u;
constexpr std::uint32_t NAME_FLAG = 0x80000000u;
// Every leaf and every table starts on eight bytes, as resource compilers place them.
constexpr std::uint64_t LEAF_ALIGNMENT = 8;
// A large leaf (the payload) starts on 64 KiB of the file as well, where its copy from the start of a file
// lands: Linux moves page-cache data between files in large pieces only at the same alignment (measured:
// 160 MB in 1.3 times the time at an offset of 4 KiB). The padding is small beside such a leaf.
constexpr std::uint64_t LARGE_LEAF = 1 << 20;
constexpr std::uint64_t LARGE_LEAF_ALIGNMENT = 64 << 10;
// Far more entries than any launcher has.
constexpr std::uint32_t ENTRY_LIMIT = 65536;

class SectionReader {
public:
    SectionReader(const InputBytes& file, std::uint64_t offset, std::uint32_t size, std::uint32_t rva)
        : file_(file), offset_(offset), size_(size), rva_(rva) {}

    // Reads the directory at offset (from the section's start) and everything below it.
    template <class Node>
    void readDirectory(std::uint32_t offset, Node& node) {
        image::ResourceDirectory directory{};
        read(offset, &directory, sizeof directory);
        const std::uint32_t count =
            static_cast<std::uint32_t>(directory.numberOfNamedEntries) + directory.numberOfIdEntries;
        // Directories may share entries, or point back at each other: counted before anything is read, the
        // entries keep a crafted section from making the tree, or the work, grow without end.
        entriesRead_ += count;
        if (entriesRead_ > ENTRY_LIMIT) {
            malformed();
        }
        use(sizeof directory + count * sizeof(image::ResourceDirectoryEntry));
        std::vector<image::ResourceDirectoryEntry> entries(count);
        if (count != 0) {
            read(offset + sizeof directory, entries.data(), count * sizeof(image::ResourceDirectoryEntry));
        }
        for (const image::ResourceDirectoryEntry& entry : entries) {
            const ResourceId id = idOf(entry.name);
            const bool isDirectory = (entry.offsetToData & SUBDIRECTORY_FLAG) != 0;
            const std::uint32_t target = entry.offsetToData & ~SUBDIRECTORY_FLAG;
            if constexpr (std::is_same_v<Node, LanguageMap>) {
                if (isDirectory) {
                    malformed();
                }
                node[id] = readLeaf(target);
            } else {
                if (!isDirectory) {
                    malformed();
                }
                readDirectory(target, node[id]);
            }
        }
    }

private:
    ResourceId idOf(std::uint32_t name) {
        if ((name & NAME_FLAG) == 0) {
            if (name > 0xFFFF) {
                malformed();
            }
            return static_cast<std::uint16_t>(name);
        }
        std::uint16_t length = 0;
        read(name & ~NAME_FLAG, &length, sizeof length);
        use(sizeof length + length * sizeof(char16_t));
        std::u16string text(length, L'\0');
        if (length != 0) {
            read((name & ~NAME_FLAG) + sizeof length, text.data(), length * sizeof(char16_t));
        }
        return text;
    }

    ResourceData readLeaf(std::uint32_t offset) {
        image::ResourceDataEntry entry{};
        read(offset, &entry, sizeof entry);
        if (entry.offsetToData < rva_ || entry.offsetToData - rva_ > size_ ||
            entry.size > size_ - (entry.offsetToData - rva_)) {
            malformed();
        }
        use(sizeof entry + entry.size);
        ResourceData leaf;
        leaf.file = &file_;
        leaf.offset = offset_ + (entry.offsetToData - rva_);
        leaf.size = entry.size;
        leaf.codePage = entry.codePage;
        return leaf;
    }

    void read(std::uint64_t offset, void* buffer, std::size_t size) const {
        if (offset > size_ || size > size_ - offset) {
            malformed();
        }
        file_.readInto(offset_ + offset, buffer, size);
    }

    // Directories, data entries, names and leaves lie in the section side by side, each byte used once:
    // together they can't exceed it. Structures that share their bytes (directories that many entries name,
    // leaves on the same bytes) would otherwise multiply them in the output, which writes each once per use.
    void use(std::uint64_t size) {
        bytesUsed_ += size;
        if (bytesUsed_ > size_) {
            malformed();
        }
    }

    [[noreturn]] void malformed() const { throw notOurLauncher(file_.path(), "its resources are malformed"); }

    const InputBytes& file_;
    std::uint64_t offset_;
    std::uint32_t size_;
    std::uint32_t rva_;
    std::uint32_t entriesRead_ = 0;
    std::uint64_t bytesUsed_ = 0;
};

// Builds the tables in the order the section keeps them: every directory level by level, then the data
// entries, then the names; the leaves follow.
class TableBuilder {
public:
    explicit TableBuilder(const ResourceTree& tree) : tree_(tree) {
        std::uint64_t directories = directorySize(tree);
        for (const auto& [type, names] : tree) {
            directories += directorySize(names);
            for (const auto& [name, languages] : names) {
                directories += directorySize(languages);
                leafCount_ += languages.size();
            }
        }
        dataEntriesOffset_ = directories;
        namesOffset_ = dataEntriesOffset_ + leafCount_ * sizeof(image::ResourceDataEntry);
        std::uint64_t namesSize = 0;
        forEachId([&](const ResourceId& id) {
            if (const auto* text = std::get_if<std::u16string>(&id)) {
                namesSize += sizeof(std::uint16_t) + text->size() * sizeof(char16_t);
            }
        });
        tables_.resize(static_cast<std::size_t>(alignUp(namesOffset_ + namesSize, LEAF_ALIGNMENT)));
    }

    // Fills the tables for a section at sectionRva and, in the file, at sectionOffset; returns the leaves
    // with their offsets, and the end.
    std::uint64_t build(std::uint32_t sectionRva, std::uint64_t sectionOffset,
                        std::vector<std::pair<std::uint64_t, const ResourceData*>>& leaves) {
        std::uint64_t leafOffset = tables_.size();
        std::uint64_t nextDirectory = directorySize(tree_);
        std::uint64_t nextDataEntry = dataEntriesOffset_;
        nextName_ = namesOffset_;

        std::vector<std::uint64_t> nameDirectories;
        putDirectory(0, tree_, [&](const NameMap& names) {
            nameDirectories.push_back(nextDirectory);
            const std::uint64_t at = nextDirectory;
            nextDirectory += directorySize(names);
            return at | SUBDIRECTORY_FLAG;
        });
        std::size_t typeIndex = 0;
        std::vector<std::pair<std::uint64_t, const LanguageMap*>> languageDirectories;
        for (const auto& [type, names] : tree_) {
            putDirectory(nameDirectories[typeIndex++], names, [&](const LanguageMap& languages) {
                languageDirectories.emplace_back(nextDirectory, &languages);
                const std::uint64_t at = nextDirectory;
                nextDirectory += directorySize(languages);
                return at | SUBDIRECTORY_FLAG;
            });
        }
        for (const auto& [at, languages] : languageDirectories) {
            putDirectory(at, *languages, [&](const ResourceData& leaf) {
                leafOffset = alignUp(leafOffset, LEAF_ALIGNMENT);
                if (leaf.length() >= LARGE_LEAF) {
                    leafOffset = alignUp(sectionOffset + leafOffset, LARGE_LEAF_ALIGNMENT) - sectionOffset;
                }
                image::ResourceDataEntry entry{};
                entry.offsetToData = static_cast<std::uint32_t>(sectionRva + leafOffset);
                entry.size = static_cast<std::uint32_t>(leaf.length());
                entry.codePage = leaf.codePage;
                put(nextDataEntry, &entry, sizeof entry);
                leaves.emplace_back(leafOffset, &leaf);
                leafOffset += leaf.length();
                const std::uint64_t entryAt = nextDataEntry;
                nextDataEntry += sizeof entry;
                return entryAt;
            });
        }
        return leafOffset;
    }

    std::vector<std::uint8_t>& tables() { return tables_; }

private:
    template <class Map>
    static std::uint64_t directorySize(const Map& map) {
        return sizeof(image::ResourceDirectory) + map.size() * sizeof(image::ResourceDirectoryEntry);
    }

    template <class Visit>
    void forEachId(Visit visit) const {
        for (const auto& [type, names] : tree_) {
            visit(type);
            for (const auto& [name, languages] : names) {
                visit(name);
                for (const auto& language : languages) {
                    visit(language.first);
                }
            }
        }
    }

    // Writes the directory of map at offset; target(child) places the child and returns the entry's target.
    template <class Map, class Target>
    void putDirectory(std::uint64_t offset, const Map& map, Target target) {
        image::ResourceDirectory directory{};
        for (const auto& child : map) {
            if (std::holds_alternative<std::u16string>(child.first)) {
                ++directory.numberOfNamedEntries;
            } else {
                ++directory.numberOfIdEntries;
            }
        }
        put(offset, &directory, sizeof directory);
        std::uint64_t entryOffset = offset + sizeof directory;
        for (const auto& [id, child] : map) {
            image::ResourceDirectoryEntry entry{};
            entry.name = nameOf(id);
            entry.offsetToData = static_cast<std::uint32_t>(target(child));
            put(entryOffset, &entry, sizeof entry);
            entryOffset += sizeof entry;
        }
    }

    std::uint32_t nameOf(const ResourceId& id) {
        if (const std::uint16_t* number = std::get_if<std::uint16_t>(&id)) {
            return *number;
        }
        const std::u16string& text = std::get<std::u16string>(id);
        const std::uint64_t at = nextName_;
        const std::uint16_t length = static_cast<std::uint16_t>(text.size());
        put(nextName_, &length, sizeof length);
        put(nextName_ + sizeof length, text.data(), text.size() * sizeof(char16_t));
        nextName_ += sizeof length + text.size() * sizeof(char16_t);
        return static_cast<std::uint32_t>(at) | NAME_FLAG;
    }

    void put(std::uint64_t offset, const void* data, std::size_t size) {
        if (size != 0) {
            std::memcpy(tables_.data() + offset, data, size);
        }
    }

    const ResourceTree& tree_;
    std::vector<std::uint8_t> tables_;
    std::uint64_t leafCount_ = 0;
    std::uint64_t dataEntriesOffset_ = 0;
    std::uint64_t namesOffset_ = 0;
    std::uint64_t nextName_ = 0;
};

}  // namespace

ResourceData ResourceData::inMemory(std::vector<std::uint8_t> bytes) {
    ResourceData data;
    data.bytes = std::move(bytes);
    return data;
}

ResourceData ResourceData::inFile(const InputBytes& file) {
    ResourceData data;
    data.file = &file;
    data.size = static_cast<std::uint32_t>(file.size());
    return data;
}

std::vector<std::uint8_t> ResourceData::load() const {
    return file != nullptr ? file->read(offset, size) : bytes;
}

ResourceTree readResourceTree(const InputBytes& file, std::uint64_t sectionOffset, std::uint32_t sectionSize,
                              std::uint32_t sectionRva) {
    ResourceTree tree;
    SectionReader(file, sectionOffset, sectionSize, sectionRva).readDirectory(0, tree);
    return tree;
}

ResourceSection::ResourceSection(const ResourceTree& tree, std::uint32_t sectionRva,
                                 std::uint64_t sectionOffset) {
    TableBuilder builder(tree);
    size_ = builder.build(sectionRva, sectionOffset, leaves_);
    tables_ = std::move(builder.tables());
}

void ResourceSection::write(OutputFile& out) const {
    const std::uint64_t start = out.position();
    out.write(tables_);
    for (const auto& [offset, leaf] : leaves_) {
        out.padTo(start + offset);
        if (leaf->file != nullptr) {
            out.copyFrom(*leaf->file, leaf->offset, leaf->size);
        } else {
            out.write(leaf->bytes);
        }
    }
}

}  // namespace stamp
