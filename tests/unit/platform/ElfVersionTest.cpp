// The ELF section reader on tiny hand-built images of both classes and byte orders, and on
// every kind of damage a crafted or truncated file can carry.

#include "platform/ElfVersion.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {

const QByteArray Wanted = ".velmora_version";

// Builds an ELF image: header, section contents, the name table, then the section header table
// (null section, the given sections, the name table). Field offsets are written out by hand
// from the ELF standard, independently of the reader's use of <elf.h>.
struct ElfBuilder {
    bool wide = true;      // ELFCLASS64
    bool big = false;      // ELFDATA2MSB
    bool extended = false; // section count and name-table index in section 0
    std::vector<std::pair<QByteArray, QByteArray>> sections{
        {".text", "code"}, {Wanted, "VERSION-BYTES"}, {".data", "data"}};

    // Where things ended up, for damage tests (section headers: sh_name at +0, sh_type at +4,
    // sh_offset at +24 and sh_size at +32 in the 64-bit layout).
    qsizetype shoffAt = 0, shentsizeAt = 0, shnumAt = 0, shstrndxAt = 0, tableAt = 0, entrySize = 0,
              namesIndex = 0, wantedNameEnd = 0;

    void Put(QByteArray& out, qsizetype at, std::uint64_t v, int width) const {
        for (int i = 0; i < width; ++i)
            out[at + (big ? width - 1 - i : i)] = char((v >> (8 * i)) & 0xFF);
    }

    QByteArray Build() {
        const int addr = wide ? 8 : 4;
        const qsizetype headerSize = wide ? 64 : 52;
        entrySize = wide ? 64 : 40;
        QByteArray out(headerSize, '\0');
        out[0] = 0x7F, out[1] = 'E', out[2] = 'L', out[3] = 'F';
        out[4] = wide ? 2 : 1;
        out[5] = big ? 2 : 1;
        out[6] = 1;
        Put(out, 16, 2, 2); // ET_EXEC
        Put(out, 20, 1, 4); // EV_CURRENT

        std::vector<qsizetype> offsets;
        for (const auto& s : sections) {
            offsets.push_back(out.size());
            out += s.second;
        }
        QByteArray names(1, '\0');
        std::vector<qsizetype> nameAt;
        for (const auto& s : sections) {
            nameAt.push_back(names.size());
            names += s.first + '\0';
            if (s.first == Wanted)
                wantedNameEnd = names.size() - 1;
        }
        const qsizetype namesNameAt = names.size();
        names += QByteArray(".shstrtab") + '\0';
        const qsizetype namesAt = out.size();
        out += names;

        const qsizetype count = qsizetype(sections.size()) + 2;
        namesIndex = count - 1;
        tableAt = out.size();
        out += QByteArray(count * entrySize, '\0');
        auto header = [&](qsizetype index, std::uint64_t name, std::uint64_t type,
                          std::uint64_t offset, std::uint64_t size, std::uint64_t link) {
            const qsizetype at = tableAt + index * entrySize;
            Put(out, at, name, 4);
            Put(out, at + 4, type, 4);
            Put(out, at + 8 + 2 * addr, offset, addr);
            Put(out, at + 8 + 3 * addr, size, addr);
            Put(out, at + 8 + 4 * addr, link, 4);
        };
        for (std::size_t i = 0; i < sections.size(); ++i)
            header(qsizetype(i) + 1, std::uint64_t(nameAt[i]), 1 /* SHT_PROGBITS */,
                   std::uint64_t(offsets[i]), std::uint64_t(sections[i].second.size()), 0);
        header(namesIndex, std::uint64_t(namesNameAt), 3 /* SHT_STRTAB */, std::uint64_t(namesAt),
               std::uint64_t(names.size()), 0);
        if (extended)
            header(0, 0, 0, 0, std::uint64_t(count), std::uint64_t(namesIndex));

        shoffAt = 24 + 2 * addr;
        shentsizeAt = shoffAt + addr + 4 + 6;
        shnumAt = shentsizeAt + 2;
        shstrndxAt = shnumAt + 2;
        Put(out, shoffAt, std::uint64_t(tableAt), addr);
        Put(out, shoffAt + addr + 4, std::uint64_t(headerSize), 2); // e_ehsize
        Put(out, shentsizeAt, std::uint64_t(entrySize), 2);
        Put(out, shnumAt, extended ? 0 : std::uint64_t(count), 2);
        Put(out, shstrndxAt, extended ? 0xFFFF : std::uint64_t(namesIndex), 2);
        return out;
    }
};

QByteArray Read(QByteArrayView image) {
    QByteArray bytes = "untouched";
    if (!ElfVersion::ReadSectionFromImage(image, Wanted, bytes)) {
        EXPECT_EQ(bytes, "untouched") << "a failed read must not hand back anything";
        return "<none>";
    }
    return bytes;
}

TEST(ElfVersionTest, FindsTheSectionInEveryClassAndByteOrder) {
    for (const bool wide : {false, true})
        for (const bool big : {false, true})
            for (const bool extended : {false, true}) {
                SCOPED_TRACE(testing::Message() << "64-bit " << wide << ", big-endian " << big
                                                << ", extended numbering " << extended);
                ElfBuilder b;
                b.wide = wide, b.big = big, b.extended = extended;
                const QByteArray image = b.Build();
                EXPECT_EQ(Read(image), "VERSION-BYTES");
                QByteArray text;
                EXPECT_TRUE(ElfVersion::ReadSectionFromImage(image, ".text", text));
                EXPECT_EQ(text, "code");
                EXPECT_FALSE(ElfVersion::ReadSectionFromImage(image, ".velmora", text))
                    << "a prefix of a name is another name";
                EXPECT_FALSE(ElfVersion::ReadSectionFromImage(image, ".velmora_version2", text));
            }
}

TEST(ElfVersionTest, DamagedImagesGiveFalse) {
    ElfBuilder b;
    const QByteArray image = b.Build();
    const quint64 size = quint64(image.size());
    const qsizetype wantedHeader = b.tableAt + 2 * b.entrySize; // the second given section
    struct Damage {
        const char* what;
        qsizetype at;
        quint64 value;
        int width;
    };
    const Damage damages[] = {
        {"not ELF", 1, 'X', 1},
        {"unknown class", 4, 3, 1},
        {"unknown byte order", 5, 0, 1},
        {"no section table", b.shoffAt, 0, 8},
        {"table beyond the file", b.shoffAt, size + 1000, 8},
        {"table offset near 2^64", b.shoffAt, ~quint64(0) - 8, 8},
        {"entries too small", b.shentsizeAt, 10, 2},
        {"entries that run past the end", b.shentsizeAt, 0xFFFF, 2},
        {"too many sections", b.shnumAt, 0xFF00, 2},
        {"name table index out of range", b.shstrndxAt, 99, 2},
        {"extended numbering without figures in section 0", b.shnumAt, 0, 2},
        {"name offset beyond the name table", wantedHeader, 0x7FFFFFFF, 4},
        {"section without file contents (NOBITS)", wantedHeader + 4, 8, 4},
        {"section contents beyond the file", wantedHeader + 24, size - 4, 8},
        {"section size near 2^64", wantedHeader + 32, ~quint64(0), 8},
        // The name table then ends just before the zero byte of the wanted name.
        {"name that runs off the end of the name table",
         b.tableAt + b.namesIndex * b.entrySize + 32, quint64(b.wantedNameEnd), 8},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        QByteArray damaged = image;
        b.Put(damaged, d.at, d.value, d.width);
        EXPECT_EQ(Read(damaged), "<none>");
    }
}

TEST(ElfVersionTest, EveryTruncationGivesFalse) {
    ElfBuilder b;
    const QByteArray image = b.Build();
    // The section header table is at the end, so every shorter prefix lacks part of it.
    for (qsizetype length = 0; length < image.size(); ++length)
        ASSERT_EQ(Read(QByteArrayView(image).first(length)), "<none>") << length;
}

TEST(ElfVersionTest, ReadsFilesAndRefusesWhatIsNoRegularFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ElfBuilder b;
    b.big = true;
    const QString elf = dir.filePath("tiny.elf");
    QFile f(elf);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(b.Build());
    f.close();
    QByteArray bytes;
    EXPECT_TRUE(ElfVersion::ReadSection(elf, Wanted, bytes));
    EXPECT_EQ(bytes, "VERSION-BYTES");

    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& path : {fifo, dir.path(), dir.filePath("missing"), QString()}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_FALSE(ElfVersion::ReadSection(path, Wanted, bytes)) << "and no hang on a FIFO";
    }
}

} // namespace
