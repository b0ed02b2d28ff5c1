#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <memory>

// An ini ("profile") file. Section and key names compare without letter case,
// values are stored verbatim. Every read sees the file as it is now, also what
// another object or program wrote: the parsed file is kept only while the
// file's identity, size and modification and change times stay the same.
// Every write replaces the whole file at once (TkaAtomicFile), so neither a
// crash nor a full disk leaves a half-written file.
//
// Files are written as UTF-8. Files from other editors are read as what they
// are: UTF-16 with its byte-order mark, UTF-8, and otherwise Windows-1252.
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
    // Blanks around the number are allowed, as hand-edited files have them.
    static bool ParseInteger(const QString& text, int& value);

    // The text of an ini file's bytes, by the rules above.
    static QString DecodeText(const QByteArray& bytes);

private:
    class TDocument;
    struct TFileStamp {
        bool Exists = false;
        quint64 Device = 0;
        quint64 Inode = 0;
        qint64 Size = 0;
        qint64 ModifiedSeconds = 0;
        qint64 ModifiedNanoseconds = 0;
        qint64 ChangedSeconds = 0;
        qint64 ChangedNanoseconds = 0;
        bool operator==(const TFileStamp&) const = default;
    };

    // The file as it is now, parsed again only when it changed. For a write,
    // a file that exists but cannot be read raises instead of reading empty.
    const TDocument& Current(bool forWriting) const;
    void Save(TDocument document);

    QString Path;
    mutable std::shared_ptr<const TDocument> Cached;
    mutable TFileStamp CachedStamp;
};
