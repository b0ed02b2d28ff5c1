#include "OffsiteCopyLink.h"

#include "ApplicationErrors.h"
#include "OffsitePasswordStore.h"
#include "OffsiteSettings.h"
#include "frScene.h"
#include "kaGeneral.h"

namespace {

TkaMessage& LineMessage() {
    static TkaMessage message(QStringLiteral("OFFSITE_MSG_LINE"),
                              QStringLiteral("Off-site copy: %1, %2 waiting"));
    return message;
}

TkaMessage& LastCopiedMessage() {
    static TkaMessage message(QStringLiteral("OFFSITE_MSG_LASTCOPIED"),
                              QStringLiteral("last copied %1"));
    return message;
}

TkaMessage& DeletedMessage() {
    static TkaMessage message(QStringLiteral("OFFSITE_MSG_DELETED"),
                              QStringLiteral("%1 not copied: deleted before it could be sent"));
    return message;
}

TkaMessage& FailingMessage() {
    static TkaMessage message(QStringLiteral("OFFSITE_MSG_FAILING"),
                              QStringLiteral("Off-site copy fails"));
    return message;
}

} // namespace

TOffsiteCopyLink::TOffsiteCopyLink(QObject* parent, TOffsiteTimings timings) : QObject(parent) {
    for (TkaMessage* message :
         {&LineMessage(), &LastCopiedMessage(), &DeletedMessage(), &FailingMessage()})
        message->Handle();
    FCopier = new TOffsiteCopier(OffsiteJournalFileName(*CfgIniFile()), this, timings);
    FPasswords = new TOffsitePasswordStore(this);
    connect(FCopier, &TOffsiteCopier::StatusChanged, this, &TOffsiteCopyLink::ShowStatus);
    connect(FCopier, &TOffsiteCopier::FailingChanged, this, &TOffsiteCopyLink::ReportFailing);
}

void TOffsiteCopyLink::Reload() {
    const int reload = ++FReloads;
    const TOffsiteSettings settings = TOffsiteSettings::Read(*CfgIniFile());
    const TOffsiteTarget target = settings.Target(settings.FilePassword);
    // A key file or a password in the file needs nothing from the store.
    if (!target.IsValid() || !target.Password.isEmpty() || !settings.IdentityFile.isEmpty() ||
        target.User.isEmpty()) {
        Apply(settings.FilePassword);
        return;
    }
    FPasswords->Read([this, reload](const QString& password, const QString& error) {
        if (reload != FReloads)
            return;
        if (!error.isEmpty())
            LogApplicationError(EOffsiteCopy(
                QStringLiteral("The secret store gives no off-site password: %1").arg(error)));
        Apply(password);
    });
}

void TOffsiteCopyLink::Apply(const QString& password) {
    QString problem;
    const TOffsiteTarget target = TOffsiteSettings::Read(*CfgIniFile()).Target(password, &problem);
    if (!problem.isEmpty())
        LogApplicationError(EOffsiteCopy(QStringLiteral("Off-site copy: %1").arg(problem)));
    FCopier->SetTarget(target);
}

void TOffsiteCopyLink::AddSceneFrame(TSceneFrame* frame) {
    FFrames.append(frame);
    TkaSceneMaker* maker = frame->kaSceneMaker;
    maker->OnPictureStored = [copier = QPointer<TOffsiteCopier>(FCopier),
                              maker](const QString& fileName) {
        if (copier != nullptr)
            copier->Enqueue(maker->SceneDir(), fileName);
    };
    frame->ShowOffsiteCopy(StatusLine(), FCopier->Failing());
}

QString TOffsiteCopyLink::StatusLine() const {
    const TOffsiteStatus status = FCopier->Status();
    if (status.Target.isEmpty())
        return {};
    QStringList parts{LineMessage().Text().arg(status.Target).arg(status.Waiting)};
    if (status.LastCopied.isValid())
        parts << LastCopiedMessage().Text().arg(
            status.LastCopied.toString(QStringLiteral("HH:mm:ss")));
    if (status.Deleted > 0)
        parts << DeletedMessage().Text().arg(status.Deleted);
    QString line = parts.join(QStringLiteral(", "));
    for (const QString& problem : {status.Failure, FCopier->JournalProblem()})
        if (!problem.isEmpty())
            line += QLatin1Char('\n') + problem;
    return line;
}

QString TOffsiteCopyLink::TrayLine() const {
    return FCopier->Failing() ? FailingMessage().Text() : QString();
}

void TOffsiteCopyLink::ShowStatus() {
    const QString line = StatusLine();
    const bool failing = FCopier->Failing();
    for (const QPointer<TSceneFrame>& frame : std::as_const(FFrames))
        if (frame != nullptr)
            frame->ShowOffsiteCopy(line, failing);
}

void TOffsiteCopyLink::ReportFailing(bool failing) {
    if (failing)
        LogApplicationError(EOffsiteCopy(FailingMessage().Text() + QStringLiteral(": ") +
                                         FCopier->Status().Failure));
    ShowStatus();
    emit FailingChanged(failing);
}
