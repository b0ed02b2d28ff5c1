#include "TkaAutostartAction.h"

#include "ApplicationErrors.h"
#include "kaGeneral.h"

#include <utility>

TkaAutostartAction::TkaAutostartAction(QObject* parent, TkaAutostart entry, QStringList arguments)
    : TkaAction(parent), FEntry(std::move(entry)), FArguments(std::move(arguments)) {
    setCheckable(true);
    Refresh();
    connect(this, &QAction::triggered, this, &TkaAutostartAction::AutostartActionExecute);
}

void TkaAutostartAction::Refresh() {
    setChecked(FEntry.IsEnabled());
}

void TkaAutostartAction::AutostartActionExecute(bool checked) {
    RunHandled([this, checked] {
        if (checked)
            FEntry.Enable(ProgramFile ? ProgramFile() : ProgramFileName(), FArguments);
        else
            FEntry.Disable();
    });
    Refresh();
}
