#pragma once
// Reads one named section out of an ELF file. Velmora keeps its version information in a
// section of its own executable; this reader finds that section in any file by path, so the
// version of another program (or of a file that has none) can be asked for too.
//
// The file is untrusted input: every offset, size and count in it is checked against the bytes
// really there. Both ELF classes (32 and 64 bit) and both byte orders are read, as is the
// extended section numbering of files with 65280 sections or more. Files that are not ELF,
// truncated or damaged files, sections without file content (like .bss) and sections larger
// than `maxSize` give false. Only regular files are opened, so a FIFO or a device never blocks.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace ElfVersion {

// Largest section the readers hand back; version information is a few hundred bytes.
constexpr qsizetype DefaultMaxSectionSize = 1 << 20;

// The bytes of section `sectionName` of the ELF file at `path`.
bool ReadSection(const QString& path, QByteArrayView sectionName, QByteArray& bytes,
                 qsizetype maxSize = DefaultMaxSectionSize);

// The same for an ELF image held in memory.
bool ReadSectionFromImage(QByteArrayView image, QByteArrayView sectionName, QByteArray& bytes,
                          qsizetype maxSize = DefaultMaxSectionSize);

} // namespace ElfVersion
