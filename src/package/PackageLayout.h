#pragma once

#include <QString>

#include <cstdint>

// What a package holds: members at the archive root, the manifest and the sprite sheet.

// The file dialogs' filter for packages.
inline const QString kPackageFilter = QStringLiteral("Zuvo Package(*.zvk)|*.zvk");

inline const QString kManifestMember = QStringLiteral("zvk.xml");
inline const QString kSheetMember = QStringLiteral("zvk.png");

// Manifest (and project file) elements.
inline const QString kRootElement = QStringLiteral("ZuvoProject");
inline const QString kVersionAttribute = QStringLiteral("Version");
inline const QString kFormatVersion = QStringLiteral("1.0.0");
inline const QString kActionElement = QStringLiteral("Action");
inline const QString kNameElement = QStringLiteral("Name");
inline const QString kFragmentsElement = QStringLiteral("ActionFragment");
inline const QString kFragmentElement = QStringLiteral("Fragment");
inline const QString kIndexElement = QStringLiteral("Index");
inline const QString kTopElement = QStringLiteral("Top");
inline const QString kLeftElement = QStringLiteral("Left");
inline const QString kWidthElement = QStringLiteral("Width");
inline const QString kHeightElement = QStringLiteral("Height");
inline const QString kAudiosElement = QStringLiteral("ActionAudio");
inline const QString kAudioElement = QStringLiteral("Audio");

// A pet plays one frame every this many milliseconds, and waits as long after each action.
inline constexpr int kFrameMs = 80;

// A package holds at most this many frames, and this many actions: its manifest then stays
// well inside what the XML layer reads (eleven nodes a frame), so the build refuses what the
// player would not read whole.
inline constexpr int kMaxPackageFrames = 50'000;
inline constexpr int kMaxPackageActions = 10'000;
// An action's name is at most this many characters.
inline constexpr int kMaxActionName = 4096;

// A package without frames carries the PNG signature alone as its sheet; a sheet of this
// size or less holds no image and is not decoded.
inline constexpr std::int64_t kEmptySheetSize = 8;
inline constexpr unsigned char kPngSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

inline bool SheetHoldsImage(std::int64_t fileSize) { return fileSize > kEmptySheetSize; }
