#pragma once

#include <QtGlobal>

class QIODevice;
class TStmJPG;

// Writes Picture as one broadcast datagram of at most MaxSize bytes. A
// picture too large for that is sent as a copy compressed again at lower
// qualities and, where that is not enough, at half the size, until it fits;
// Picture itself is left as it is. Only when even the smallest copy does not
// fit is the picture written as it is, for the sender's own size check to
// refuse. Returns whether the written datagram fits.
bool SaveFittingStmJPG(const TStmJPG& picture, QIODevice& stream, qint64 maxSize);
