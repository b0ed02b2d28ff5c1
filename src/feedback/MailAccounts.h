#pragma once

#include "TAccount.h"

#include <QList>
#include <QString>

// The mail accounts a user has set up, read only: first those of
// Accounts.ini in the configuration folder (one section per account, named by its
// number as eight upper-case hexadecimal digits, "00000001" to "00000100"),
// then the identities of the user's Thunderbird profiles. Accounts without a
// sender address are skipped; damaged or unreadable files yield nothing.

// Accounts.ini in the configuration folder.
QString AccountsFileName();
QList<TAccount> ReadAccountsIni(const QString& fileName);

// The identities of every Thunderbird profile below Home (.thunderbird, and
// the folders of the snap and flatpak packages): in each, the profiles named
// in profiles.ini first, then other profile folders by name.
QList<TAccount> ReadThunderbirdAccounts(const QString& home);
// The identities of one prefs.js, in the order of the account manager.
QList<TAccount> ReadThunderbirdPrefs(const QString& prefsFileName);

// The user's home folder; test seam: an empty Home restores the real one.
QString MailHomeDir();
void SetMailHomeDir(const QString& home);

// Accounts.ini, then Thunderbird under MailHomeDir().
QList<TAccount> CollectMailAccounts();
