#include "ApplicationErrors.h"
#include "ScriptedDialogs.h"
#include "TempProgramDir.h"
#include "UnprivilegedScope.h"
#include "kaApplication.h"
#include "kaApplicationEvents.h"
#include "kaGeneral.h"
#include "kaTimeText.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLocale>
#include <QLockFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// Outside the anonymous namespace, so its class name reads plainly in the log.
class ELogTestError : public EkaError {
public:
    using EkaError::EkaError;
};

namespace {

const QDateTime FixedTime(QDate(2024, 3, 5), QTime(14, 7, 9));

QByteArray FileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList FileLines(const QString& path) {
    QStringList lines = QString::fromUtf8(FileBytes(path)).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Runs the event loop until Done holds or two seconds have passed.
template <class Predicate> bool WaitFor(Predicate done) {
    QDeadlineTimer deadline(2000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class ApplicationEventsTest : public TempProgramDir {
protected:
    void SetUp() override {
        TempProgramDir::SetUp();
        SavedRuntime = qgetenv("XDG_RUNTIME_DIR");
        SavedTemp = qgetenv("TMPDIR");
        ASSERT_TRUE(Runtime.isValid() && Temp.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(Runtime.path()));
        qputenv("TMPDIR", QFile::encodeName(Temp.path()));
        SetClock([] { return QDateTimeToDateTime(FixedTime); });
        PreviousExit = TkaApplicationEvents::SetExitFunction([this](int code) {
            ExitCodes.append(code);
            ExitWhileFormVisible = Form != nullptr && Form->isVisible();
        });
    }
    void TearDown() override {
        TkaApplicationEvents::SetExitFunction(PreviousExit);
        Restore("XDG_RUNTIME_DIR", SavedRuntime);
        Restore("TMPDIR", SavedTemp);
        TempProgramDir::TearDown();
    }

    static void Restore(const char* name, const QByteArray& value) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }

    // The private folder made in the temporary folder without a runtime folder.
    QString OwnTempFolder() const { return Temp.path() + "/tarvik-" + QString::number(geteuid()); }

    QTemporaryDir Runtime;
    QTemporaryDir Temp;
    QByteArray SavedRuntime;
    QByteArray SavedTemp;

    ScriptedDialogs Dialogs;
    QList<int> ExitCodes;
    QWidget* Form = nullptr;
    bool ExitWhileFormVisible = false;
    TkaApplicationEvents::TExitFunction PreviousExit;
};

// ---- Error log ---------------------------------------------------------------------

TEST_F(ApplicationEventsTest, LogsTwoLineRowWithDateTitleClassModuleAddressAndMessage) {
    TkaApplicationEvents events;
    const ELogTestError error(QStringLiteral("Driver not Open"));
    events.HandleException(error);

    const QString logFile = ErrorLogFileName();
    EXPECT_EQ(logFile, Dir() + QFileInfo(ProgramFileName()).fileName() + ".ERR");
    const QByteArray bytes = FileBytes(logFile);
    EXPECT_TRUE(bytes.endsWith("\r\n"));
    EXPECT_EQ(bytes.count("\r\n"), 2);

    // The time as the camera page's labels show it: no zone name.
    const QString when = DateTimeText(QDateTimeToDateTime(FixedTime));
    const QString address =
        QString::number(qulonglong(error.codeAddress()), 16).rightJustified(8, '0').toUpper();
    const QStringList lines = FileLines(logFile);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_FALSE(lines[0].contains(FixedTime.timeZoneAbbreviation())) << lines[0].toStdString();
    EXPECT_EQ(lines[0], when + " -> Anwendungsfehler : Exception ELogTestError in Modul " +
                            error.moduleName() + " bei " + address + ".");
    EXPECT_EQ(lines[1], "Driver not Open.");
    EXPECT_EQ(events.ErrorLog(), lines);

    ASSERT_EQ(Dialogs.Asked.size(), 1);
    EXPECT_EQ(Dialogs.Asked[0], "Error: Anwendungsfehler: Exception ELogTestError in Modul " +
                                    error.moduleName() + " bei " + address + ".\nDriver not Open.");
}

TEST_F(ApplicationEventsTest, MessageGetsOneFinalPeriodAndAnEmptyMessageNone) {
    auto messageLine = [](const std::exception& error) {
        return TkaApplicationEvents::ErrorDescription(error).section('\n', 1);
    };
    EXPECT_EQ(messageLine(ELogTestError("Value must be > 0")), "Value must be > 0.");
    EXPECT_EQ(messageLine(ELogTestError("Driver not Open.")), "Driver not Open.");
    EXPECT_EQ(messageLine(ELogTestError("")), "");
}

TEST_F(ApplicationEventsTest, ErrorsOutsideTheHierarchyNameTheirTypeAndTheProgram) {
    const QString description =
        TkaApplicationEvents::ErrorDescription(std::runtime_error("disk on fire"));
    EXPECT_EQ(description, "Exception std::runtime_error in Modul " +
                               QFileInfo(ProgramFileName()).fileName() +
                               " bei 00000000.\ndisk on fire.");
}

TEST_F(ApplicationEventsTest, KeepsTheNewestMaxErrRowsLinesOfAFullLog) {
    QByteArray old;
    for (int i = 1; i <= 1000; ++i)
        old += "old " + QByteArray::number(i) + "\r\n";
    WriteFile(ErrorLogFileName(), old);

    TkaApplicationEvents events;
    EXPECT_EQ(events.MaxErrRows(), 1000);
    ASSERT_EQ(events.ErrorLog().size(), 1000);
    events.HandleException(ELogTestError("Driver not Open"));

    const QStringList lines = FileLines(ErrorLogFileName());
    ASSERT_EQ(lines.size(), 1000);
    // The new row takes two lines, so the two oldest go.
    EXPECT_EQ(lines.first(), "old 3");
    EXPECT_EQ(lines[997], "old 1000");
    EXPECT_TRUE(lines[998].contains("Exception ELogTestError"));
    EXPECT_EQ(lines[999], "Driver not Open.");
    EXPECT_EQ(events.ErrorLog(), lines);
}

TEST_F(ApplicationEventsTest, SmallLimitAndLineFeedOnlyFileReadBackLineByLine) {
    WriteFile(ErrorLogFileName(), "first\nsecond\n\nfourth");
    TkaApplicationEvents events;
    EXPECT_EQ(events.ErrorLog(), QStringList({"first", "second", "", "fourth"}));

    events.SetMaxErrRows(3);
    events.SetShowExceptionBox(false);
    events.HandleException(ELogTestError("one"));
    events.HandleException(ELogTestError("line\r\nbreak"));
    const QStringList lines = FileLines(ErrorLogFileName());
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].contains("Exception ELogTestError"));
    EXPECT_EQ(lines[1], "line");
    EXPECT_EQ(lines[2], "break.");
}

TEST_F(ApplicationEventsTest, WithoutErrorBoxExceptionsAreOnlyLogged) {
    TkaApplicationEvents events;
    events.SetShowExceptionBox(false);
    events.HandleException(ELogTestError("quiet"));
    EXPECT_TRUE(Dialogs.Asked.isEmpty());
    EXPECT_EQ(FileLines(ErrorLogFileName()).size(), 2);
}

TEST_F(ApplicationEventsTest, AnUnwritableLogIsSwallowedAndTheBoxStillShown) {
    ASSERT_TRUE(QDir().mkdir(ErrorLogFileName())); // a directory where the file belongs
    TkaApplicationEvents events;
    EXPECT_NO_THROW(events.HandleException(ELogTestError("Driver not Open")));
    EXPECT_EQ(events.ErrorLog().size(), 2);
    EXPECT_EQ(Dialogs.Asked.size(), 1);
    EXPECT_TRUE(QFileInfo(ErrorLogFileName()).isDir());
}

TEST_F(ApplicationEventsTest, AnUnreadableLogFailsTheConstruction) {
    WriteFile(ErrorLogFileName(), "row\r\n");
    QFile::setPermissions(ErrorLogFileName(), QFileDevice::Permissions());
    OpenPathForEverybody(Folder.path().toLocal8Bit().constData());
    UnprivilegedScope nobody;
    EXPECT_THROW(TkaApplicationEvents events, EErrorLogRead);
}

TEST_F(ApplicationEventsTest, AStartRemovesLeftoversAndReadsAHugeLogFromItsEnd) {
    const QFileInfo settings(CfgIniFile()->FileName());
    const QFileInfo log(ErrorLogFileName());
    ASSERT_TRUE(QDir().mkpath(settings.absolutePath()));
    const QStringList leftovers{settings.absolutePath() + "/." + settings.fileName() + ".k1LLed",
                                log.absolutePath() + "/." + log.fileName() + ".k1LLed"};
    for (const QString& name : leftovers)
        WriteFile(name, "half a write");
    // Far beyond the bound of a text file; only the newest rows matter.
    QByteArray huge;
    const QByteArray row(99, 'r');
    while (huge.size() <= 9 * 1024 * 1024)
        huge += row + "\r\n";
    WriteFile(ErrorLogFileName(), huge + "the newest row\r\n");
    TkaApplicationEvents events;
    for (const QString& name : leftovers)
        EXPECT_FALSE(QFileInfo::exists(name)) << name.toStdString();
    ASSERT_FALSE(events.ErrorLog().isEmpty());
    EXPECT_EQ(events.ErrorLog().last(), "the newest row");
    EXPECT_EQ(events.ErrorLog().first(), QString::fromLatin1(row));
}

TEST_F(ApplicationEventsTest, CreatesTheConfigurationFileObjectWhenMissing) {
    SetCfgIniFile(nullptr);
    TkaApplicationEvents events;
    ASSERT_NE(CfgIniFile(), nullptr);
}

// ---- Error handler ----------------------------------------------------------------

TEST_F(ApplicationEventsTest, IsTheApplicationsErrorHandlerForItsLifetime) {
    {
        TkaApplicationEvents events;
        HandleApplicationError(ELogTestError("handled"));
        EXPECT_EQ(events.ErrorLog().size(), 2);
    }
    HandleApplicationError(ELogTestError("after destruction"));
    EXPECT_EQ(FileLines(ErrorLogFileName()).size(), 2);
    EXPECT_EQ(Dialogs.Asked.size(), 1);
}

// Dialogs whose error box waits in an event loop where the error recurs.
class RecurringErrorDialogs final : public TkaDialogs {
public:
    RecurringErrorDialogs() : Previous(SetDialogs(this)) {}
    ~RecurringErrorDialogs() override { SetDialogs(Previous); }
    int Boxes = 0;
    void ShowError(const QString&, const QString&) override {
        ++Boxes;
        HandleApplicationError(ELogTestError("again"));
    }
    void ShowMessage(const QString&) override {}
    TDialogAnswer Confirm(const QString&, TConfirmButtons, TDialogAnswer) override {
        return TDialogAnswer::No;
    }
    QString OpenFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString SaveFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString SelectDirectory(const QString&, const QString&) override { return {}; }

private:
    TkaDialogs* Previous;
};

TEST_F(ApplicationEventsTest, AnErrorWhileTheBoxIsOpenIsLoggedWithoutAnotherBox) {
    RecurringErrorDialogs recurring;
    TkaApplicationEvents events;
    events.HandleException(ELogTestError("first"));
    EXPECT_EQ(recurring.Boxes, 1);
    EXPECT_EQ(events.ErrorLog().size(), 4);
    events.HandleException(ELogTestError("later"));
    EXPECT_EQ(recurring.Boxes, 2);
}

class ThrowingObject : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User)
            throw ELogTestError("from an event handler");
        if (e->type() == QEvent::Type(QEvent::User + 1))
            throw 42;
        return QObject::event(e);
    }
};

TEST_F(ApplicationEventsTest, AnErrorEscapingAnEventHandlerIsHandledAndTheLoopCarriesOn) {
    ASSERT_NE(qobject_cast<TkaApplication*>(QCoreApplication::instance()), nullptr);
    TkaApplicationEvents events;
    events.SetShowExceptionBox(false);
    ThrowingObject target;

    QEvent failing(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&target, &failing));
    ASSERT_EQ(events.ErrorLog().size(), 2);
    EXPECT_TRUE(events.ErrorLog()[0].contains("Exception ELogTestError"));
    EXPECT_EQ(events.ErrorLog()[1], "from an event handler.");

    QEvent unknown(QEvent::Type(QEvent::User + 1));
    EXPECT_FALSE(QCoreApplication::sendEvent(&target, &unknown));
    ASSERT_EQ(events.ErrorLog().size(), 4);
    EXPECT_TRUE(events.ErrorLog()[2].contains("Exception EUnknownException"));
}

TEST_F(ApplicationEventsTest, ATimerThatFailsKeepsTicking) {
    TkaApplicationEvents events;
    events.SetShowExceptionBox(false);
    int ticks = 0;
    QTimer timer;
    timer.setInterval(1);
    QObject::connect(&timer, &QTimer::timeout, [&ticks] {
        ++ticks;
        throw ELogTestError("tick failed");
    });
    timer.start();
    EXPECT_TRUE(WaitFor([&] { return ticks >= 3; }));
    timer.stop();
    EXPECT_EQ(events.ErrorLog().size(), 2 * ticks);
}

TEST(TkaApplicationDeliver, PassesResultsThroughAndTurnsErrorsIntoFalse) {
    QStringList seen;
    const TApplicationErrorHandler previous =
        SetApplicationErrorHandler([&seen](const std::exception& e) { seen.append(e.what()); });
    EXPECT_TRUE(TkaApplication::Deliver([] { return true; }));
    EXPECT_FALSE(TkaApplication::Deliver([]() -> bool { throw std::logic_error("bad"); }));
    // A handler that fails itself must not let that escape either.
    SetApplicationErrorHandler([](const std::exception&) { throw std::runtime_error("worse"); });
    EXPECT_FALSE(TkaApplication::Deliver([]() -> bool { throw std::logic_error("bad"); }));
    SetApplicationErrorHandler(previous);
    EXPECT_EQ(seen, QStringList{"bad"});
}

// ---- Single start ----------------------------------------------------------------

TEST_F(ApplicationEventsTest, WithoutStartOnceNoLockIsTaken) {
    TkaApplicationEvents events;
    LoadComponent(&events);
    EXPECT_FALSE(events.HoldsSingleStartLock());
    EXPECT_FALSE(QFileInfo::exists(TkaApplicationEvents::SingleStartLockFileName()));
    EXPECT_TRUE(ExitCodes.isEmpty());
}

TEST_F(ApplicationEventsTest, ASecondStartEndsBeforeItsWindowShowsAndTheFirstShowsItsWindow) {
    QWidget firstWindow;
    TkaApplicationEvents first;
    first.SetMainWindow(&firstWindow);
    first.SetStartOnce(true);
    LoadComponent(&first);
    ASSERT_TRUE(first.HoldsSingleStartLock());
    ASSERT_TRUE(ExitCodes.isEmpty());

    QWidget secondForm;
    Form = &secondForm;
    auto* second = Own(&secondForm, new TkaApplicationEvents(&secondForm), "kaApplicationEvents1");
    second->SetStartOnce(true);
    LoadComponent(&secondForm);
    EXPECT_EQ(ExitCodes, QList<int>{0});
    EXPECT_FALSE(ExitWhileFormVisible);
    EXPECT_FALSE(second->HoldsSingleStartLock());

    EXPECT_TRUE(WaitFor([&] { return firstWindow.isVisible(); }));
    EXPECT_TRUE(first.HoldsSingleStartLock());
}

TEST_F(ApplicationEventsTest, AShowRequestRestoresAMinimisedOwner) {
    QWidget form;
    auto* events = Own(&form, new TkaApplicationEvents(&form), "kaApplicationEvents1");
    events->SetStartOnce(true);
    LoadComponent(&form);
    form.showMinimized();
    ASSERT_TRUE(form.isMinimized());

    TkaApplicationEvents second;
    second.SetStartOnce(true);
    LoadComponent(&second);
    EXPECT_EQ(ExitCodes.size(), 1);
    EXPECT_TRUE(WaitFor([&] { return !form.isMinimized(); }));
    EXPECT_TRUE(form.isVisible());
}

TEST_F(ApplicationEventsTest, OtherTalkOnTheSocketShowsNothing) {
    QWidget window;
    TkaApplicationEvents events;
    events.SetMainWindow(&window);
    events.SetStartOnce(true);
    LoadComponent(&events);

    // The server hangs up on a wrong command and on an endless one.
    for (const QByteArray& talk : {QByteArray("showing off\n"), QByteArray(200, 's')}) {
        QLocalSocket socket;
        socket.connectToServer(TkaApplicationEvents::SingleStartServerName());
        ASSERT_TRUE(socket.waitForConnected(2000));
        socket.write(talk);
        socket.flush();
        EXPECT_TRUE(WaitFor([&] { return socket.state() == QLocalSocket::UnconnectedState; }));
    }
    EXPECT_FALSE(window.isVisible());
}

TEST_F(ApplicationEventsTest, TheLockOfAnEndedRunIsTakenOver) {
    const QString lockName = TkaApplicationEvents::SingleStartLockFileName();
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        // A run that ends without releasing its lock.
        QLockFile lock(lockName);
        _exit(lock.tryLock(0) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(QFileInfo::exists(lockName));

    TkaApplicationEvents events;
    events.SetStartOnce(true);
    LoadComponent(&events);
    EXPECT_TRUE(ExitCodes.isEmpty());
    EXPECT_TRUE(events.HoldsSingleStartLock());
}

TEST_F(ApplicationEventsTest, TheEndOfTheRunningInstanceFreesTheStart) {
    {
        TkaApplicationEvents first;
        first.SetStartOnce(true);
        LoadComponent(&first);
        ASSERT_TRUE(first.HoldsSingleStartLock());
    }
    EXPECT_FALSE(QFileInfo::exists(TkaApplicationEvents::SingleStartLockFileName()));
    TkaApplicationEvents next;
    next.SetStartOnce(true);
    LoadComponent(&next);
    EXPECT_TRUE(ExitCodes.isEmpty());
    EXPECT_TRUE(next.HoldsSingleStartLock());
}

TEST_F(ApplicationEventsTest, TheSingleStartMeetsOnlyInAFolderClosedToOthers) {
    // The user's runtime folder, as the session made it.
    EXPECT_EQ(QFileInfo(TkaApplicationEvents::SingleStartLockFileName()).absolutePath(),
              Runtime.path());

    // One that others may write to is not used; nor is none at all.
    for (const bool unset : {false, true}) {
        SCOPED_TRACE(unset);
        ASSERT_EQ(chmod(QFile::encodeName(Runtime.path()).constData(), 0777), 0);
        if (unset)
            qunsetenv("XDG_RUNTIME_DIR");
        const QString lockName = TkaApplicationEvents::SingleStartLockFileName();
        EXPECT_EQ(QFileInfo(lockName).absolutePath(), OwnTempFolder());
        EXPECT_EQ(QFileInfo(TkaApplicationEvents::SingleStartServerName()).absolutePath(),
                  OwnTempFolder());
        struct stat status {};
        ASSERT_EQ(lstat(QFile::encodeName(OwnTempFolder()).constData(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0700u);

        TkaApplicationEvents events;
        events.SetStartOnce(true);
        LoadComponent(&events);
        EXPECT_TRUE(events.HoldsSingleStartLock());
        EXPECT_TRUE(QFileInfo::exists(lockName));
        EXPECT_TRUE(ExitCodes.isEmpty());
    }
}

TEST_F(ApplicationEventsTest, WhatAnotherUserLeftNeverCountsAsARunningInstance) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to leave files of another user";
    constexpr uid_t Nobody = 65534;

    // A live lock that is not the user's own, where the lock belongs.
    const QString lockName = TkaApplicationEvents::SingleStartLockFileName();
    QLockFile foreign(lockName);
    ASSERT_TRUE(foreign.tryLock(0));
    ASSERT_EQ(chown(QFile::encodeName(lockName).constData(), Nobody, Nobody), 0);
    {
        TkaApplicationEvents events;
        events.SetStartOnce(true);
        LoadComponent(&events);
        EXPECT_TRUE(ExitCodes.isEmpty());
        EXPECT_TRUE(events.HoldsSingleStartLock());
    }

    // The private folder's name taken by another user: no single start, but a start.
    qunsetenv("XDG_RUNTIME_DIR");
    ASSERT_TRUE(QDir().mkdir(OwnTempFolder()));
    ASSERT_EQ(chmod(QFile::encodeName(OwnTempFolder()).constData(), 0777), 0);
    ASSERT_EQ(chown(QFile::encodeName(OwnTempFolder()).constData(), Nobody, Nobody), 0);
    EXPECT_TRUE(TkaApplicationEvents::SingleStartLockFileName().isEmpty());
    TkaApplicationEvents first;
    first.SetStartOnce(true);
    LoadComponent(&first);
    TkaApplicationEvents second;
    second.SetStartOnce(true);
    LoadComponent(&second);
    EXPECT_TRUE(ExitCodes.isEmpty());
    EXPECT_TRUE(QDir(OwnTempFolder()).isEmpty());
}

} // namespace
