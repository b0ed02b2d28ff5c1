#include "TIniFile.h"

#include "EkaError.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <optional>

namespace {

struct Entry {
    QString Key;  // empty for a comment line
    QString Text; // the value, or the whole comment line
};

struct Section {
    QString Name;
    QList<Entry> Entries;
};

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The file as sections in file order. Sections named twice are merged into the
// first (the first value of a key wins, as for reads); lines that are neither a
// section header, a comment nor key=value are dropped, so a rewrite is well formed.
class IniDocument {
public:
    static IniDocument load(const QString& path, bool forWriting) {
        IniDocument doc;
        QFile file(path);
        if (!file.exists())
            return doc;
        if (!file.open(QIODevice::ReadOnly)) {
            // Rewriting a file we cannot read would lose its keys.
            if (forWriting)
                throw EkaError(QStringLiteral("Error reading File ") + path + QStringLiteral(": ") +
                               file.errorString());
            return doc;
        }
        doc.parse(QString::fromUtf8(file.readAll()));
        return doc;
    }

    qsizetype indexOf(const QString& name) const {
        auto it = std::find_if(Sections.begin(), Sections.end(),
                               [&](const Section& s) { return SameName(s.Name, name); });
        return it == Sections.end() ? -1 : it - Sections.begin();
    }

    const Section* section(const QString& name) const {
        const qsizetype i = indexOf(name);
        return i < 0 ? nullptr : &Sections[i];
    }

    Section& sectionForWrite(const QString& name) {
        qsizetype i = indexOf(name);
        if (i < 0) {
            Sections.append(Section{name, {}});
            i = Sections.size() - 1;
        }
        return Sections[i];
    }

    static qsizetype indexOf(const Section& s, const QString& key) {
        auto it = std::find_if(s.Entries.begin(), s.Entries.end(), [&](const Entry& e) {
            return !e.Key.isEmpty() && SameName(e.Key, key);
        });
        return it == s.Entries.end() ? -1 : it - s.Entries.begin();
    }

    static const Entry* find(const Section& s, const QString& key) {
        const qsizetype i = indexOf(s, key);
        return i < 0 ? nullptr : &s.Entries[i];
    }

    void set(const QString& sectionName, const QString& key, const QString& value) {
        Section& s = sectionForWrite(sectionName);
        const qsizetype i = indexOf(s, key);
        if (i >= 0)
            s.Entries[i].Text = value;
        else
            s.Entries.append(Entry{key, value});
    }

    void erase(const QString& name) {
        Sections.erase(std::remove_if(Sections.begin(), Sections.end(),
                                      [&](const Section& s) { return SameName(s.Name, name); }),
                       Sections.end());
    }

    void remove(const QString& sectionName, const QString& key) {
        for (Section& s : Sections) {
            if (!SameName(s.Name, sectionName))
                continue;
            s.Entries.erase(std::remove_if(s.Entries.begin(), s.Entries.end(),
                                           [&](const Entry& e) {
                                               return !e.Key.isEmpty() && SameName(e.Key, key);
                                           }),
                            s.Entries.end());
        }
    }

    QByteArray serialise() const {
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
    void parse(const QString& text) {
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
                const QString name =
                    trimmed.mid(1, close < 0 ? -1 : close - 1).trimmed().toString();
                sectionForWrite(name);
                current = indexOf(name);
                continue;
            }
            if (trimmed.startsWith(QLatin1Char(';'))) {
                (current < 0 ? Preamble : Sections[current].Entries)
                    .append(Entry{{}, trimmed.toString()});
                continue;
            }
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            if (eq < 0 || current < 0)
                continue;
            const QString key = line.left(eq).trimmed().toString();
            if (key.isEmpty() || indexOf(Sections[current], key) >= 0)
                continue;
            Sections[current].Entries.append(Entry{key, line.mid(eq + 1).toString()});
        }
    }

    QList<Entry> Preamble;
};

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

void Save(const QString& path, const IniDocument& doc) {
    QSaveFile file(path);
    const QByteArray bytes = doc.serialise();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw EkaError(QStringLiteral("Error writing File ") + path + QStringLiteral(": ") +
                       file.errorString());
}

std::optional<QString> Lookup(const QString& path, const QString& section, const QString& key) {
    const IniDocument doc = IniDocument::load(path, false);
    const Section* s = doc.section(section);
    if (s == nullptr)
        return std::nullopt;
    const Entry* e = IniDocument::find(*s, key);
    if (e == nullptr)
        return std::nullopt;
    return e->Text;
}

} // namespace

TIniFile::TIniFile(QString fileName) : Path(std::move(fileName)) {}

QString TIniFile::ReadString(const QString& section, const QString& key,
                             const QString& defaultValue) const {
    return Lookup(Path, section, key).value_or(defaultValue).left(MaxValueLength);
}

bool TIniFile::ParseInteger(const QString& text, int& value) {
    QStringView digits(text);
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
    const std::optional<QString> text = Lookup(Path, section, key);
    int value = defaultValue;
    if (text && ParseInteger(text->left(MaxValueLength), value))
        return value;
    return defaultValue;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    CheckName(QStringLiteral("section"), section, Path);
    CheckName(QStringLiteral("key"), key, Path);
    IniDocument doc = IniDocument::load(Path, true);
    doc.set(section, key.trimmed(), SingleLine(value));
    Save(Path, doc);
}

void TIniFile::WriteInteger(const QString& section, const QString& key, int value) {
    WriteString(section, key, QString::number(value));
}

void TIniFile::WriteBool(const QString& section, const QString& key, bool value) {
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

QStringList TIniFile::ReadSections() const {
    QStringList names;
    for (const Section& s : IniDocument::load(Path, false).Sections)
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
    const IniDocument doc = IniDocument::load(Path, false);
    if (const Section* s = doc.section(section)) {
        for (const Entry& e : s->Entries) {
            if (!e.Key.isEmpty())
                values.append({e.Key, e.Text.left(MaxValueLength)});
        }
    }
    return values;
}

bool TIniFile::SectionExists(const QString& section) const {
    return IniDocument::load(Path, false).section(section) != nullptr;
}

bool TIniFile::ValueExists(const QString& section, const QString& key) const {
    return Lookup(Path, section, key).has_value();
}

void TIniFile::EraseSection(const QString& section) {
    IniDocument doc = IniDocument::load(Path, true);
    if (doc.section(section) == nullptr)
        return;
    doc.erase(section);
    Save(Path, doc);
}

void TIniFile::ReplaceSection(const QString& section,
                              const QList<QPair<QString, QString>>& values) {
    CheckName(QStringLiteral("section"), section, Path);
    for (const auto& [key, value] : values)
        CheckName(QStringLiteral("key"), key, Path);
    IniDocument doc = IniDocument::load(Path, true);
    doc.erase(section);
    for (const auto& [key, value] : values)
        doc.set(section, key.trimmed(), SingleLine(value));
    Save(Path, doc);
}

void TIniFile::DeleteKey(const QString& section, const QString& key) {
    IniDocument doc = IniDocument::load(Path, true);
    const Section* s = doc.section(section);
    if (s == nullptr || IniDocument::find(*s, key) == nullptr)
        return;
    doc.remove(section, key);
    Save(Path, doc);
}
