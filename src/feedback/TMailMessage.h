#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// One plain-text e-mail: the sender, the single recipient, the subject and the
// body lines. Compose turns it into an Internet message (headers, UTF-8 body in
// quoted-printable, CR LF line ends) that any SMTP server and mail reader takes.
class TMailMessage {
public:
    QString From;
    QString To;
    QString Subject;
    QStringList Body;

    // The whole message as sent after DATA. Raises EkaError with a clear text
    // when the sender, the recipient or the subject could smuggle in headers
    // (line breaks, control characters) or is not an e-mail address.
    QByteArray Compose(const QDateTime& date) const;

    // Refuses Text when it holds a line break or another control character;
    // What names the field in the message ("The sender address").
    static void CheckNoControlCharacters(const QString& text, const QString& what);
    // Refuses an empty text and anything but a plain address "local@domain".
    static void CheckAddress(const QString& address, const QString& what);
    // The domain part of a valid address in its ASCII form.
    static QString AddressDomain(const QString& address);
    // A valid address with its domain in ASCII, as headers and the envelope need it.
    static QByteArray AsciiAddress(const QString& address);

    // Header text: printable ASCII as it is, anything else as UTF-8
    // encoded-words, folded so no header line grows beyond 76 characters.
    static QByteArray EncodeHeaderText(const QString& text);
    // Quoted-printable of UTF-8 text whose lines are joined by CR LF.
    static QByteArray EncodeQuotedPrintable(const QByteArray& text);
};
