#include "CameraTable.h"

#include "TIniFile.h"

#include <algorithm>

const QString TCameraTable::Section = QStringLiteral("Cameras");

TCameraTable::TCameraTable(TIniFile* ini) : Ini(ini) {
    if (Ini == nullptr)
        return;
    for (const auto& [key, identity] : Ini->ReadSectionValues(Section)) {
        int number = 0;
        // A line edited into something else is no camera's.
        if (TIniFile::ParseInteger(key, number) && number > 0 && !identity.isEmpty() &&
            !Taken(number))
            Known.append({number, identity});
    }
}

bool TCameraTable::Taken(int number) const {
    const auto has = [number](const QPair<int, QString>& entry) { return entry.first == number; };
    return std::any_of(Known.begin(), Known.end(), has);
}

int TCameraTable::Number(const QString& identity) {
    // Two cameras of one identity (two network cameras of one name) are told
    // apart by their order: a number is given once per run.
    for (const auto& [number, known] : Known) {
        if (known == identity && !Given.contains(number)) {
            Given.append(number);
            return number;
        }
    }
    int number = 1;
    while (Taken(number))
        ++number;
    Known.append({number, identity});
    Added.append({number, identity});
    Given.append(number);
    return number;
}

void TCameraTable::Store() {
    if (Ini == nullptr)
        return;
    while (!Added.isEmpty()) {
        const auto& [number, identity] = Added.first();
        Ini->WriteString(Section, QString::number(number), identity);
        Added.removeFirst();
    }
}
