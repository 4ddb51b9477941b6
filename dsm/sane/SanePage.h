#pragma once
// Turns the frames SANE delivers for one page into a packed DIB (information header, colour
// table, bottom-up rows padded to four bytes), the form TWAIN's native transfer hands to the
// application. Knows SANE's frame layout but not its header: the session translates.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sanebridge {

// Where the DIB's bytes come from: the memory-block registry of whoever receives the page.
struct DibMemory {
    void* (*alloc)(std::size_t size); // zero-filled block, nullptr when out of memory
    void (*release)(void* block);
};

enum class FrameFormat { Gray, Rgb, Red, Green, Blue };

// SANE_Parameters after sane_start. lines = -1: the length is unknown (hand scanner), the
// frame ends at SANE_STATUS_EOF.
struct FrameParams {
    FrameFormat format = FrameFormat::Gray;
    bool lastFrame = true;
    int bytesPerLine = 0;
    int pixelsPerLine = 0;
    int lines = 0;
    int depth = 8;
};

class PageAssembler {
public:
    explicit PageAssembler(DibMemory memory);
    ~PageAssembler();
    PageAssembler(const PageAssembler&) = delete;
    PageAssembler& operator=(const PageAssembler&) = delete;

    // Starts a frame; false (with Error()) for parameters no DIB can hold or that do not match
    // the page's earlier frames.
    bool BeginFrame(const FrameParams& params);
    // Bytes of the current frame in any chunking; lines beyond the announced count are dropped.
    void Feed(const unsigned char* data, std::size_t size);
    // The current frame has reached EOF.
    void EndFrame();
    // The finished page as a block of `memory` (ownership passes to the caller), or nullptr
    // when no frame was complete or memory ran out. A page shorter than announced keeps the
    // lines that arrived.
    void* TakeDib(double dpiX, double dpiY);

    const std::string& Error() const { return m_error; }
    // Progress of the page in lines over all frames (total 0 when unknown).
    long long LinesDone() const { return m_linesDoneAllFrames + m_row; }
    long long LinesTotal() const;

    // The page as it grows, for a preview: its width, its height (0 while unknown), the rows
    // from the top that are complete on every channel (a three-pass page's rows only complete
    // with its last frame), and one such row as 0xffRRGGBB. Valid until TakeDib.
    int Width() const { return m_width; }
    long long Height() const { return m_height < 0 ? 0 : m_height; }
    long long RowsComplete() const;
    void CopyRow(long long row, std::uint32_t* out) const;

private:
    void ConvertLine(const unsigned char* src, unsigned char* dst) const;
    unsigned char* RowAddress(long long row);
    void Discard();

    DibMemory m_memory;
    std::string m_error;
    FrameParams m_frame;
    bool m_inFrame = false;
    bool m_firstFrameDone = false;
    int m_width = 0;
    int m_bitCount = 0;
    long long m_stride = 0;
    long long m_height = -1; // -1 until known
    int m_frames = 1;        // frames a page has: 3 for three-pass colour
    long long m_linesDoneAllFrames = 0;
    int m_framesDone = 0;
    long long m_row = 0;      // lines of the current frame converted so far
    long long m_rowsKept = 0; // lines every frame delivered (page height when finished)
    std::vector<unsigned char> m_line;
    std::size_t m_lineFill = 0;
    // Known length: the DIB block, written in place. Unknown length: converted rows top-down,
    // copied into a block at the end.
    unsigned char* m_block = nullptr;
    std::size_t m_headerBytes = 0;
    std::vector<unsigned char> m_rows;
};

} // namespace sanebridge
