#pragma once
// A new file that gets its name only when it is complete and on disk, so that no reader ever
// sees it half-written and a process killed halfway leaves at most a hidden temporary file.
// Failures are reported by return value (with errno set); each caller words its own error.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <vector>

class TNewFile {
public:
    enum class TLinkResult { Linked, NameTaken, Failed };

    // Opens the content of a new file in the folder of `target`: a file without a name
    // (O_TMPFILE) or, where the file system cannot do that, a hidden temporary one beside it.
    // IsOpen() tells whether that worked.
    explicit TNewFile(const QString& target);
    ~TNewFile();

    TNewFile(const TNewFile&) = delete;
    TNewFile& operator=(const TNewFile&) = delete;

    bool IsOpen() const { return m_fd >= 0; }

    // Appends to the content; small pieces are collected before they go to the file.
    bool Write(const void* data, std::size_t size);
    bool Write(const QByteArray& bytes);

    // Gives the complete file the name `name` (in the same folder) only if no file, folder or
    // link of that name exists: NameTaken when one does. May be tried again with another name.
    TLinkResult LinkAs(const QString& name);

    // Puts the complete file in place of `target`, which may exist; a file being replaced passes
    // its permissions on. `target` is the file itself, not a symbolic link to it.
    bool Replace(const QString& target);

private:
    bool WriteOut(const char* p, std::size_t size);
    bool Flush();
    bool Complete();

    int m_fd = -1;
    QByteArray m_temporary; // empty for a nameless file
    std::vector<char> m_buffer;
    std::size_t m_used = 0;
    bool m_complete = false;
};
