#include "dsm/sane/SanePage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sanebridge {

namespace {

void Put16(unsigned char* p, unsigned v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void Put32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

int ChannelsOf(FrameFormat f) {
    return f == FrameFormat::Rgb ? 3 : 1;
}

// Byte offset of a single-colour frame's channel in a B,G,R pixel.
int BgrOffset(FrameFormat f) {
    switch (f) {
    case FrameFormat::Red:
        return 2;
    case FrameFormat::Green:
        return 1;
    default:
        return 0;
    }
}

// Sample i of a line as 8 bits. SANE sends 16-bit samples in the machine's byte order and
// 1-bit samples with 1 meaning black.
unsigned char Sample(const unsigned char* line, long long i, int depth) {
    switch (depth) {
    case 16: {
        std::uint16_t v;
        std::memcpy(&v, line + 2 * i, 2);
        return static_cast<unsigned char>(v >> 8);
    }
    case 1:
        return ((line[i >> 3] >> (7 - (i & 7))) & 1) ? 0 : 255;
    default:
        return line[i];
    }
}

} // namespace

PageAssembler::PageAssembler(DibMemory memory) : m_memory(memory) {}

PageAssembler::~PageAssembler() {
    Discard();
}

void PageAssembler::Discard() {
    if (m_block)
        m_memory.release(m_block);
    m_block = nullptr;
    std::vector<unsigned char>().swap(m_rows);
}

long long PageAssembler::LinesTotal() const {
    return m_height < 0 ? 0 : m_height * m_frames;
}

bool PageAssembler::BeginFrame(const FrameParams& p) {
    m_error.clear();
    if (p.depth != 1 && p.depth != 8 && p.depth != 16) {
        m_error = "unsupported depth " + std::to_string(p.depth);
        return false;
    }
    const long long neededBits =
        static_cast<long long>(p.pixelsPerLine) * ChannelsOf(p.format) * p.depth;
    if (p.pixelsPerLine <= 0 || p.bytesPerLine <= 0 || p.bytesPerLine < (neededBits + 7) / 8) {
        m_error = "line of " + std::to_string(p.bytesPerLine) + " bytes cannot hold " +
                  std::to_string(p.pixelsPerLine) + " pixels";
        return false;
    }
    const bool single = p.format == FrameFormat::Red || p.format == FrameFormat::Green ||
                        p.format == FrameFormat::Blue;
    if (!m_firstFrameDone) {
        m_width = p.pixelsPerLine;
        m_frames = single ? 3 : 1;
        m_bitCount = p.format == FrameFormat::Gray ? (p.depth == 1 ? 1 : 8) : 24;
        m_stride = ((static_cast<long long>(m_width) * m_bitCount + 31) / 32) * 4;
        const int paletteEntries = m_bitCount == 1 ? 2 : m_bitCount == 8 ? 256 : 0;
        m_headerBytes = 40 + 4 * paletteEntries;
        m_height = p.lines;
        if (m_height >= 0) {
            const std::size_t bytes = m_headerBytes + static_cast<std::size_t>(m_stride * m_height);
            m_block = static_cast<unsigned char*>(m_memory.alloc(bytes));
            if (!m_block) {
                m_error = "out of memory";
                return false;
            }
            // Rows never written (a page that ends early) stay white, not black.
            std::memset(m_block + m_headerBytes, 0xFF, bytes - m_headerBytes);
        }
    } else if (!single || m_frames != 3 || p.pixelsPerLine != m_width ||
               (m_height >= 0 && p.lines >= 0 && p.lines != m_height)) {
        m_error = "frame does not match the page's first frame";
        return false;
    }
    m_frame = p;
    m_inFrame = true;
    m_row = 0;
    m_line.assign(static_cast<std::size_t>(p.bytesPerLine), 0);
    m_lineFill = 0;
    return true;
}

unsigned char* PageAssembler::RowAddress(long long row) {
    if (m_height >= 0)
        return row < m_height ? m_block + m_headerBytes + (m_height - 1 - row) * m_stride : nullptr;
    // Unknown length: the first frame grows the rows; later frames only fill them.
    if (!m_firstFrameDone) {
        if (m_rows.size() < static_cast<std::size_t>((row + 1) * m_stride))
            m_rows.resize(static_cast<std::size_t>((row + 1) * m_stride), 0xFF);
    } else if (row >= m_rowsKept) {
        return nullptr;
    }
    return m_rows.data() + row * m_stride;
}

void PageAssembler::ConvertLine(const unsigned char* src, unsigned char* dst) const {
    const int depth = m_frame.depth;
    if (m_bitCount == 1) {
        // Palette {black, white}: DIB bit 1 = white, SANE bit 1 = black.
        const long long bytes = (m_width + 7) / 8;
        for (long long i = 0; i < bytes; ++i)
            dst[i] = static_cast<unsigned char>(~src[i]);
        return;
    }
    if (m_bitCount == 8) {
        for (long long x = 0; x < m_width; ++x)
            dst[x] = Sample(src, x, depth);
        return;
    }
    if (m_frame.format == FrameFormat::Rgb) {
        for (long long x = 0; x < m_width; ++x) {
            dst[3 * x + 0] = Sample(src, 3 * x + 2, depth);
            dst[3 * x + 1] = Sample(src, 3 * x + 1, depth);
            dst[3 * x + 2] = Sample(src, 3 * x + 0, depth);
        }
        return;
    }
    // One colour of a three-pass scan.
    const int off = BgrOffset(m_frame.format);
    for (long long x = 0; x < m_width; ++x)
        dst[3 * x + off] = Sample(src, x, depth);
}

void PageAssembler::Feed(const unsigned char* data, std::size_t size) {
    if (!m_inFrame)
        return;
    const std::size_t bpl = m_line.size();
    while (size > 0) {
        // Whole lines straight from the caller's buffer; only split lines are copied.
        if (m_lineFill == 0 && size >= bpl) {
            if (unsigned char* dst = RowAddress(m_row)) {
                ConvertLine(data, dst);
                ++m_row;
            }
            data += bpl;
            size -= bpl;
            continue;
        }
        const std::size_t take = std::min(size, bpl - m_lineFill);
        std::memcpy(m_line.data() + m_lineFill, data, take);
        m_lineFill += take;
        data += take;
        size -= take;
        if (m_lineFill == bpl) {
            if (unsigned char* dst = RowAddress(m_row)) {
                ConvertLine(m_line.data(), dst);
                ++m_row;
            }
            m_lineFill = 0;
        }
    }
}

void PageAssembler::EndFrame() {
    if (!m_inFrame)
        return;
    m_inFrame = false;
    m_rowsKept = m_firstFrameDone ? std::min(m_rowsKept, m_row) : m_row;
    m_linesDoneAllFrames += m_height >= 0 ? m_height : m_row;
    m_firstFrameDone = true;
    ++m_framesDone;
}

long long PageAssembler::RowsComplete() const {
    if (m_framesDone >= m_frames)
        return m_rowsKept;
    return m_inFrame && m_framesDone == m_frames - 1 ? m_row : 0;
}

void PageAssembler::CopyRow(long long row, std::uint32_t* out) const {
    const unsigned char* src = m_height >= 0
                                   ? m_block + m_headerBytes + (m_height - 1 - row) * m_stride
                                   : m_rows.data() + row * m_stride;
    for (long long x = 0; x < m_width; ++x) {
        std::uint32_t r, g, b;
        if (m_bitCount == 1) {
            r = g = b = ((src[x >> 3] >> (7 - (x & 7))) & 1) ? 255 : 0;
        } else if (m_bitCount == 8) {
            r = g = b = src[x];
        } else {
            b = src[3 * x];
            g = src[3 * x + 1];
            r = src[3 * x + 2];
        }
        out[x] = 0xff000000u | (r << 16) | (g << 8) | b;
    }
}

void* PageAssembler::TakeDib(double dpiX, double dpiY) {
    if (!m_firstFrameDone || m_inFrame) {
        Discard();
        return nullptr;
    }
    const long long height = m_rowsKept;
    unsigned char* block = m_block;
    if (m_height < 0) {
        block = static_cast<unsigned char*>(
            m_memory.alloc(m_headerBytes + static_cast<std::size_t>(m_stride * height)));
        if (!block) {
            Discard();
            return nullptr;
        }
        for (long long r = 0; r < height; ++r)
            std::memcpy(block + m_headerBytes + (height - 1 - r) * m_stride,
                        m_rows.data() + r * m_stride, static_cast<std::size_t>(m_stride));
        std::vector<unsigned char>().swap(m_rows);
    } else if (height < m_height) {
        // Bottom-up rows: the lines that arrived sit at the end of the block.
        std::memmove(block + m_headerBytes, block + m_headerBytes + (m_height - height) * m_stride,
                     static_cast<std::size_t>(height * m_stride));
    }
    m_block = nullptr;

    unsigned char* h = block;
    std::memset(h, 0, 40);
    Put32(h + 0, 40);
    Put32(h + 4, static_cast<std::uint32_t>(m_width));
    Put32(h + 8, static_cast<std::uint32_t>(height));
    Put16(h + 12, 1);
    Put16(h + 14, static_cast<unsigned>(m_bitCount));
    Put32(h + 20, static_cast<std::uint32_t>(m_stride * height));
    Put32(h + 24, static_cast<std::uint32_t>(std::lround(dpiX / 0.0254)));
    Put32(h + 28, static_cast<std::uint32_t>(std::lround(dpiY / 0.0254)));
    const int entries = m_bitCount == 1 ? 2 : m_bitCount == 8 ? 256 : 0;
    Put32(h + 32, static_cast<std::uint32_t>(entries));
    for (int i = 0; i < entries; ++i) {
        const unsigned char v = static_cast<unsigned char>(entries == 2 ? i * 255 : i);
        unsigned char* e = h + 40 + 4 * i;
        e[0] = e[1] = e[2] = v;
        e[3] = 0;
    }
    return block;
}

} // namespace sanebridge
