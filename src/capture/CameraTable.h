#pragma once

#include <QList>
#include <QPair>
#include <QString>

class TIniFile;

// Which settings number N ("VideoFrameN", its scene folder, its mask) each
// camera has, kept in the configuration file's section "Cameras" as
// "N=identity". A camera keeps its number however the list of devices
// changes; one seen for the first time gets the smallest number no camera
// has, so a configuration from before the table keeps the numbers the
// cameras had by their place.
class TCameraTable {
public:
    static const QString Section;

    // Ini may be null: the numbers then last for this run only.
    explicit TCameraTable(TIniFile* ini);

    // The camera's number, from the file or newly given (remembered for Store).
    int Number(const QString& identity);
    // Writes the numbers given since the last Store; the write's error
    // propagates and the numbers stay given all the same.
    void Store();

private:
    bool Taken(int number) const;

    TIniFile* Ini;
    QList<QPair<int, QString>> Known;
    QList<QPair<int, QString>> Added;
    QList<int> Given;
};
