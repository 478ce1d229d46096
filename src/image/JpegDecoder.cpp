#include "image/DecoderSupport.h"

#include "common/Error.h"

#include <jpeglib.h>
#include <jerror.h>

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <vector>

static_assert(JMSG_LENGTH_MAX <= sizeof(decoders::CodecError::text), "libjpeg's messages fit");

namespace decoders {
namespace {

struct JpegErrorManager {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    CodecError error;
};

[[noreturn]] void JpegError(j_common_ptr cinfo)
{
    auto* errors = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->error.text);
    std::longjmp(errors->jump, 1);
}

// Warnings that mean pixels are missing or were decoded from garbled data: libjpeg fills
// them in (grey rows, smeared blocks) and carries on, but the frame is damaged. The rest (an
// unknown Adobe transform or JFIF revision, an ICC profile never read here) leave every
// pixel as the file has it.
bool IsJpegDamage(int code)
{
    switch (code) {
    case JWRN_ARITH_BAD_CODE:     // corrupt arithmetic-coded data
    case JWRN_BOGUS_PROGRESSION:  // a scan out of sequence: coefficients refined that never came
    case JWRN_HIT_MARKER:         // a scan ends before its last block
    case JWRN_HUFF_BAD_CODE:      // corrupt Huffman-coded data
    case JWRN_JPEG_EOF:           // the file ends before the image does
    case JWRN_MUST_RESYNC:        // a restart marker missing: blocks skipped
    case JWRN_NOT_SEQUENTIAL:     // a scan a sequential image cannot have
        return true;
    default:
        return false;
    }
}

void JpegMessage(j_common_ptr cinfo, int level)
{
    if (level < 0 && IsJpegDamage(cinfo->err->msg_code))
        JpegError(cinfo);
}

[[noreturn]] void JpegFail(j_common_ptr cinfo, const char* text)
{
    auto* errors = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    std::snprintf(errors->error.text, sizeof errors->error.text, "%s", text);
    std::longjmp(errors->jump, 1);
}

// libjpeg calls this before every input row of MCUs while it gathers a multi-scan image and
// before every output row: the scan count is known as each scan starts, before its data are
// decoded.
struct JpegProgress {
    jpeg_progress_mgr manager{};  // first: libjpeg hands back its address
    const TImageSink* sink = nullptr;
};

void JpegProgressMonitor(j_common_ptr cinfo)
{
    const auto* progress = reinterpret_cast<const JpegProgress*>(cinfo->progress);
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxJpegScans) {
        char text[64];
        std::snprintf(text, sizeof text, "the image has more than %d scans", kMaxJpegScans);
        JpegFail(cinfo, text);
    }
    if (progress->sink != nullptr && progress->sink->Cancelled())
        JpegFail(cinfo, kCancelled);
}

// The decompressor needs at most this much for its own buffers (a progressive image keeps
// every coefficient); a file claiming more is refused rather than filling memory.
constexpr long kJpegMemory = 1L << 30;

bool JpegHeader(jpeg_decompress_struct* cinfo, JpegErrorManager* errors, FILE* file, TImageInfo* out)
{
    if (setjmp(errors->jump))
        return false;
    jpeg_stdio_src(cinfo, file);
    cinfo->mem->max_memory_to_use = kJpegMemory;
    jpeg_read_header(cinfo, TRUE);
    out->Width = static_cast<int>(cinfo->image_width);
    out->Height = static_cast<int>(cinfo->image_height);
    out->Transparency = TTransparency::None;
    // CMYK and YCCK come out as CMYK and are turned to RGB here; everything else libjpeg
    // converts straight into QRgb's byte order.
    const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    return true;
}

bool JpegRows(jpeg_decompress_struct* cinfo, JpegErrorManager* errors, QRgb* row, TImageSink* sink)
{
    if (setjmp(errors->jump))
        return false;
    jpeg_start_decompress(cinfo);
    const bool cmyk = cinfo->out_color_space == JCS_CMYK;
    // Adobe's CMYK is stored inverted: the usual case with an Adobe marker.
    const bool inverted = cinfo->saw_Adobe_marker;
    while (cinfo->output_scanline < cinfo->output_height) {
        const int y = static_cast<int>(cinfo->output_scanline);
        JSAMPROW samples = reinterpret_cast<JSAMPROW>(row);
        jpeg_read_scanlines(cinfo, &samples, 1);
        if (cmyk) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(row);
            for (JDIMENSION x = 0; x < cinfo->output_width; ++x) {
                unsigned c = bytes[4 * x], m = bytes[4 * x + 1], yl = bytes[4 * x + 2], k = bytes[4 * x + 3];
                if (!inverted) {
                    c = 255 - c;
                    m = 255 - m;
                    yl = 255 - yl;
                    k = 255 - k;
                }
                row[x] = qRgb(static_cast<int>(c * k / 255), static_cast<int>(m * k / 255), static_cast<int>(yl * k / 255));
            }
        }
        sink->Row(y, row);
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

struct JpegReader {
    JpegErrorManager errors;
    JpegProgress progress;
    jpeg_decompress_struct cinfo;
    JpegReader()
    {
        cinfo.err = jpeg_std_error(&errors.manager);
        errors.manager.error_exit = JpegError;
        errors.manager.emit_message = JpegMessage;
        jpeg_create_decompress(&cinfo);
        progress.manager.progress_monitor = JpegProgressMonitor;
        cinfo.progress = &progress.manager;
    }
    ~JpegReader() { jpeg_destroy_decompress(&cinfo); }
};

}  // namespace

void DecodeJpegFile(const QString& path, TImageSink* sink, TImageInfo* header)
{
    const FilePtr file = OpenFile(path);
    JpegReader reader;
    TImageInfo info;
    if (!JpegHeader(&reader.cinfo, &reader.errors, file.get(), &info))
        Raise(path, reader.errors.error);
    *header = info;
    if (sink == nullptr)
        return;
    sink->Begin(info);
    reader.progress.sink = sink;
    std::vector<QRgb> row(static_cast<std::size_t>(info.Width));
    if (!JpegRows(&reader.cinfo, &reader.errors, row.data(), sink))
        Raise(path, reader.errors.error);
}

}  // namespace decoders
