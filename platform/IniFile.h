#pragma once
// Velmora's settings file: a small INI reader and writer of our own. QSettings does not serve:
// it percent-encodes names and values outside ASCII and cannot read a Latin-1 file, and settings
// files written by older copier installations are Latin-1.
//
// File format
// - A line "[Name]" opens a section; a line "Key=Value" sets a key of the current section;
//   lines whose first non-blank character is ';' or '#' are comments. Blanks around section
//   names, keys and values are not part of them. Section and key names compare without case.
//   When a section or key occurs twice, the first occurrence counts.
// - A value enclosed in a pair of double or single quotes is read without them. Values with
//   leading or trailing blanks, or that are themselves enclosed in quotes, are written inside
//   double quotes, so every value without a line break reads back exactly as it was written.
//   Line breaks inside a value are written as blanks.
// - A text value is read up to 2047 characters.
// - Integers are written in decimal. They are read by the copier's whole-number rule
//   (platform/WholeNumber.h): after any leading blanks, an optional sign and decimal digits, or
//   hexadecimal digits after "$", "0x" or "0X", up to the end of the value, within the signed
//   32-bit range. Anything else reads as the default. Booleans are integers: written as 1 or 0,
//   read as non-zero = true.
//
// Encoding
// The file is read as bytes. Each line is decoded on its own: as UTF-8 when it is valid UTF-8,
// otherwise as Latin-1 (which decodes any byte). Lines the program does not change are written
// back byte for byte, so a Latin-1 file stays Latin-1 except for the lines Velmora writes, which
// are UTF-8. Decoding line by line keeps such a mixed file readable. Line endings follow the
// file's first line (CR LF or LF); a new file uses LF.
//
// Writing
// Every operation opens the file anew; nothing is held open or cached. Each write and each
// deletion replaces the whole file atomically: the new content goes to a temporary file in the
// same folder, is flushed to disk and then renamed over the old file. A process killed at any
// moment therefore leaves either the old or the new complete file, so an interrupted series of
// writes keeps the keys written so far. New sections go to the end of the file and new keys to
// the end of their section, in the order they are first written; all other lines (comments,
// blank lines, keys Velmora does not know) stay as they are. A settings file that is a symbolic
// link is written through the link.
//
// Errors
// Reading never fails: a missing or unreadable file gives the defaults. A write that cannot be
// done (read-only file, read-only or missing folder, full disk) raises EIniFileException
// "In <path> kann nicht geschrieben werden" and leaves the file as it was. A file without any
// write permission bit counts as read-only even for root, so a settings file the user made
// read-only is never replaced.

#include <QString>

class TIniFile {
public:
    explicit TIniFile(QString fileName) : m_fileName(std::move(fileName)) {}

    const QString& FileName() const { return m_fileName; }

    QString ReadString(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;

    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);
    void WriteBool(const QString& section, const QString& key, bool value);

    // Removes every occurrence of the key from the section. A key that is not there is no
    // error, and the file is then left alone.
    void DeleteKey(const QString& section, const QString& key);

    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;

    // Longest text value ReadString returns.
    static constexpr int MaxValueLength = 2047;

private:
    QString m_fileName;
};
