#include "pictures/Jpeg.h"

#include "platform/Errors.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio> // jpeglib.h uses FILE and size_t without including their headers
#include <cstdlib>
#include <cstring>
#include <memory>

#include <jpeglib.h>

#include <jerror.h>

// libjpeg reports a fatal error by calling the error manager's error_exit, which must not return;
// its default ends the process. Velmora's jumps back with longjmp to the setjmp of the function
// that made the libjpeg call. Those functions (ReadHeader, DecodeRows, WriteRows) therefore hold
// no C++ object with a destructor, only libjpeg's own C frames and Velmora's plain C callbacks lie
// between the setjmp and the longjmp, and each function returns libjpeg's message code instead of
// throwing. The EJPEG exception is raised by their C++ callers once they have returned, and the
// libjpeg objects are destroyed by guards in those callers.

namespace {

struct JpegErrors {
    jpeg_error_mgr mgr; // first member: libjpeg sees a pointer to it
    std::jmp_buf jump;
    int code;
    // The data ran out before the decoder was done; libjpeg went on as if the file ended there.
    bool endedEarly;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    errors->code = cinfo->err->msg_code;
    std::longjmp(errors->jump, 1);
}

[[noreturn]] void Fail(j_common_ptr cinfo, int code) {
    cinfo->err->msg_code = code;
    (*cinfo->err->error_exit)(cinfo);
    std::abort(); // error_exit never returns; this only tells the compiler so
}

// Warnings are corrupt data that libjpeg steps over; nobody reads stderr of a desktop program.
// Only the end of the data matters to the user: the rest of the picture is missing.
void NoteMessage(j_common_ptr cinfo, int level) {
    if (level >= 0)
        return; // trace output
    auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    if (cinfo->err->msg_code == JWRN_JPEG_EOF)
        errors->endedEarly = true;
    ++cinfo->err->num_warnings;
}

void InitErrors(JpegErrors& errors) {
    jpeg_std_error(&errors.mgr);
    errors.mgr.error_exit = ErrorExit;
    errors.mgr.emit_message = NoteMessage;
    errors.code = 0;
    errors.endedEarly = false;
}

[[noreturn]] void ThrowJpegError(int code) {
    throw EJPEG(QStringLiteral("JPEG-Fehler #%1").arg(code));
}

[[noreturn]] void ThrowOutOfMemory() {
    throw EOutOfMemory(QStringLiteral("Zu wenig Arbeitsspeicher"));
}

// ---------------------------------------------------------------------------------------------
// Decoding

// Progressive files may hold any number of scans, and each scan may make libjpeg pass over the
// whole picture; a few kilobytes of scans over a large picture would keep it busy for hours.
// Real encoders write about ten, carefully tuned ones a few dozen.
constexpr int MaxScans = 250;

// A Huffman-coded JPEG spends at least one bit on each 8 × 8 block of its first component, that
// is one byte per 512 pixels. A file declaring far more pixels than its bytes can describe is
// refused before anything is allocated; the allowance is four times that minimum (arithmetic
// coding can be denser, and a file may end early), and small pictures are always accepted.
constexpr long long PixelsPerFileByte = 2048;
constexpr long long AlwaysPlausiblePixels = 1LL << 20;

enum class Decoded { Rgb, Grey, Cmyk, InvertedCmyk };

struct DecodeSession {
    jpeg_decompress_struct cinfo;
    JpegErrors errors;
    jpeg_progress_mgr progress;
};

void LimitScans(j_common_ptr cinfo) {
    if (cinfo->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > MaxScans)
        Fail(cinfo, JERR_BAD_SCAN_SCRIPT);
}

struct HeaderFacts {
    JDIMENSION width;
    JDIMENSION height;
    Decoded kind;
};

// Reads the markers up to the first scan and chooses the output colour space. Returns 0 or
// libjpeg's message code.
int ReadHeader(DecodeSession& s, const unsigned char* data, std::size_t size, long long maxPixels,
               HeaderFacts& facts) {
    if (setjmp(s.errors.jump) != 0)
        return s.errors.code;
    jpeg_create_decompress(&s.cinfo);
    s.progress.progress_monitor = LimitScans;
    s.cinfo.progress = &s.progress; // after jpeg_create_decompress, which clears the struct
    jpeg_mem_src(&s.cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&s.cinfo, TRUE);

    const long long pixels =
        static_cast<long long>(s.cinfo.image_width) * static_cast<long long>(s.cinfo.image_height);
    if (pixels > maxPixels)
        return JERR_IMAGE_TOO_BIG;
    if (pixels > std::max(AlwaysPlausiblePixels, static_cast<long long>(size) * PixelsPerFileByte))
        return JERR_INPUT_EOF;

    switch (s.cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
        s.cinfo.out_color_space = JCS_GRAYSCALE;
        facts.kind = Decoded::Grey;
        break;
    case JCS_CMYK:
    case JCS_YCCK: // libjpeg turns YCCK into CMYK itself
        s.cinfo.out_color_space = JCS_CMYK;
        facts.kind = s.cinfo.saw_Adobe_marker ? Decoded::InvertedCmyk : Decoded::Cmyk;
        break;
    default:
        // libjpeg-turbo writes three bytes per pixel in QImage's RGB888 order straight into
        // the picture's rows. Colour spaces it cannot convert fail in jpeg_start_decompress.
        s.cinfo.out_color_space = JCS_EXT_RGB;
        facts.kind = Decoded::Rgb;
        break;
    }
    facts.width = s.cinfo.image_width;
    facts.height = s.cinfo.image_height;
    return 0;
}

void CmykToRgb(const JSAMPLE* cmyk, unsigned char* rgb, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
        // In inverted (Adobe) values 255 means no ink, so each channel is simply c × k.
        const unsigned flip = inverted ? 0 : 255;
        const unsigned k = cmyk[3] ^ flip;
        for (int i = 0; i < 3; ++i)
            rgb[i] = static_cast<unsigned char>(((cmyk[i] ^ flip) * k + 127) / 255);
    }
}

// Decodes every row into `bits` (rows of `stride` bytes, laid out for the chosen colour space:
// 3 bytes per pixel for RGB and CMYK, 1 for grey). Returns 0 or libjpeg's message code.
int DecodeRows(DecodeSession& s, unsigned char* bits, std::ptrdiff_t stride, Decoded kind) {
    if (setjmp(s.errors.jump) != 0)
        return s.errors.code;
    jpeg_start_decompress(&s.cinfo);
    j_decompress_ptr cinfo = &s.cinfo;
    const int components = kind == Decoded::Grey ? 1 : kind == Decoded::Rgb ? 3 : 4;
    if (cinfo->output_components != components)
        return JERR_CONVERSION_NOTIMPL;

    if (kind == Decoded::Cmyk || kind == Decoded::InvertedCmyk) {
        // One row of four-byte CMYK pixels; the pool is freed with the decompressor.
        JSAMPARRAY ink = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo),
                                                     JPOOL_IMAGE, cinfo->output_width * 4, 1);
        while (cinfo->output_scanline < cinfo->output_height) {
            unsigned char* row =
                bits + stride * static_cast<std::ptrdiff_t>(cinfo->output_scanline);
            jpeg_read_scanlines(cinfo, ink, 1);
            CmykToRgb(ink[0], row, cinfo->output_width, kind == Decoded::InvertedCmyk);
        }
        return 0;
    }

    // libjpeg delivers rec_outbuf_height rows at most per call; offering more costs nothing.
    constexpr JDIMENSION Batch = 16;
    JSAMPROW rows[Batch];
    while (cinfo->output_scanline < cinfo->output_height) {
        const JDIMENSION first = cinfo->output_scanline;
        const JDIMENSION count = std::min(Batch, cinfo->output_height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = bits + stride * static_cast<std::ptrdiff_t>(first + i);
        jpeg_read_scanlines(cinfo, rows, count);
    }
    // jpeg_finish_decompress is left out on purpose: it only reads on to the end marker, and
    // damaged data after the last row must not cost the picture already decoded.
    return 0;
}

struct DecompressorGuard {
    DecodeSession& session;
    ~DecompressorGuard() { jpeg_destroy_decompress(&session.cinfo); }
};

// ---------------------------------------------------------------------------------------------
// Encoding

// How rows reach libjpeg: as they are (in a pixel layout libjpeg-turbo reads itself), or
// expanded to RGB one row at a time.
enum class RowKind { Direct, Grey, Palette1Msb, Palette1Lsb, Palette8, Argb, ArgbPremultiplied };

// Everything WriteRows needs to know about the picture, as plain data.
struct RowSource {
    const unsigned char* bits;
    std::ptrdiff_t stride;
    JDIMENSION width;
    JDIMENSION height;
    RowKind kind;
    J_COLOR_SPACE directSpace;
    int directComponents;
    unsigned char palette[256][3]; // already put on white
};

struct EncodeSession {
    jpeg_compress_struct cinfo;
    JpegErrors errors;
    jpeg_destination_mgr dest;
    unsigned char* buffer; // malloc'd; the guard frees it
    std::size_t capacity;
    std::size_t used;
};

EncodeSession& SessionOf(j_compress_ptr cinfo) {
    return *static_cast<EncodeSession*>(cinfo->client_data);
}

void InitDestination(j_compress_ptr cinfo) {
    EncodeSession& s = SessionOf(cinfo);
    s.buffer = static_cast<unsigned char*>(std::malloc(s.capacity));
    if (!s.buffer)
        Fail(reinterpret_cast<j_common_ptr>(cinfo), JERR_OUT_OF_MEMORY);
    s.dest.next_output_byte = s.buffer;
    s.dest.free_in_buffer = s.capacity;
}

// Called when the buffer is full: it grows instead of being written out.
boolean GrowDestination(j_compress_ptr cinfo) {
    EncodeSession& s = SessionOf(cinfo);
    const std::size_t grown = s.capacity * 2;
    auto* buffer = static_cast<unsigned char*>(std::realloc(s.buffer, grown));
    if (!buffer)
        Fail(reinterpret_cast<j_common_ptr>(cinfo), JERR_OUT_OF_MEMORY);
    s.buffer = buffer;
    s.dest.next_output_byte = buffer + s.capacity;
    s.dest.free_in_buffer = grown - s.capacity;
    s.capacity = grown;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    EncodeSession& s = SessionOf(cinfo);
    s.used = s.capacity - s.dest.free_in_buffer;
}

unsigned char Blend(unsigned colour, unsigned alpha) { // straight colour over white
    return static_cast<unsigned char>((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

void ExpandRow(const RowSource& src, JDIMENSION y, JSAMPLE* out) {
    const unsigned char* in = src.bits + src.stride * static_cast<std::ptrdiff_t>(y);
    const JDIMENSION w = src.width;
    switch (src.kind) {
    case RowKind::Grey:
        for (JDIMENSION x = 0; x < w; ++x, out += 3)
            out[0] = out[1] = out[2] = in[x];
        break;
    case RowKind::Palette1Msb:
    case RowKind::Palette1Lsb: {
        const bool msb = src.kind == RowKind::Palette1Msb;
        for (JDIMENSION x = 0; x < w; ++x, out += 3) {
            const unsigned shift = msb ? 7 - (x & 7) : (x & 7);
            std::memcpy(out, src.palette[(in[x >> 3] >> shift) & 1], 3);
        }
        break;
    }
    case RowKind::Palette8:
        for (JDIMENSION x = 0; x < w; ++x, out += 3)
            std::memcpy(out, src.palette[in[x]], 3);
        break;
    case RowKind::Argb:
    case RowKind::ArgbPremultiplied: {
        const bool premultiplied = src.kind == RowKind::ArgbPremultiplied;
        for (JDIMENSION x = 0; x < w; ++x, out += 3) {
            std::uint32_t px;
            std::memcpy(&px, in + 4 * x, 4);
            const unsigned a = px >> 24;
            const unsigned c[3] = {(px >> 16) & 0xFF, (px >> 8) & 0xFF, px & 0xFF};
            for (int i = 0; i < 3; ++i)
                out[i] = premultiplied ? static_cast<unsigned char>(std::min(255u, c[i] + 255 - a))
                                       : Blend(c[i], a);
        }
        break;
    }
    case RowKind::Direct:
        break;
    }
}

// Compresses every row of `src` into the session's buffer. Returns 0 or libjpeg's message code.
int WriteRows(EncodeSession& s, const RowSource& src, int quality) {
    if (setjmp(s.errors.jump) != 0)
        return s.errors.code;
    jpeg_create_compress(&s.cinfo);
    j_compress_ptr cinfo = &s.cinfo;
    cinfo->client_data = &s;
    s.dest.init_destination = InitDestination;
    s.dest.empty_output_buffer = GrowDestination;
    s.dest.term_destination = TermDestination;
    cinfo->dest = &s.dest;

    const bool direct = src.kind == RowKind::Direct;
    cinfo->image_width = src.width;
    cinfo->image_height = src.height;
    cinfo->input_components = direct ? src.directComponents : 3;
    cinfo->in_color_space = direct ? src.directSpace : JCS_EXT_RGB;
    jpeg_set_defaults(cinfo); // YCbCr, 2×2 subsampled chroma, standard Huffman tables
    jpeg_set_quality(cinfo, quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);

    if (direct) {
        constexpr JDIMENSION Batch = 16;
        JSAMPROW rows[Batch];
        while (cinfo->next_scanline < cinfo->image_height) {
            const JDIMENSION first = cinfo->next_scanline;
            const JDIMENSION count = std::min(Batch, cinfo->image_height - first);
            for (JDIMENSION i = 0; i < count; ++i)
                rows[i] = const_cast<JSAMPROW>(src.bits) + // libjpeg only reads input rows
                          src.stride * static_cast<std::ptrdiff_t>(first + i);
            jpeg_write_scanlines(cinfo, rows, count);
        }
    } else {
        JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo),
                                                     JPOOL_IMAGE, src.width * 3, 1);
        while (cinfo->next_scanline < cinfo->image_height) {
            ExpandRow(src, cinfo->next_scanline, row[0]);
            jpeg_write_scanlines(cinfo, row, 1);
        }
    }
    jpeg_finish_compress(cinfo);
    return 0;
}

struct CompressorGuard {
    EncodeSession& session;
    ~CompressorGuard() {
        jpeg_destroy_compress(&session.cinfo);
        std::free(session.buffer);
    }
};

void FillPalette(RowSource& src, const QVector<QRgb>& colours) {
    for (int i = 0; i < 256; ++i) {
        // Indices beyond the table read as black, as Qt draws them.
        const QRgb c = i < colours.size() ? colours[i] : qRgb(0, 0, 0);
        const unsigned a = static_cast<unsigned>(qAlpha(c));
        src.palette[i][0] = Blend(static_cast<unsigned>(qRed(c)), a);
        src.palette[i][1] = Blend(static_cast<unsigned>(qGreen(c)), a);
        src.palette[i][2] = Blend(static_cast<unsigned>(qBlue(c)), a);
    }
}

// Describes `image` for WriteRows; formats without a row path are converted into `converted`,
// which must then outlive the encoding.
RowSource DescribeRows(const QImage& image, QImage& converted) {
    RowSource src{};
    src.kind = RowKind::Direct;
    src.directComponents = 3;
    const QImage* use = &image;
    switch (image.format()) {
    case QImage::Format_Invalid: // no rows: libjpeg reports the empty picture itself
    case QImage::Format_RGB888:
        src.directSpace = JCS_EXT_RGB;
        break;
    case QImage::Format_BGR888:
        src.directSpace = JCS_EXT_BGR;
        break;
    case QImage::Format_RGB32: // 0xffRRGGBB in native byte order
        src.directSpace = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX : JCS_EXT_XRGB;
        src.directComponents = 4;
        break;
    case QImage::Format_RGBX8888:
        src.directSpace = JCS_EXT_RGBX;
        src.directComponents = 4;
        break;
    case QImage::Format_Grayscale8:
        src.kind = RowKind::Grey;
        break;
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
        src.kind =
            image.format() == QImage::Format_Mono ? RowKind::Palette1Msb : RowKind::Palette1Lsb;
        FillPalette(src, image.colorTable());
        break;
    case QImage::Format_Indexed8:
        src.kind = RowKind::Palette8;
        FillPalette(src, image.colorTable());
        break;
    case QImage::Format_ARGB32:
        src.kind = RowKind::Argb;
        break;
    case QImage::Format_ARGB32_Premultiplied:
        src.kind = RowKind::ArgbPremultiplied;
        break;
    default:
        converted = image.convertToFormat(
            image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB888);
        if (converted.isNull())
            ThrowOutOfMemory();
        src.kind = converted.hasAlphaChannel() ? RowKind::ArgbPremultiplied : RowKind::Direct;
        src.directSpace = JCS_EXT_RGB;
        use = &converted;
        break;
    }
    src.bits = use->constBits();
    src.stride = use->bytesPerLine();
    src.width = static_cast<JDIMENSION>(use->width());
    src.height = static_cast<JDIMENSION>(use->height());
    return src;
}

} // namespace

QImage DecodeJpeg(const QByteArray& file, long long maxPixels) {
    bool endedEarly = false;
    return DecodeJpeg(file, endedEarly, maxPixels);
}

QImage DecodeJpeg(const QByteArray& file, bool& endedEarly, long long maxPixels) {
    endedEarly = false;
    auto session = std::make_unique<DecodeSession>(); // value-initialised: all zero
    InitErrors(session->errors);
    session->cinfo.err = &session->errors.mgr;
    DecompressorGuard guard{*session};

    HeaderFacts facts{};
    if (const int code =
            ReadHeader(*session, reinterpret_cast<const unsigned char*>(file.constData()),
                       static_cast<std::size_t>(file.size()), maxPixels, facts))
        ThrowJpegError(code);

    const bool grey = facts.kind == Decoded::Grey;
    QImage image(static_cast<int>(facts.width), static_cast<int>(facts.height),
                 grey ? QImage::Format_Indexed8 : QImage::Format_RGB888);
    if (image.isNull())
        ThrowOutOfMemory();
    if (grey) {
        QVector<QRgb> ramp(256);
        for (int i = 0; i < 256; ++i)
            ramp[i] = qRgb(i, i, i);
        image.setColorTable(ramp);
    }
    if (const int code = DecodeRows(*session, image.bits(), image.bytesPerLine(), facts.kind))
        ThrowJpegError(code);
    endedEarly = session->errors.endedEarly;
    return image;
}

QByteArray EncodeJpeg(const QImage& image, int quality) {
    QImage converted;
    const RowSource src = DescribeRows(image, converted);

    auto session = std::make_unique<EncodeSession>();
    InitErrors(session->errors);
    session->cinfo.err = &session->errors.mgr;
    // Room for a photo at about 3 bits per pixel; pages beyond that are grown into. Untouched
    // parts of a large buffer never become resident.
    session->capacity =
        std::max<std::size_t>(64 * 1024, static_cast<std::size_t>(src.width) * src.height * 3 / 8);
    CompressorGuard guard{*session};

    if (const int code = WriteRows(*session, src, quality))
        ThrowJpegError(code);
    return QByteArray(reinterpret_cast<const char*>(session->buffer),
                      static_cast<qsizetype>(session->used));
}
