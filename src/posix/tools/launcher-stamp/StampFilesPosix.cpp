// The stamping tool's files on Linux, macOS and other POSIX systems. The output is written into an unnamed
// file (Linux's O_TMPFILE) that is linked into place at the commit, so a killed tool leaves nothing; where
// the system or the file system has no unnamed files, under a temporary name that every failure removes. The
// data is not flushed to the disk before the rename, as cp and linkers don't: the rename is atomic for every
// other program, and flushing 160 MB would double the time of a stamp.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "StampError.h"
#include "StampFiles.h"

namespace stamp {

namespace {

// New files get every permission the umask leaves, as a linker gives the programs it writes.
constexpr mode_t NEW_FILE_MODE = 0777;

std::string systemText(int code) {
    return "system error " + std::to_string(code) + " (" + std::strerror(code) + ")";
}

[[noreturn]] void failed(const std::string& call) {
    throw std::runtime_error(call + " failed: " + systemText(errno));
}

// Owns a file descriptor.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_;
};

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// True when both describe the same content of a file: its size and its modification time, to the
// nanosecond where the file system keeps it so.
bool sameVersion(const struct stat& a, const struct stat& b) {
#ifdef __APPLE__
    const timespec &aTime = a.st_mtimespec, &bTime = b.st_mtimespec;
#else
    const timespec &aTime = a.st_mtim, &bTime = b.st_mtim;
#endif
    return a.st_size == b.st_size && aTime.tv_sec == bTime.tv_sec && aTime.tv_nsec == bTime.tv_nsec;
}

// Each system call moves at most this much.
std::size_t chunkOf(std::size_t size) {
    return size < (1u << 30) ? size : (1u << 30);
}

}  // namespace

struct InputFile::Native {
    Descriptor fd;
    struct stat opened {};

    // Nothing here holds a file against writers: a size or modification time other than the file had when it
    // was opened shows that the bytes read may belong to two versions of it (inputChanged).
    void checkUnchanged(const InputBytes& file) const {
        struct stat now {};
        if (fstat(fd.get(), &now) != 0) {
            failed("fstat(" + file.path() + ")");
        }
        if (!sameVersion(now, opened)) {
            throw inputChanged(file.role(), file.path());
        }
    }
};

InputFile::InputFile(const std::string& path, const char* role)
    : InputBytes(path, role), native_(new Native) {
    native_->fd.reset(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (native_->fd.get() < 0 || fstat(native_->fd.get(), &native_->opened) != 0) {
        throw BadInput("cannot read " + std::string(role) + " '" + path + "': " + systemText(errno));
    }
    if (!S_ISREG(native_->opened.st_mode)) {
        throw BadInput("cannot read " + std::string(role) + " '" + path + "': not a file");
    }
    setSize(static_cast<std::uint64_t>(native_->opened.st_size));
}

InputFile::~InputFile() = default;

std::size_t InputFile::readSome(std::uint64_t offset, void* buffer, std::size_t size) const {
    ssize_t read = 0;
    do {
        read = pread(native_->fd.get(), buffer, chunkOf(size), static_cast<off_t>(offset));
    } while (read < 0 && errno == EINTR);
    if (read < 0) {
        failed("pread(" + path() + ")");
    }
    if (read > 0) {
        native_->checkUnchanged(*this);
    }
    return static_cast<std::size_t>(read);
}

struct PendingOutput::Native {
    std::string target;
    std::string temporary;  // empty while the file has no name
    Descriptor fd;
    bool committed = false;

    // A name beside the target, unique to this process.
    std::string temporaryName() const { return target + "." + std::to_string(getpid()) + ".stamping"; }
};

PendingOutput::PendingOutput(const std::string& target) : native_(new Native) {
    native_->target = target;
#ifdef O_TMPFILE
    native_->fd.reset(open(folderOf(target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, NEW_FILE_MODE));
    // Kernels and file systems without unnamed files refuse in one of these ways.
    if (native_->fd.get() < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        throw BadInput("cannot write OUT '" + target + "': cannot create a file in '" + folderOf(target) +
                       "': " + systemText(errno));
    }
#endif
    if (native_->fd.get() < 0) {
        native_->temporary = native_->temporaryName();
        native_->fd.reset(
            open(native_->temporary.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, NEW_FILE_MODE));
        if (native_->fd.get() < 0) {
            throw BadInput("cannot write OUT '" + target + "': cannot create '" + native_->temporary +
                           "': " + systemText(errno));
        }
    }
}

PendingOutput::~PendingOutput() {
    if (!native_->committed && !native_->temporary.empty()) {
        unlink(native_->temporary.c_str());
    }
}

void PendingOutput::append(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size != 0) {
        const ssize_t written = write(native_->fd.get(), bytes, chunkOf(size));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            failed("write(" + native_->target + ")");
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
}

void PendingOutput::overwrite(std::uint64_t offset, const void* data, std::size_t size) {
    if (pwrite(native_->fd.get(), data, size, static_cast<off_t>(offset)) != static_cast<ssize_t>(size)) {
        failed("pwrite(" + native_->target + ")");
    }
}

void PendingOutput::commit(bool replace) {
    const std::string& target = native_->target;
    if (native_->temporary.empty()) {
        // The unnamed file gets a name through its entry in /proc: the target itself where nothing may be
        // replaced (the link fails if the target appeared), else a temporary name that then replaces it.
        const std::string self = "/proc/self/fd/" + std::to_string(native_->fd.get());
        const std::string name = replace ? native_->temporaryName() : target;
        if (replace) {
            unlink(name.c_str());  // a killed run's of this process number, if any
        }
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST) {
                throw outputExists(target);
            }
            failed("linkat(" + name + ")");
        }
        if (!replace) {
            native_->committed = true;
            return;
        }
        native_->temporary = name;
    }
    if (replace) {
        if (rename(native_->temporary.c_str(), target.c_str()) != 0) {
            failed("rename(" + native_->temporary + ", " + target + ")");
        }
    } else {
        // A hard link never replaces: it fails if the target appeared meanwhile.
        if (link(native_->temporary.c_str(), target.c_str()) != 0) {
            if (errno == EEXIST) {
                throw outputExists(target);
            }
            failed("link(" + native_->temporary + ", " + target + ")");
        }
        unlink(native_->temporary.c_str());
    }
    native_->committed = true;
}

#ifdef __linux__
namespace {

// Owns a read-only view of bytes of a file, mapped where the file holds them.
class FileView {
public:
    FileView(int fd, std::uint64_t offset, std::size_t size, const std::string& path) {
        static const std::uint64_t page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
        lead_ = static_cast<std::size_t>(offset % page);
        length_ = lead_ + size;
        base_ = mmap(nullptr, length_, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(offset - lead_));
        if (base_ == MAP_FAILED) {
            failed("mmap(" + path + ")");
        }
    }
    FileView(const FileView&) = delete;
    FileView& operator=(const FileView&) = delete;
    ~FileView() { munmap(base_, length_); }
    const std::uint8_t* bytes() const { return static_cast<const std::uint8_t*>(base_) + lead_; }

private:
    void* base_ = nullptr;
    std::size_t lead_ = 0;
    std::size_t length_ = 0;
};

// Each copy between files moves at most this much: few calls and mappings, and the bytes are still in the
// processor's cache when the checksum reads them.
constexpr std::size_t RANGE_CHUNK = 8 << 20;

// How copy_file_range refuses a copy it can't make between two files: a kernel without it, file systems that
// don't support it, or two file systems.
bool cannotCopyBetween(int error) {
    return error == ENOSYS || error == EXDEV || error == EINVAL || error == EOPNOTSUPP;
}

}  // namespace

// The kernel moves the bytes between the page caches, as cp does; read into the tool and written out again,
// they cost about twice as long. The checksum then reads them through a mapping of the output, a file that
// only this process writes (an input may shrink under a mapping, and that ends a process with a signal):
// what is summed is what the output holds, whatever happened to the input meanwhile.
void InputFile::appendTo(PendingOutput& out, std::uint64_t offset, std::uint64_t size,
                         const BytesAdded& added) const {
    const int to = out.native_->fd.get();
    while (size != 0) {
        const off_t at = lseek(to, 0, SEEK_CUR);
        loff_t from = static_cast<loff_t>(offset);
        const ssize_t copied =
            copy_file_range(native_->fd.get(), &from, to, nullptr,
                            static_cast<std::size_t>(std::min<std::uint64_t>(size, RANGE_CHUNK)), 0);
        if (copied < 0 && errno == EINTR) {
            continue;
        }
        if (copied < 0 && cannotCopyBetween(errno)) {
            InputBytes::appendTo(out, offset, size, added);
            return;
        }
        if (at < 0 || copied < 0) {
            failed("copy_file_range(" + path() + ", " + out.native_->target + ")");
        }
        if (copied == 0) {
            throw inputChanged(role(), path());  // it ends before the size it had when it was opened
        }
        native_->checkUnchanged(*this);
        const FileView view(to, static_cast<std::uint64_t>(at), static_cast<std::size_t>(copied),
                            out.native_->target);
        added(view.bytes(), static_cast<std::size_t>(copied));
        offset += static_cast<std::uint64_t>(copied);
        size -= static_cast<std::uint64_t>(copied);
    }
}
#endif

PathKind pathKind(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        return PathKind::missing;
    }
    return S_ISDIR(status.st_mode) ? PathKind::folder : PathKind::file;
}

}  // namespace stamp
