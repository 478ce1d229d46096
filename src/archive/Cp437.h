#pragma once

#include <QByteArray>
#include <QString>

// Entry names without the UTF-8 flag are in the DOS (OEM) code page; we read them as
// code page 437, the one PKZIP and its successors assume.
QString Cp437ToUnicode(const QByteArray& bytes);
