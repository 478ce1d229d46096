#pragma once

// Every kind of image file the program knows, in one table: how a file of it is told, what
// is done with it, which reader reads it and which names the dialogs offer. Everything
// that asks what a file is or which files to offer asks here, so a new format is one entry
// in ImageFormat.cpp plus its reader.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <span>

class Prompts;
class TAnimationSink;
class TImageSink;
struct TImageInfo;

enum class TImageKind {
    Still,      // one picture, listed as it is and decoded at the build
    Animation,  // frames, imported into PNG files before they are listed
    Unread,     // told by its header only, to name it in a refusal
};

// What a file is wanted for.
enum class TImageUse {
    Frame,  // decoded as a frame of the sprite sheet: a still
    List,   // taken into a frame list: a still as it is, an animation by importing its frames
    Sheet,  // cut into the cells of a sprite sheet: a still, or an animation's first frame
    Import, // an animation whose frames are imported
};

// Reads the header into `header` and, with a sink, every row into it; raises TError.
using TStillDecoder = void (*)(const QString& path, TImageSink* sink, TImageInfo* header);
// Reads a whole file's bytes into frames; raises TError "<name>: <reason>".
using TAnimationReader = void (*)(const QByteArray& data, const QString& name, TAnimationSink& sink);

struct TImageFormat {
    const char* Name;
    TImageKind Kind;
    // The bytes every file of it starts with; '?' stands for any byte.
    const char* Signature;
    // Whether its first two bytes alone name it, as the build's detection does; a format
    // those bytes cannot tell from others (RIFF holds more than WebP) is found by its whole
    // signature only.
    bool NamedByTwoBytes;
    TStillDecoder Decode;     // for a still
    TAnimationReader Read;    // for an animation, or a still format that may hold one
    // For a still format whose files may hold an animation: whether these bytes do.
    bool (*HoldsAnimation)(const QByteArray& data);
    const char* Extensions;   // lower case, without dots, separated by blanks
    bool Sheet;               // offered to be cut as a sprite sheet
};

// The table, in the order the dialogs and messages list the formats.
std::span<const TImageFormat> ImageFormats();

// The entry of a detected name, or null.
const TImageFormat* FindImageFormat(QStringView name);

// The format of an image file by its first two bytes alone, never by its name: the name of
// the format those bytes name ("BMP", "JPEG", "GIF", "PCX", "PNG", "PSD", "RAS", "SGI" or
// "TIFF"); "0" for an empty file (shown in a plain box first when `prompts` is given); the
// empty text for anything else.
// Raises TError when the file cannot be opened, and "Stream read error" for a one-byte file.
QString DetectImageFormat(const QString& path, Prompts* prompts = nullptr);

// Whether frames of this detected format can be decoded: it has a still decoder.
bool IsDecodableFormat(const QString& format);

// Whether a format is taken for a use.
bool TakesFormat(const TImageFormat& format, TImageUse use);

// The names of the formats taken for a use, as a message lists them: "PNG, JPEG or BMP".
QString ImageFormatNames(TImageUse use);

// The extensions of the formats taken for a use, each with its dot (".png").
QStringList ImageExtensions(TImageUse use);

// A dialog filter offering the formats taken for a use: "Label (*.png;*.jpg)|*.png;*.jpg".
QString ImageFilter(const QString& label, TImageUse use);

// The format whose reader takes these bytes into frames: the first with a reader whose
// signature they start with (a PNG's, animated or not); null for none.
const TImageFormat* AnimationFormatOf(const QByteArray& head);

enum class TImageProblem { None, Missing, Empty, Unsupported, Unreadable };

// Whether a file can be read for a use, and as what.
struct TImageCheck {
    TImageProblem Problem = TImageProblem::None;
    QString Name;                          // the build's detected name: "0" when empty, "" unknown
    const TImageFormat* Format = nullptr;  // what it is read as; null on a problem
    QString Error;                         // the message, naming the file; empty without a problem

    // The format, or raises TError with the message.
    const TImageFormat& Usable() const;
};

// Every place that reads an image asks this first: the file is there, not empty, and of a
// format taken for the use. An animation format is told by its whole signature, a still by
// its first two bytes, as the build has always told them.
TImageCheck CheckImageFile(const QString& path, TImageUse use);
