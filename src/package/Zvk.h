#pragma once

#include "package/Motion.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// The loaded package: plain data, read by the pet only after loading has finished.

class TFrame {
public:
    std::int32_t Index = 0;  // as read; plays no part in locating the frame
    std::int32_t Top = 0;
    std::int32_t Left = 0;
    std::int32_t Height = 0;
    std::int32_t Width = 0;
};

class TAction {
public:
    std::int32_t Index = 0;  // position among the manifest root's children
    QString Name;
    std::vector<TFrame> Frames;
    QStringList AudioFiles;
    TMotion Motion;
};

class TZvk {
public:
    std::vector<TAction> Actions;  // an action's position here is its action number
};
