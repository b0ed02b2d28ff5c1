#include "TMailMessage.h"

#include "EkaError.h"

#include <QRegularExpression>
#include <QUrl>
#include <QUuid>

namespace {

const QByteArray CrLf = QByteArrayLiteral("\r\n");
// Encoded-words and quoted-printable lines stay within the 76 characters of MIME.
constexpr int MaxEncodedLine = 76;
// 39 bytes give 52 base64 characters: "Subject: =?UTF-8?B?" + 52 + "?=" is 73.
constexpr int MaxEncodedWordBytes = 39;

bool IsControl(QChar c) {
    switch (c.category()) {
    case QChar::Other_Control:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

bool IsPrintableAscii(const QString& text) {
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    return true;
}

// The characters of an unquoted local part (dot-atom of RFC 5322).
const QRegularExpression& LocalPart() {
    static const QRegularExpression pattern(
        QStringLiteral("^[A-Za-z0-9!#$%&'*+/=?^_`{|}~-]+(\\.[A-Za-z0-9!#$%&'*+/=?^_`{|}~-]+)*$"));
    return pattern;
}

const QRegularExpression& AsciiDomain() {
    static const QRegularExpression pattern(
        QStringLiteral("^[A-Za-z0-9_]([A-Za-z0-9_-]*[A-Za-z0-9_])?(\\.[A-Za-z0-9_]([A-Za-z0-9_-]*["
                       "A-Za-z0-9_])?)*$"));
    return pattern;
}

// The ASCII form of a domain, or an empty string when it is none.
QString AceDomain(const QString& domain) {
    const QString ace = QUrl::toAce(domain);
    if (ace.isEmpty() || !AsciiDomain().match(ace).hasMatch())
        return {};
    return ace;
}

QString DomainOf(const QString& address) {
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'));
    return at < 0 ? QString() : AceDomain(address.mid(at + 1));
}

QByteArray Header(const char* name, const QByteArray& value) {
    return QByteArray(name) + ": " + value + CrLf;
}

} // namespace

void TMailMessage::CheckNoControlCharacters(const QString& text, const QString& what) {
    for (QChar c : text)
        if (IsControl(c))
            throw EkaError(what + QStringLiteral(" must not contain line breaks or other control "
                                                 "characters"));
}

void TMailMessage::CheckAddress(const QString& address, const QString& what) {
    CheckNoControlCharacters(address, what);
    if (address.trimmed().isEmpty())
        throw EkaError(what + QStringLiteral(" is empty"));
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'));
    // Only plain ASCII local parts: a UTF-8 one needs an extension most servers lack.
    const bool valid =
        at > 0 && LocalPart().match(address.left(at)).hasMatch() && !DomainOf(address).isEmpty();
    if (!valid)
        throw EkaError(what + QStringLiteral(" is not a valid e-mail address: ") + address);
}

QString TMailMessage::AddressDomain(const QString& address) {
    return DomainOf(address);
}

QByteArray TMailMessage::AsciiAddress(const QString& address) {
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'));
    return (address.left(at + 1) + AddressDomain(address)).toLatin1();
}

QByteArray TMailMessage::EncodeHeaderText(const QString& text) {
    if (IsPrintableAscii(text))
        return text.toLatin1();
    QByteArray result;
    QByteArray word;
    const auto flush = [&] {
        if (word.isEmpty())
            return;
        if (!result.isEmpty())
            result += CrLf + ' '; // folding: the space between encoded-words is not shown
        result += "=?UTF-8?B?" + word.toBase64() + "?=";
        word.clear();
    };
    // Whole characters only: a word must not end in the middle of one.
    for (qsizetype i = 0; i < text.size(); ++i) {
        qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QByteArray bytes = text.mid(i, length).toUtf8();
        if (word.size() + bytes.size() > MaxEncodedWordBytes)
            flush();
        word += bytes;
        i += length - 1;
    }
    flush();
    return result;
}

QByteArray TMailMessage::EncodeQuotedPrintable(const QByteArray& text) {
    static const char Hex[] = "0123456789ABCDEF";
    QByteArray result;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        QByteArray line = lines.at(n);
        if (n + 1 < lines.size() && line.endsWith('\r'))
            line.chop(1); // the CR of the line end, not a character of the line
        int column = 0;
        for (qsizetype i = 0; i < line.size(); ++i) {
            const auto byte = static_cast<unsigned char>(line.at(i));
            const bool last = i + 1 == line.size();
            // Spaces at a line's end would be stripped on the way: encoded there.
            const bool literal = (byte >= 33 && byte <= 126 && byte != '=') ||
                                 ((byte == ' ' || byte == '\t') && !last);
            QByteArray token;
            if (literal)
                token = QByteArray(1, static_cast<char>(byte));
            else
                token = QByteArray{"="} + Hex[byte >> 4] + Hex[byte & 15];
            // Room for the soft break "=" unless this is the line's last token.
            const int room = last ? MaxEncodedLine : MaxEncodedLine - 1;
            if (column + token.size() > room) {
                result += "=" + CrLf;
                column = 0;
            }
            result += token;
            column += static_cast<int>(token.size());
        }
        if (n + 1 < lines.size())
            result += CrLf;
    }
    return result;
}

QByteArray TMailMessage::Compose(const QDateTime& date) const {
    CheckAddress(From, QStringLiteral("The sender address"));
    CheckAddress(To, QStringLiteral("The recipient address"));
    CheckNoControlCharacters(Subject, QStringLiteral("The subject"));

    const QByteArray messageId = "<" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces) + "@" +
                                 AddressDomain(From).toLatin1() + ">";
    QByteArray message;
    message += Header("Date", date.toString(Qt::RFC2822Date).toLatin1());
    message += Header("From", AsciiAddress(From));
    message += Header("To", AsciiAddress(To));
    message += Header("Subject", EncodeHeaderText(Subject));
    message += Header("Message-ID", messageId);
    message += Header("MIME-Version", "1.0");
    message += Header("Content-Type", "text/plain; charset=UTF-8");
    message += Header("Content-Transfer-Encoding", "quoted-printable");
    message += CrLf;
    message += EncodeQuotedPrintable(Body.join(QStringLiteral("\r\n")).toUtf8());
    message += CrLf;
    return message;
}
