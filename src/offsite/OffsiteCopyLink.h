#pragma once

#include "OffsiteCopier.h"

#include <QList>
#include <QObject>
#include <QPointer>

class TOffsitePasswordStore;
class TSceneFrame;

// Ties the off-site copier to the program: reads the target from the
// configuration file (and its password from the secret store), queues every
// picture the cameras' scene makers store, shows the copier's line on every
// scene page and reports a target that keeps failing to the error log.
class TOffsiteCopyLink : public QObject {
    Q_OBJECT

public:
    explicit TOffsiteCopyLink(QObject* parent = nullptr, TOffsiteTimings timings = {});

    // Takes the settings of "[Offsite]" (again); returns at once, the
    // password from the secret store follows.
    void Reload();
    // Queues the pictures of Frame's scene maker and shows the line there.
    void AddSceneFrame(TSceneFrame* frame);

    TOffsiteCopier* Copier() const { return FCopier; }
    // The scene page's line; empty while no target is set.
    QString StatusLine() const;
    // For the tray tool tip while the target fails; empty otherwise.
    QString TrayLine() const;

signals:
    void FailingChanged(bool failing);

private:
    void Apply(const QString& password);
    void ShowStatus();
    void ReportFailing(bool failing);

    TOffsiteCopier* FCopier = nullptr;
    TOffsitePasswordStore* FPasswords = nullptr;
    QList<QPointer<TSceneFrame>> FFrames;
    // Answers of the secret store for an older Reload are dropped.
    int FReloads = 0;
};
