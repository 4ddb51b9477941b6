#include "platform/ElfVersion.h"

#include <QFile>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using u64 = std::uint64_t;

// Section header tables beyond this are not real programs; refusing them bounds the memory a
// crafted file can make us allocate.
constexpr u64 MaxHeaderTableSize = u64(16) << 20;
constexpr u64 MaxNameTableSize = u64(1) << 20;

// Where the bytes come from: a file read with pread, or an image in memory.
class Source {
public:
    virtual ~Source() = default;
    virtual u64 Size() const = 0;
    // Whether the bytes [offset, offset + length) are there; checked before anything is
    // allocated for them, so a small crafted file cannot make us reserve much memory.
    bool Contains(u64 offset, u64 length) const {
        return offset <= Size() && length <= Size() - offset;
    }
    // Reads exactly `length` bytes at `offset`; false when they are not all there.
    bool Read(u64 offset, u64 length, void* out) const {
        if (!Contains(offset, length))
            return false;
        return length == 0 || ReadChecked(offset, std::size_t(length), out);
    }

protected:
    virtual bool ReadChecked(u64 offset, std::size_t length, void* out) const = 0;
};

class MemorySource final : public Source {
public:
    explicit MemorySource(QByteArrayView image) : m_image(image) {}
    u64 Size() const override { return u64(m_image.size()); }

protected:
    bool ReadChecked(u64 offset, std::size_t length, void* out) const override {
        std::memcpy(out, m_image.data() + offset, length);
        return true;
    }

private:
    QByteArrayView m_image;
};

class FileSource final : public Source {
public:
    FileSource(int fd, u64 size) : m_fd(fd), m_size(size) {}
    u64 Size() const override { return m_size; }

protected:
    bool ReadChecked(u64 offset, std::size_t length, void* out) const override {
        auto* p = static_cast<char*>(out);
        while (length > 0) {
            const ssize_t n = ::pread(m_fd, p, length, off_t(offset));
            if (n < 0 && errno == EINTR)
                continue;
            // The file may have shrunk since it was measured.
            if (n <= 0)
                return false;
            p += n;
            offset += u64(n);
            length -= std::size_t(n);
        }
        return true;
    }

private:
    int m_fd;
    u64 m_size;
};

// A field of an ELF record: its offset and width, taken from <elf.h> so that the 32- and
// 64-bit layouts come from one place.
struct Field {
    std::size_t offset;
    std::size_t width;
};
#define ELF_FIELD(Type, member) (Field{offsetof(Type, member), sizeof(Type::member)})

struct Layout {
    std::size_t headerSize;
    Field shoff, shentsize, shnum, shstrndx;
    std::size_t sectionHeaderSize;
    Field name, type, offset, size, link;
};

constexpr Layout Layout32{sizeof(Elf32_Ehdr),
                          ELF_FIELD(Elf32_Ehdr, e_shoff),
                          ELF_FIELD(Elf32_Ehdr, e_shentsize),
                          ELF_FIELD(Elf32_Ehdr, e_shnum),
                          ELF_FIELD(Elf32_Ehdr, e_shstrndx),
                          sizeof(Elf32_Shdr),
                          ELF_FIELD(Elf32_Shdr, sh_name),
                          ELF_FIELD(Elf32_Shdr, sh_type),
                          ELF_FIELD(Elf32_Shdr, sh_offset),
                          ELF_FIELD(Elf32_Shdr, sh_size),
                          ELF_FIELD(Elf32_Shdr, sh_link)};

constexpr Layout Layout64{sizeof(Elf64_Ehdr),
                          ELF_FIELD(Elf64_Ehdr, e_shoff),
                          ELF_FIELD(Elf64_Ehdr, e_shentsize),
                          ELF_FIELD(Elf64_Ehdr, e_shnum),
                          ELF_FIELD(Elf64_Ehdr, e_shstrndx),
                          sizeof(Elf64_Shdr),
                          ELF_FIELD(Elf64_Shdr, sh_name),
                          ELF_FIELD(Elf64_Shdr, sh_type),
                          ELF_FIELD(Elf64_Shdr, sh_offset),
                          ELF_FIELD(Elf64_Shdr, sh_size),
                          ELF_FIELD(Elf64_Shdr, sh_link)};

#undef ELF_FIELD

struct Section {
    u64 name = 0, type = 0, offset = 0, size = 0, link = 0;
};

class Reader {
public:
    explicit Reader(const Source& source) : m_source(source) {}

    bool Find(QByteArrayView wanted, qsizetype maxSize, QByteArray& bytes) {
        if (!ReadHeader() || !ReadSectionTable() || !ReadNames())
            return false;
        for (u64 i = 0; i < m_count; ++i) {
            const Section s = SectionAt(i);
            if (!NameIs(s.name, wanted))
                continue;
            if (s.type == SHT_NOBITS || maxSize < 0 || s.size > u64(maxSize) ||
                !m_source.Contains(s.offset, s.size))
                return false;
            QByteArray data(qsizetype(s.size), Qt::Uninitialized);
            if (!m_source.Read(s.offset, s.size, data.data()))
                return false;
            bytes = std::move(data);
            return true;
        }
        return false;
    }

private:
    u64 Get(const unsigned char* record, Field f) const {
        u64 v = 0;
        for (std::size_t i = 0; i < f.width; ++i) {
            const std::size_t byte = m_bigEndian ? i : f.width - 1 - i;
            v = (v << 8) | record[f.offset + byte];
        }
        return v;
    }

    bool ReadHeader() {
        unsigned char ident[EI_NIDENT];
        if (!m_source.Read(0, EI_NIDENT, ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0)
            return false;
        if (ident[EI_CLASS] == ELFCLASS32)
            m_layout = &Layout32;
        else if (ident[EI_CLASS] == ELFCLASS64)
            m_layout = &Layout64;
        else
            return false;
        if (ident[EI_DATA] != ELFDATA2LSB && ident[EI_DATA] != ELFDATA2MSB)
            return false;
        m_bigEndian = ident[EI_DATA] == ELFDATA2MSB;

        unsigned char header[sizeof(Elf64_Ehdr)];
        if (!m_source.Read(0, m_layout->headerSize, header))
            return false;
        m_tableOffset = Get(header, m_layout->shoff);
        m_entrySize = Get(header, m_layout->shentsize);
        m_count = Get(header, m_layout->shnum);
        m_namesIndex = Get(header, m_layout->shstrndx);
        return m_tableOffset != 0 && m_entrySize >= m_layout->sectionHeaderSize;
    }

    bool ReadSectionTable() {
        // With extended numbering the real count and name-table index live in section 0.
        if (m_count == 0 || m_namesIndex == SHN_XINDEX) {
            std::vector<unsigned char> first(std::size_t(m_layout->sectionHeaderSize));
            if (!m_source.Read(m_tableOffset, first.size(), first.data()))
                return false;
            if (m_count == 0)
                m_count = Get(first.data(), m_layout->size);
            if (m_namesIndex == SHN_XINDEX)
                m_namesIndex = Get(first.data(), m_layout->link);
        }
        if (m_count == 0 || m_count > MaxHeaderTableSize / m_entrySize ||
            !m_source.Contains(m_tableOffset, m_count * m_entrySize))
            return false;
        m_table.resize(std::size_t(m_count * m_entrySize));
        return m_source.Read(m_tableOffset, m_table.size(), m_table.data());
    }

    bool ReadNames() {
        if (m_namesIndex >= m_count)
            return false;
        const Section names = SectionAt(m_namesIndex);
        if (names.type == SHT_NOBITS || names.size == 0 || names.size > MaxNameTableSize ||
            !m_source.Contains(names.offset, names.size))
            return false;
        m_names.resize(std::size_t(names.size));
        return m_source.Read(names.offset, names.size, m_names.data());
    }

    Section SectionAt(u64 index) const {
        const unsigned char* record = m_table.data() + index * m_entrySize;
        Section s;
        s.name = Get(record, m_layout->name);
        s.type = Get(record, m_layout->type);
        s.offset = Get(record, m_layout->offset);
        s.size = Get(record, m_layout->size);
        s.link = Get(record, m_layout->link);
        return s;
    }

    // The name must end with its zero byte inside the name table.
    bool NameIs(u64 offset, QByteArrayView wanted) const {
        const u64 length = u64(wanted.size());
        return offset < m_names.size() && length < m_names.size() - offset &&
               std::memcmp(m_names.data() + offset, wanted.data(), std::size_t(length)) == 0 &&
               m_names[std::size_t(offset + length)] == '\0';
    }

    const Source& m_source;
    const Layout* m_layout = nullptr;
    bool m_bigEndian = false;
    u64 m_tableOffset = 0;
    u64 m_entrySize = 0;
    u64 m_count = 0;
    u64 m_namesIndex = 0;
    std::vector<unsigned char> m_table;
    std::vector<char> m_names;
};

} // namespace

namespace ElfVersion {

bool ReadSection(const QString& path, QByteArrayView sectionName, QByteArray& bytes,
                 qsizetype maxSize) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused just below.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    bool found = false;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const FileSource source(fd, u64(st.st_size));
        found = Reader(source).Find(sectionName, maxSize, bytes);
    }
    ::close(fd);
    return found;
}

bool ReadSectionFromImage(QByteArrayView image, QByteArrayView sectionName, QByteArray& bytes,
                          qsizetype maxSize) {
    const MemorySource source(image);
    return Reader(source).Find(sectionName, maxSize, bytes);
}

} // namespace ElfVersion
