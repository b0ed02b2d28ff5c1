#pragma once

#include "NetworkCameraConfig.h"
#include "NetworkStreamReader.h"
#include "kaComponent.h"

#include <QDialog>
#include <QElapsedTimer>
#include <memory>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;
class TNetworkCamera;

// Name and URL of one network camera. The URL is shown with its password
// masked; left masked, the stored password is kept.
class TNetworkCameraEditDialog : public QDialog {
    Q_OBJECT
public:
    TNetworkCameraEditDialog(const TNetworkCameraEntry& camera, QStringList takenNames,
                             QWidget* parent = nullptr);

    // The entry as edited; empty name or URL when the input is not acceptable.
    TNetworkCameraEntry Camera() const;
    // Why the input cannot be taken; empty when it can.
    QString Problem() const;
    void accept() override;

    QLineEdit* NameEdit = nullptr;
    QLineEdit* UrlEdit = nullptr;
    QLabel* ProblemLabel = nullptr;

private:
    TNetworkCameraEntry Previous;
    QStringList TakenNames;
};

// "Network cameras": lists, adds, edits, tries and removes the network cameras
// of the configuration file. Changes are stored on OK and take effect at the
// next start of the program, when the capture drivers are listed.
class TNetworkCamerasForm : public QDialog, public TkaLoadable {
    Q_OBJECT
public:
    explicit TNetworkCamerasForm(QWidget* parent = nullptr, TNetworkTimings timings = {});
    ~TNetworkCamerasForm() override;

    void Loaded() override {}
    // The texts of both windows that are built in code, registered at start.
    static void RegisterMessages();

    const QList<TNetworkCameraEntry>& Cameras() const { return FCameras; }
    void AddCamera(const TNetworkCameraEntry& camera);
    void ReplaceCamera(int index, const TNetworkCameraEntry& camera);
    void RemoveCamera(int index);
    // Opens the camera's stream and, while the window goes on, shows one
    // picture or the reason why not. Closing the window ends the try.
    void TryCamera(int index);
    bool Trying() const { return Trial != nullptr; }
    // Writes the list into the configuration file; raises EkaError when it cannot.
    void Save();

    void AddButtonClick();
    void EditButtonClick();
    void TryButtonClick();
    void RemoveButtonClick();
    void accept() override;

    QListWidget* CameraList = nullptr;
    QPushButton* AddButton = nullptr;
    QPushButton* EditButton = nullptr;
    QPushButton* TryButton = nullptr;
    QPushButton* RemoveButton = nullptr;
    QLabel* PreviewLabel = nullptr;
    QLabel* TryLabel = nullptr;
    QLabel* NoteLabel = nullptr;

private:
    void FillList(int current);
    void UpdateButtons();
    QStringList NamesExcept(int index) const;
    void CheckTrial();
    void ShowTrial(const std::vector<std::uint8_t>& frame);
    void StopTrying();

    QList<TNetworkCameraEntry> FCameras;
    TNetworkTimings Timings;
    // The camera being tried, under the name it had when the try began.
    std::unique_ptr<TNetworkCamera> Trial;
    QString TrialName;
    QTimer* TrialTimer = nullptr;
    // Since the tried camera answered.
    QElapsedTimer TrialClock;
};
