#pragma once

#include <QString>
#include <QStringList>

// Two parallel string lists. A message's handle is its index in both: Keys
// holds the message keys, Texts the current (possibly translated) texts.
class TkaHashList {
public:
    // Appends Key and Text; returns the handle. The same key twice gives two
    // entries that are translated alike.
    int Add(const QString& key, const QString& text);

    int Count() const { return static_cast<int>(Keys.size()); }
    const QString& Key(int handle) const;
    const QString& Text(int handle) const;
    void SetText(int handle, const QString& text);
    void Clear();

private:
    void Check(int handle) const;

    QStringList Keys;
    QStringList Texts;
};
