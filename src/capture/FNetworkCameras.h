#pragma once

#include "NetworkCameraConfig.h"
#include "NetworkStreamReader.h"
#include "kaComponent.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

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

    void Loaded() override {}
    // The texts of both windows that are built in code, registered at start.
    static void RegisterMessages();

    const QList<TNetworkCameraEntry>& Cameras() const { return FCameras; }
    void AddCamera(const TNetworkCameraEntry& camera);
    void ReplaceCamera(int index, const TNetworkCameraEntry& camera);
    void RemoveCamera(int index);
    // Opens the camera's stream and shows one picture, or the reason why not.
    void TryCamera(int index);
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

    QList<TNetworkCameraEntry> FCameras;
    TNetworkTimings Timings;
};
