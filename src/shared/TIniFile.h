#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// An ini ("profile") file. Section and key names compare without letter case,
// values are stored verbatim. There is no cache: every read parses the file as
// it is now, so it sees what any other object wrote, and every write replaces
// the whole file at once (temporary file and rename), so a crash never leaves a
// half-written file.
class TIniFile {
public:
    // Longest value a read returns; longer stored values are cut.
    static constexpr int MaxValueLength = 2047;

    explicit TIniFile(QString fileName);

    const QString& FileName() const { return Path; }

    QString ReadString(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    // Decimal, or hexadecimal after "0x", "0X" or "$"; anything else gives the default.
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    // Read as an integer with default 0 or 1; true when not 0.
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;

    // Writes raise EkaError naming the file when the file system refuses them.
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);
    void WriteBool(const QString& section, const QString& key, bool value);

    QStringList ReadSections() const;
    // Keys of a section in file order.
    QStringList ReadSection(const QString& section) const;
    // Key and value pairs of a section in file order.
    QList<QPair<QString, QString>> ReadSectionValues(const QString& section) const;
    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;

    void EraseSection(const QString& section);
    // Erases Section and writes Values into it in one update of the file; with
    // no values the section is gone.
    void ReplaceSection(const QString& section, const QList<QPair<QString, QString>>& values);
    void DeleteKey(const QString& section, const QString& key);

    // Integer parsing of the store, shared with callers that read text settings.
    static bool ParseInteger(const QString& text, int& value);

private:
    QString Path;
};
