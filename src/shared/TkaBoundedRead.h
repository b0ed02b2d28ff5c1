#pragma once

#include "EkaError.h"

#include <QByteArray>
#include <QFile>
#include <QString>

// Reads whole files whose kind has a sensible size: a huge or endless file (a
// device, a picture-named video, a runaway log) is refused after at most its
// bound plus one byte, instead of freezing or swelling the program.
class TkaBoundedRead {
public:
    // Settings, language files, the error log and other texts.
    static constexpr qint64 MaxTextBytes = 8 * 1024 * 1024;

    // Reads the open File to its end. False, with Error naming the bound or the
    // system's reason, when the read fails or the file holds more than Limit.
    [[nodiscard]] static bool ReadAll(QFile& file, qint64 limit, QByteArray& data, QString& error);

    // Opens and reads FileName. On failure raises E with the text
    // Message(reason), so each caller keeps its own named error.
    template <class E, class MessageFunction>
    static QByteArray Read(const QString& fileName, qint64 limit, MessageFunction message,
                           TCodeLocation where = TCodeLocation::Current()) {
        QFile file(fileName);
        QByteArray data;
        QString error;
        if (!file.open(QIODevice::ReadOnly))
            throw E(message(file.errorString()), where);
        if (!ReadAll(file, limit, data, error))
            throw E(message(error), where);
        return data;
    }

    // "64 MB", "8 kB", "100 bytes": the bound as an error text gives it.
    static QString SizeText(qint64 bytes);
};
