#pragma once

#include <QString>

// One mail account found on the machine: a sender address and the server
// that sends its mail.
struct TAccount {
    QString AccountName;
    QString POP3Server;
    QString SMTPEmailAddress;
    QString SMTPServer;
};
