#pragma once

#include "ApplicationErrors.h"
#include "EkaError.h"
#include "kaComponent.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;
class QWidget;

// An existing error log that cannot be read at start.
class EErrorLogRead : public EkaError {
public:
    using EkaError::EkaError;
};

// The error log in the state folder (beside the program when portable): the
// program file with ".ERR" for its extension ("Tarvik" gives "Tarvik.ERR").
QString ErrorLogFileName();

// The main window's error log, error box and single start. Constructing it
// installs it as the application's error handler; with StartOnce, loading it
// hands a second start over to the running instance and ends the process.
class TkaApplicationEvents : public QObject, public TkaLoadable {
    Q_OBJECT
public:
    explicit TkaApplicationEvents(QObject* parent = nullptr);
    ~TkaApplicationEvents() override;

    int MaxErrRows() const { return FMaxErrRows; }
    void SetMaxErrRows(int value) { FMaxErrRows = value; }
    bool ShowExceptionBox() const { return FShowExceptionBox; }
    void SetShowExceptionBox(bool value) { FShowExceptionBox = value; }
    bool StartOnce() const { return FStartOnce; }
    void SetStartOnce(bool value) { FStartOnce = value; }

    // The rows of the error log, oldest first, one line each.
    const QStringList& ErrorLog() const { return FErrorLog; }

    // The window a second start brings back: the one set here, otherwise the
    // owner when it is a widget.
    QWidget* MainWindow() const;
    void SetMainWindow(QWidget* window) { FMainWindow = window; }

    // Runs the single-start check when StartOnce is set.
    void Loaded() override;

    // Logs Error and, when ShowExceptionBox is set, shows the error box.
    void HandleException(const std::exception& error);
    // Appends Error's row, keeps the newest MaxErrRows rows and rewrites the
    // file. Never raises: a log that cannot be written is left as it is.
    void LogException(const std::exception& error);

    // The title and description of the error report (log row and error box).
    static QString ErrorTitle();
    static QString ErrorDescription(const std::exception& error);

    // Where instances of one installation of this program meet: named after
    // the program file, the user and the program directory, in the user's
    // runtime folder ($XDG_RUNTIME_DIR) or else a private folder of the
    // user's in the temporary folder, created with mode 0700. Empty when
    // neither is the user's own and closed to others.
    static QString SingleStartLockFileName();
    static QString SingleStartServerName();

    // True while this instance holds the single-start lock.
    bool HoldsSingleStartLock() const;

    // Ends the process after a second start handed over; std::exit by default.
    using TExitFunction = std::function<void(int exitCode)>;
    // Test seam: an empty function restores std::exit. Returns the previous one.
    static TExitFunction SetExitFunction(TExitFunction exit);

private:
    void LoadErrorLog();
    void WriteErrorLog() const;
    void RunSingleStartCheck();
    // True with Lock set when this instance holds the lock, true without it
    // when another instance of this user holds it, false when no lock can be
    // made at all.
    bool TakeSingleStartLock(const QString& lockName);
    void Listen(bool ownsName);
    void AcceptConnections();
    void ReadCommand(QLocalSocket* socket);
    void ShowMainWindow();

    int FMaxErrRows = 1000;
    bool FShowExceptionBox = true;
    bool FStartOnce = false;
    bool FShowingBox = false;
    QStringList FErrorLog;
    QPointer<QWidget> FMainWindow;
    std::unique_ptr<QLockFile> Lock;
    QLocalServer* Server = nullptr;
    TApplicationErrorHandler PreviousHandler;
    TApplicationErrorHandler PreviousLogger;
};
