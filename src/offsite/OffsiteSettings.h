#pragma once

#include "OffsiteTarget.h"

class TIniFile;

// The section "[Offsite]" of the configuration file: Url and IdentityFile,
// and Password only where no secret store takes it (the file is then made
// readable by its owner only).
struct TOffsiteSettings {
    QString Url;
    QString IdentityFile;
    // From the file's fallback key; the secret store is asked separately.
    QString FilePassword;

    static TOffsiteSettings Read(const TIniFile& ini);
    // Writes Url and IdentityFile; raises EkaError when the file refuses them.
    void Write(TIniFile& ini) const;
    // Puts Password into the file, or removes it there when empty.
    static void WriteFilePassword(TIniFile& ini, const QString& password);

    // The target these settings give with Password; invalid (and Problem set)
    // when the address is none.
    TOffsiteTarget Target(const QString& password, QString* problem = nullptr) const;
};

// The journal of waiting copies: beside the configuration file.
QString OffsiteJournalFileName(const TIniFile& ini);
