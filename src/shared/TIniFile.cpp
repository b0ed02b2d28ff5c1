#include "TIniFile.h"

#include "EkaError.h"
#include "TkaAtomicFile.h"
#include "TkaBoundedRead.h"

#include <QFile>
#include <QHash>
#include <QStringDecoder>
#include <array>
#include <optional>
#include <sys/stat.h>

namespace {

struct Entry {
    QString Key;  // empty for a comment line
    QString Text; // the value, or the whole comment line
};

struct Section {
    QString Name;
    QList<Entry> Entries;
    QHash<QString, qsizetype> KeyIndex; // folded key -> index in Entries
};

// Names compare as QString::compare with Qt::CaseInsensitive does: by case folding.
QString Folded(const QString& name) {
    return name.toCaseFolded();
}

// Windows-1252 differs from Latin-1 only in 0x80 to 0x9F; its five unused
// codes map to the control characters of the same number, as Windows does.
constexpr std::array<char16_t, 32> Cp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString FromWindows1252(const QByteArray& bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        *out++ = QChar(byte >= 0x80 && byte <= 0x9F ? Cp1252High[byte - 0x80] : char16_t(byte));
    }
    return text;
}

std::optional<QString> FromStrictUtf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

// The file as sections in file order. Sections named twice are merged into the
// first (the first value of a key wins, as for reads); lines that are neither a
// section header, a comment nor key=value are dropped, so a rewrite is well
// formed. Parsing and lookups take time linear in the file's size.
class TIniFile::TDocument {
public:
    static TDocument Parse(const QString& text) {
        TDocument doc;
        qsizetype current = -1;
        for (QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
            if (line.endsWith(QLatin1Char('\r')))
                line.chop(1);
            const QStringView trimmed = line.trimmed();
            if (trimmed.isEmpty())
                continue;
            if (trimmed.startsWith(QLatin1Char('['))) {
                // An unterminated header still names its section, so its keys stay with it.
                const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
                current = doc.SectionForWrite(
                    trimmed.mid(1, close < 0 ? -1 : close - 1).trimmed().toString());
                continue;
            }
            if (trimmed.startsWith(QLatin1Char(';'))) {
                (current < 0 ? doc.Preamble : doc.Sections[current].Entries)
                    .append(Entry{{}, trimmed.toString()});
                continue;
            }
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            if (eq < 0 || current < 0)
                continue;
            const QString key = line.left(eq).trimmed().toString();
            if (!key.isEmpty())
                doc.Append(doc.Sections[current], key, line.mid(eq + 1).toString());
        }
        return doc;
    }

    const Section* Find(const QString& name) const {
        const auto it = SectionIndex.constFind(Folded(name));
        return it == SectionIndex.constEnd() ? nullptr : &Sections[*it];
    }

    const Entry* Find(const QString& sectionName, const QString& key) const {
        const Section* section = Find(sectionName);
        return section != nullptr ? Find(*section, key) : nullptr;
    }

    static const Entry* Find(const Section& section, const QString& key) {
        const auto it = section.KeyIndex.constFind(Folded(key));
        return it == section.KeyIndex.constEnd() ? nullptr : &section.Entries[*it];
    }

    void Set(const QString& sectionName, const QString& key, const QString& value) {
        Section& section = Sections[SectionForWrite(sectionName)];
        const auto it = section.KeyIndex.constFind(Folded(key));
        if (it != section.KeyIndex.constEnd())
            section.Entries[*it].Text = value;
        else
            Append(section, key, value);
    }

    void Erase(const QString& name) {
        const auto it = SectionIndex.constFind(Folded(name));
        if (it == SectionIndex.constEnd())
            return;
        Sections.remove(*it);
        IndexSections();
    }

    void Remove(const QString& sectionName, const QString& key) {
        const auto it = SectionIndex.constFind(Folded(sectionName));
        if (it == SectionIndex.constEnd())
            return;
        Section& section = Sections[*it];
        const auto entry = section.KeyIndex.constFind(Folded(key));
        if (entry == section.KeyIndex.constEnd())
            return;
        section.Entries.remove(*entry);
        IndexKeys(section);
    }

    QByteArray Serialise() const {
        QString out;
        for (const Entry& e : Preamble)
            out += e.Text + QLatin1Char('\n');
        for (const Section& s : Sections) {
            if (!out.isEmpty())
                out += QLatin1Char('\n');
            out += QLatin1Char('[') + s.Name + QStringLiteral("]\n");
            for (const Entry& e : s.Entries) {
                if (e.Key.isEmpty())
                    out += e.Text + QLatin1Char('\n');
                else
                    out += e.Key + QLatin1Char('=') + e.Text + QLatin1Char('\n');
            }
        }
        return out.toUtf8();
    }

    QList<Section> Sections;

private:
    qsizetype SectionForWrite(const QString& name) {
        const QString folded = Folded(name);
        const auto it = SectionIndex.constFind(folded);
        if (it != SectionIndex.constEnd())
            return *it;
        SectionIndex.insert(folded, Sections.size());
        Sections.append(Section{name, {}, {}});
        return Sections.size() - 1;
    }

    // Later duplicates of a key are dropped: the first one is what reads see.
    static void Append(Section& section, const QString& key, const QString& value) {
        const QString folded = Folded(key);
        if (section.KeyIndex.contains(folded))
            return;
        section.KeyIndex.insert(folded, section.Entries.size());
        section.Entries.append(Entry{key, value});
    }

    void IndexSections() {
        SectionIndex.clear();
        for (qsizetype i = 0; i < Sections.size(); ++i)
            SectionIndex.insert(Folded(Sections[i].Name), i);
    }

    static void IndexKeys(Section& section) {
        section.KeyIndex.clear();
        for (qsizetype i = 0; i < section.Entries.size(); ++i)
            if (!section.Entries[i].Key.isEmpty())
                section.KeyIndex.insert(Folded(section.Entries[i].Key), i);
    }

    QList<Entry> Preamble;
    QHash<QString, qsizetype> SectionIndex; // folded name -> index in Sections
};

namespace {

// A value never holds a line break: the file format has no escape for one.
QString SingleLine(QString value) {
    value.replace(QLatin1Char('\r'), QLatin1Char(' '));
    value.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return value;
}

void CheckName(const QString& what, const QString& name, const QString& path) {
    const bool bad = name.contains(QLatin1Char('\n')) || name.contains(QLatin1Char('\r')) ||
                     (what == QLatin1String("key") &&
                      (name.contains(QLatin1Char('=')) || name.trimmed().isEmpty() ||
                       name.trimmed().startsWith(QLatin1Char('[')) ||
                       name.trimmed().startsWith(QLatin1Char(';')))) ||
                     (what == QLatin1String("section") && name.contains(QLatin1Char(']')));
    if (bad)
        throw EkaError(QStringLiteral("Invalid ini %1 \"%2\" for File %3").arg(what, name, path));
}

template <class Stat> void Fill(const Stat& st, auto& stamp) {
    stamp.Exists = true;
    stamp.Device = st.st_dev;
    stamp.Inode = st.st_ino;
    stamp.Size = st.st_size;
    stamp.ModifiedSeconds = st.st_mtim.tv_sec;
    stamp.ModifiedNanoseconds = st.st_mtim.tv_nsec;
    stamp.ChangedSeconds = st.st_ctim.tv_sec;
    stamp.ChangedNanoseconds = st.st_ctim.tv_nsec;
}

} // namespace

TIniFile::TIniFile(QString fileName) : Path(std::move(fileName)) {}

QString TIniFile::DecodeText(const QByteArray& bytes) {
    if (bytes.startsWith("\xFF\xFE"))
        return QStringDecoder(QStringDecoder::Utf16LE)(QByteArrayView(bytes).sliced(2));
    if (bytes.startsWith("\xFE\xFF"))
        return QStringDecoder(QStringDecoder::Utf16BE)(QByteArrayView(bytes).sliced(2));
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(QByteArrayView(bytes).sliced(3));
    if (std::optional<QString> text = FromStrictUtf8(bytes))
        return *text;
    return FromWindows1252(bytes);
}

// Identity (device and inode: every write of the store makes a new file),
// size, and modification and change times to the nanosecond, so a rewrite
// within the same second is still seen.
const TIniFile::TDocument& TIniFile::Current(bool forWriting) const {
    TFileStamp now;
    struct stat st {};
    if (::stat(QFile::encodeName(Path).constData(), &st) == 0)
        Fill(st, now);
    if (Cached && now == CachedStamp)
        return *Cached;

    Cached.reset();
    CachedStamp = TFileStamp{};
    if (!now.Exists)
        return *(Cached = std::make_shared<const TDocument>());
    QFile file(Path);
    QByteArray bytes;
    QString error;
    // The stamp is that of the file opened, taken before reading: content
    // changed meanwhile gives another stamp at the next read.
    const bool opened = file.open(QIODevice::ReadOnly) && ::fstat(file.handle(), &st) == 0;
    if (opened)
        Fill(st, now);
    if (!opened || !TkaBoundedRead::ReadAll(file, TkaBoundedRead::MaxTextBytes, bytes, error)) {
        // Rewriting a file we cannot read would lose its keys.
        if (forWriting)
            throw EkaError(QStringLiteral("Error reading File ") + Path + QStringLiteral(": ") +
                           (opened ? error : file.errorString()));
        // Not kept: the next read tries again.
        static const TDocument Empty;
        return Empty;
    }
    Cached = std::make_shared<const TDocument>(TDocument::Parse(DecodeText(bytes)));
    CachedStamp = now;
    return *Cached;
}

void TIniFile::Save(TDocument document) {
    Cached.reset();
    CachedStamp = TFileStamp{};
    const QByteArray bytes = document.Serialise();
    TkaAtomicFile::Replace<EkaError>(Path, bytes, [this](const QString& reason) {
        return QStringLiteral("Error writing File ") + Path + QStringLiteral(": ") + reason;
    });
    // Kept for the next read while the file is the one written.
    struct stat st {};
    if (::stat(QFile::encodeName(Path).constData(), &st) != 0 || st.st_size != bytes.size())
        return;
    Fill(st, CachedStamp);
    Cached = std::make_shared<const TDocument>(std::move(document));
}

QString TIniFile::ReadString(const QString& section, const QString& key,
                             const QString& defaultValue) const {
    const Entry* e = Current(false).Find(section, key);
    return (e != nullptr ? e->Text : defaultValue).left(MaxValueLength);
}

bool TIniFile::ParseInteger(const QString& text, int& value) {
    QStringView digits = QStringView(text).trimmed();
    bool negative = false;
    if (digits.startsWith(QLatin1Char('-')) || digits.startsWith(QLatin1Char('+'))) {
        negative = digits.front() == QLatin1Char('-');
        digits = digits.mid(1);
    }
    int base = 10;
    if (digits.startsWith(QLatin1Char('$'))) {
        base = 16;
        digits = digits.mid(1);
    } else if (digits.startsWith(QLatin1String("0x")) || digits.startsWith(QLatin1String("0X"))) {
        base = 16;
        digits = digits.mid(2);
    }
    if (digits.isEmpty())
        return false;
    for (QChar c : digits) {
        const bool ok = base == 10 ? c.isDigit() && c.unicode() < 128
                                   : QStringLiteral("0123456789abcdefABCDEF").contains(c);
        if (!ok)
            return false;
    }
    bool ok = false;
    const qulonglong magnitude = digits.toULongLong(&ok, base);
    // Hexadecimal spans the full 32 bits (so "$FFFFFFFF" is -1); decimal must fit.
    const qulonglong limit =
        base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    if (!ok || magnitude > limit)
        return false;
    const auto bits = static_cast<quint32>(magnitude);
    value = negative ? static_cast<int>(0u - bits) : static_cast<int>(bits);
    return true;
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const {
    const Entry* e = Current(false).Find(section, key);
    int value = defaultValue;
    if (e != nullptr && ParseInteger(e->Text.left(MaxValueLength), value))
        return value;
    return defaultValue;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    CheckName(QStringLiteral("section"), section, Path);
    CheckName(QStringLiteral("key"), key, Path);
    TDocument doc = Current(true);
    doc.Set(section, key.trimmed(), SingleLine(value));
    Save(std::move(doc));
}

void TIniFile::WriteInteger(const QString& section, const QString& key, int value) {
    WriteString(section, key, QString::number(value));
}

void TIniFile::WriteBool(const QString& section, const QString& key, bool value) {
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

QStringList TIniFile::ReadSections() const {
    QStringList names;
    for (const Section& s : Current(false).Sections)
        names.append(s.Name);
    return names;
}

QStringList TIniFile::ReadSection(const QString& section) const {
    QStringList keys;
    for (const auto& [key, value] : ReadSectionValues(section))
        keys.append(key);
    return keys;
}

QList<QPair<QString, QString>> TIniFile::ReadSectionValues(const QString& section) const {
    QList<QPair<QString, QString>> values;
    if (const Section* s = Current(false).Find(section)) {
        for (const Entry& e : s->Entries) {
            if (!e.Key.isEmpty())
                values.append({e.Key, e.Text.left(MaxValueLength)});
        }
    }
    return values;
}

bool TIniFile::SectionExists(const QString& section) const {
    return Current(false).Find(section) != nullptr;
}

bool TIniFile::ValueExists(const QString& section, const QString& key) const {
    return Current(false).Find(section, key) != nullptr;
}

void TIniFile::EraseSection(const QString& section) {
    if (Current(true).Find(section) == nullptr)
        return;
    TDocument doc = Current(true);
    doc.Erase(section);
    Save(std::move(doc));
}

void TIniFile::ReplaceSection(const QString& section,
                              const QList<QPair<QString, QString>>& values) {
    CheckName(QStringLiteral("section"), section, Path);
    for (const auto& [key, value] : values)
        CheckName(QStringLiteral("key"), key, Path);
    TDocument doc = Current(true);
    doc.Erase(section);
    for (const auto& [key, value] : values)
        doc.Set(section, key.trimmed(), SingleLine(value));
    Save(std::move(doc));
}

void TIniFile::DeleteKey(const QString& section, const QString& key) {
    if (Current(true).Find(section, key) == nullptr)
        return;
    TDocument doc = Current(true);
    doc.Remove(section, key);
    Save(std::move(doc));
}
