#include "TkaAutostart.h"

#include "EkaError.h"
#include "TkaAtomicFile.h"
#include "TkaProgramLayout.h"

#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <algorithm>
#include <utility>

namespace {

// Characters that need the argument in double quotes.
const QString Reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
// Characters that need a backslash inside the quotes.
const QString EscapedInQuotes = QStringLiteral("\"`$\\");

QString QuotedArgument(const QString& argument) {
    const bool plain =
        !argument.isEmpty() && std::none_of(argument.begin(), argument.end(),
                                            [](QChar c) { return Reserved.contains(c); });
    if (plain)
        return argument;
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (EscapedInQuotes.contains(c))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return quoted + QLatin1Char('"');
}

// A string value of a desktop entry: one line, backslashes escaped.
QString EntryString(QString value) {
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    value.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    value.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    value.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
    return value;
}

} // namespace

TkaAutostart::TkaAutostart(QString entryName, QString name, QString comment, QString icon)
    : FEntryName(std::move(entryName)), FName(std::move(name)), FComment(std::move(comment)),
      FIcon(std::move(icon)) {}

QString TkaAutostart::AutostartFolder() {
    return TkaProgramLayout::XdgFolder(QProcessEnvironment::systemEnvironment(),
                                       QStringLiteral("XDG_CONFIG_HOME"),
                                       QStringLiteral("/.config")) +
           QStringLiteral("autostart/");
}

QString TkaAutostart::EntryFileName() const {
    return AutostartFolder() + FEntryName + QStringLiteral(".desktop");
}

bool TkaAutostart::IsEnabled() const {
    return QFileInfo(EntryFileName()).isFile();
}

QString TkaAutostart::ExecValue(const QString& program, const QStringList& arguments) {
    QStringList words{QuotedArgument(program)};
    for (const QString& argument : arguments)
        words.append(QuotedArgument(argument));
    QString exec = words.join(QLatin1Char(' '));
    exec.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return EntryString(exec);
}

QString TkaAutostart::EntryText(const QString& programFile, const QStringList& arguments) const {
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=%1\n"
                          "Comment=%2\n"
                          "Exec=%3\n"
                          "Icon=%4\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(EntryString(FName), EntryString(FComment), ExecValue(programFile, arguments),
             EntryString(FIcon));
}

void TkaAutostart::Enable(const QString& programFile, const QStringList& arguments) const {
    const QString fileName = EntryFileName();
    const auto failure = [&fileName](const QString& reason) {
        return QStringLiteral("Error writing File ") + fileName + QStringLiteral(": ") + reason;
    };
    if (!MakeUserFolder(AutostartFolder()))
        throw EkaError(failure(QStringLiteral("the folder cannot be made")));
    TkaAtomicFile::Replace<EkaError>(fileName, EntryText(programFile, arguments).toUtf8(), failure);
}

void TkaAutostart::Disable() const {
    const QString fileName = EntryFileName();
    QFile file(fileName);
    if (!file.exists())
        return;
    if (!file.remove())
        throw EkaError(QStringLiteral("Error deleting File ") + fileName + QStringLiteral(": ") +
                       file.errorString());
}
