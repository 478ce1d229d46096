#pragma once

#include <QString>

class Prompts;

// The format of an image file by its first two bytes alone, never by its name: "BMP",
// "JPEG", "GIF", "PCX", "PNG", "PSD", "RAS", "SGI" or "TIFF"; "0" for an empty file (shown
// in a plain box first when `prompts` is given); the empty text for anything else.
// Raises TError when the file cannot be opened, and "Stream read error" for a one-byte file.
QString DetectImageFormat(const QString& path, Prompts* prompts = nullptr);

// Whether frames of this detected format can be decoded: BMP, JPEG and PNG.
bool IsDecodableFormat(const QString& format);
