#include "TkaHashList.h"

#include "EkaError.h"

int TkaHashList::Add(const QString& key, const QString& text) {
    Keys.append(key);
    Texts.append(text);
    return Count() - 1;
}

void TkaHashList::Check(int handle) const {
    if (handle < 0 || handle >= Count())
        throw EkaError(QStringLiteral("TkaHashList: invalid handle ") + QString::number(handle));
}

const QString& TkaHashList::Key(int handle) const {
    Check(handle);
    return Keys[handle];
}

const QString& TkaHashList::Text(int handle) const {
    Check(handle);
    return Texts[handle];
}

void TkaHashList::SetText(int handle, const QString& text) {
    Check(handle);
    Texts[handle] = text;
}

void TkaHashList::Clear() {
    Keys.clear();
    Texts.clear();
}
