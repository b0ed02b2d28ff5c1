#pragma once

#include "CaptureBackend.h"

#include <QDialog>
#include <QList>

class QCheckBox;
class QComboBox;
class QSlider;

// The driver's format dialog: the picture sizes the device offers and the
// pixel formats it delivers them in (converted to BGR24 for the system).
class TCaptureFormatDialog : public QDialog {
    Q_OBJECT

public:
    explicit TCaptureFormatDialog(TCaptureDevice& device, QWidget* parent = nullptr);

    QComboBox* SizeComboBox() const { return Sizes; }
    // Gives the chosen size to the device; false when it refuses.
    bool Apply();

private:
    TCaptureDevice& Device;
    QComboBox* Sizes;
};

// The driver's source dialog: a slider per adjustable value (brightness,
// contrast, ...) and a check box per switch.
class TCaptureSourceDialog : public QDialog {
    Q_OBJECT

public:
    explicit TCaptureSourceDialog(TCaptureDevice& device, QWidget* parent = nullptr);

    // The slider or check box of a control, by the control's name.
    QWidget* Editor(const QString& controlName) const;
    // Gives every changed value to the device; false when one is refused.
    bool Apply();

private:
    struct TEditor {
        TCaptureControl Control;
        QSlider* Slider = nullptr;
        QCheckBox* CheckBox = nullptr;
        int Value() const;
    };

    TCaptureDevice& Device;
    QList<TEditor> Editors;
};

// The Qt dialogs for TVideoCap; V4L2 has no display dialog.
class TQtCaptureDialogs final : public TCaptureDialogs {
public:
    bool FormatDialog(TCaptureDevice& device) override;
    bool SourceDialog(TCaptureDevice& device) override;
    bool DisplayDialog(TCaptureDevice& device) override;
};

// Registers the dialogs' texts at start, so that each language covers them.
void RegisterCaptureDialogMessages();

// Installs the Qt dialogs for the process; called once at program start.
void InstallCaptureDialogs();
