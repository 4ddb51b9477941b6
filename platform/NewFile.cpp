#include "platform/NewFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t BufferSize = 1 << 20;
constexpr int MaxNameAttempts = 100;

bool ProcSelfFdWorks() {
    static const bool works = ::access("/proc/self/fd", X_OK) == 0;
    return works;
}

// The path through which a nameless file can be linked into a folder.
QByteArray SelfPath(int fd) {
    return "/proc/self/fd/" + QByteArray::number(fd);
}

// Hidden temporary names beside `target` start with this.
QByteArray TemporaryPattern(const QString& target) {
    const QFileInfo info(target);
    return QFile::encodeName(info.absolutePath()) + "/." + QFile::encodeName(info.fileName()) +
           ".tmp-";
}

QByteArray TemporaryName(const QByteArray& pattern) {
    return pattern + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
}

} // namespace

TNewFile::TNewFile(const QString& target) {
#ifdef O_TMPFILE
    if (ProcSelfFdWorks()) {
        const QByteArray folder = QFile::encodeName(QFileInfo(target).absolutePath());
        m_fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (m_fd >= 0)
            return;
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return;
    }
#endif
    const QByteArray pattern = TemporaryPattern(target);
    for (int attempt = 0; attempt < MaxNameAttempts && m_fd < 0; ++attempt) {
        m_temporary = TemporaryName(pattern);
        m_fd = ::open(m_temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd < 0 && errno != EEXIST)
            break;
    }
    if (m_fd < 0)
        m_temporary.clear();
}

TNewFile::~TNewFile() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_temporary.isEmpty())
        ::unlink(m_temporary.constData());
}

bool TNewFile::Write(const void* data, std::size_t size) {
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    const auto* p = static_cast<const char*>(data);
    if (size >= BufferSize)
        return Flush() && WriteOut(p, size);
    if (m_buffer.empty())
        m_buffer.resize(BufferSize);
    if (size > m_buffer.size() - m_used && !Flush())
        return false;
    std::memcpy(m_buffer.data() + m_used, p, size);
    m_used += size;
    return true;
}

bool TNewFile::Write(const QByteArray& bytes) {
    return Write(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

TNewFile::TLinkResult TNewFile::LinkAs(const QString& name) {
    if (!Complete())
        return TLinkResult::Failed;
    const QByteArray path = QFile::encodeName(name);
    if (m_temporary.isEmpty()) {
        if (::linkat(AT_FDCWD, SelfPath(m_fd).constData(), AT_FDCWD, path.constData(),
                     AT_SYMLINK_FOLLOW) == 0)
            return TLinkResult::Linked;
        return errno == EEXIST ? TLinkResult::NameTaken : TLinkResult::Failed;
    }
    if (::link(m_temporary.constData(), path.constData()) == 0) {
        ::unlink(m_temporary.constData());
        m_temporary.clear();
        return TLinkResult::Linked;
    }
    if (errno == EEXIST)
        return TLinkResult::NameTaken;
    // File systems without hard links (FAT on a USB stick) may still rename exclusively.
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
        return TLinkResult::Failed;
    if (::renameat2(AT_FDCWD, m_temporary.constData(), AT_FDCWD, path.constData(),
                    RENAME_NOREPLACE) == 0) {
        m_temporary.clear();
        return TLinkResult::Linked;
    }
    if (errno == EEXIST)
        return TLinkResult::NameTaken;
    if (errno != EINVAL && errno != ENOSYS)
        return TLinkResult::Failed;
    // Neither: claim the name with an empty file, then put the complete one over it.
    const int claim = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (claim < 0)
        return errno == EEXIST ? TLinkResult::NameTaken : TLinkResult::Failed;
    ::close(claim);
    if (::rename(m_temporary.constData(), path.constData()) != 0) {
        const int error = errno;
        ::unlink(path.constData());
        errno = error;
        return TLinkResult::Failed;
    }
    m_temporary.clear();
    return TLinkResult::Linked;
}

bool TNewFile::Replace(const QString& target) {
    if (!Complete())
        return false;
    const QByteArray path = QFile::encodeName(target);
    // The new file keeps the old one's permissions (a file made private stays private).
    struct stat old {};
    if (::stat(path.constData(), &old) == 0)
        ::fchmod(m_fd, old.st_mode & 07777);
    if (m_temporary.isEmpty()) {
        // A nameless file cannot be renamed; it gets a hidden name first.
        const QByteArray pattern = TemporaryPattern(target);
        const QByteArray self = SelfPath(m_fd);
        for (int attempt = 0; attempt < MaxNameAttempts; ++attempt) {
            const QByteArray name = TemporaryName(pattern);
            if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, name.constData(),
                         AT_SYMLINK_FOLLOW) == 0) {
                m_temporary = name;
                break;
            }
            if (errno != EEXIST)
                break;
        }
        if (m_temporary.isEmpty())
            return false;
    }
    // Some file systems (NFS) report a failed write only when the file is closed.
    if (::close(std::exchange(m_fd, -1)) != 0)
        return false;
    if (::rename(m_temporary.constData(), path.constData()) != 0)
        return false;
    // The folder is not synced: after a power cut the rename may be lost, which leaves the
    // previous complete file.
    m_temporary.clear();
    return true;
}

bool TNewFile::WriteOut(const char* p, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(m_fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = ENOSPC;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool TNewFile::Flush() {
    const std::size_t used = std::exchange(m_used, 0);
    return WriteOut(m_buffer.data(), used);
}

// The data must be on disk before the name is, or a power cut could leave a complete-looking
// name on an empty or partial file.
bool TNewFile::Complete() {
    if (m_complete)
        return true;
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    if (!Flush())
        return false;
    if (::fdatasync(m_fd) != 0 && errno != EINVAL)
        return false;
    m_complete = true;
    return true;
}
