#pragma once

#include "TkaAutostart.h"
#include "kaAction.h"

#include <QStringList>
#include <functional>

// A checkable command for the tray menu: checked while the program's
// autostart entry exists; checking writes the entry, unchecking removes it.
// The entry itself is the setting, so a change made elsewhere shows at the
// next Refresh.
class TkaAutostartAction : public TkaAction {
    Q_OBJECT
public:
    // Arguments are given to the program when the session starts it.
    TkaAutostartAction(QObject* parent, TkaAutostart entry, QStringList arguments = {});

    const TkaAutostart& Entry() const { return FEntry; }
    // The check mark follows the entry as it is now.
    void Refresh();
    // Writes or removes the entry; a failure is reported and the check
    // mark shows the entry as it stayed.
    void AutostartActionExecute(bool checked);

    // The program file the entry starts: the running one unless set.
    std::function<QString()> ProgramFile;

private:
    TkaAutostart FEntry;
    QStringList FArguments;
};
