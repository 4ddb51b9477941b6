#pragma once
// The one way Velmora reads metafile bytes: every read is checked against the bytes really there.
// A read past the end raises TShortRead, which the record player catches per record, so a record
// that lies about its size is skipped rather than read beyond.

#include <QByteArray>
#include <cstdint>
#include <cstring>

struct TShortRead {};

class TMetaReader {
public:
    TMetaReader() = default;
    TMetaReader(const char* data, qsizetype size) : m_data(data), m_size(size < 0 ? 0 : size) {}
    explicit TMetaReader(const QByteArray& bytes) : TMetaReader(bytes.constData(), bytes.size()) {}

    qsizetype Size() const { return m_size; }
    const char* Data() const { return m_data; }
    bool Has(qsizetype offset, qsizetype count) const {
        return offset >= 0 && count >= 0 && offset <= m_size && count <= m_size - offset;
    }
    void Need(qsizetype offset, qsizetype count) const {
        if (!Has(offset, count))
            throw TShortRead();
    }

    uint8_t U8(qsizetype offset) const {
        Need(offset, 1);
        return static_cast<uint8_t>(m_data[offset]);
    }
    uint16_t U16(qsizetype offset) const {
        Need(offset, 2);
        return static_cast<uint16_t>(U8Raw(offset) | U8Raw(offset + 1) << 8);
    }
    int16_t I16(qsizetype offset) const { return static_cast<int16_t>(U16(offset)); }
    uint32_t U32(qsizetype offset) const {
        Need(offset, 4);
        return uint32_t(U8Raw(offset)) | uint32_t(U8Raw(offset + 1)) << 8 |
               uint32_t(U8Raw(offset + 2)) << 16 | uint32_t(U8Raw(offset + 3)) << 24;
    }
    int32_t I32(qsizetype offset) const { return static_cast<int32_t>(U32(offset)); }
    float F32(qsizetype offset) const {
        const uint32_t bits = U32(offset);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    // `count` bytes from `offset`, checked.
    QByteArray Bytes(qsizetype offset, qsizetype count) const {
        Need(offset, count);
        return QByteArray(m_data + offset, count);
    }
    // The reader of `count` bytes from `offset`, checked.
    TMetaReader Sub(qsizetype offset, qsizetype count) const {
        Need(offset, count);
        return TMetaReader(m_data + offset, count);
    }

private:
    uint32_t U8Raw(qsizetype offset) const { return static_cast<uint8_t>(m_data[offset]); }

    const char* m_data = nullptr;
    qsizetype m_size = 0;
};
