#pragma once

// What the PNG, JPEG and BMP decoders share, and their entry points; the public face is
// ImageDecoders.h.

#include "image/ImageDecoders.h"

#include <QString>

#include <cstdio>
#include <memory>

class QByteArray;

namespace decoders {

using FilePtr = std::unique_ptr<FILE, int (*)(FILE*)>;

// Opens for reading; raises TError naming the file and the system's reason.
FilePtr OpenFile(const QString& path);

// Failures inside the C libraries come back by longjmp with their message here. Frames
// that call setjmp hold nothing with a destructor; everything lives in the callers.
struct CodecError {
    char text[256] = {};
};

[[noreturn]] void Raise(const QString& path, const CodecError& error);

// The reason a decode stopped because its sink asked.
constexpr char kCancelled[] = "cancelled";

void ThrowIfCancelled(const QString& path, const TImageSink& sink);

// Each reads the header into `header` and, with a sink, every row into it.
void DecodePngFile(const QString& path, TImageSink* sink, TImageInfo* header);
void DecodePngMemory(const QByteArray& data, const QString& name, TImageSink* sink, TImageInfo* header);
void DecodeJpegFile(const QString& path, TImageSink* sink, TImageInfo* header);
void DecodeBmpFile(const QString& path, TImageSink* sink, TImageInfo* header);

}  // namespace decoders
