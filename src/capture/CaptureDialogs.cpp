#include "CaptureDialogs.h"

#include "kaGeneral.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

namespace {

QDialogButtonBox* AddButtons(QDialog* dialog, QVBoxLayout* layout) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    return buttons;
}

QWidget* ActiveParent() {
    return QApplication::activeWindow();
}

enum TText { FormatTitleText, SizeText, FormatsText, SourceTitleText, NoControlsText, TextCount };

std::array<TkaMessage, TextCount>& Messages() {
    static std::array<TkaMessage, TextCount> messages{{
        {QStringLiteral("CAPTUREDIALOGS_MSG_FORMATTITLE"), QStringLiteral("Video Format")},
        {QStringLiteral("CAPTUREDIALOGS_MSG_SIZE"), QStringLiteral("Picture size:")},
        {QStringLiteral("CAPTUREDIALOGS_MSG_FORMATS"), QStringLiteral("Camera formats:")},
        {QStringLiteral("CAPTUREDIALOGS_MSG_SOURCETITLE"), QStringLiteral("Video Source")},
        {QStringLiteral("CAPTUREDIALOGS_MSG_NOCONTROLS"),
         QStringLiteral("The camera has no adjustable values.")},
    }};
    return messages;
}

QString Text(TText which) {
    return Messages()[which].Text();
}

} // namespace

TCaptureFormatDialog::TCaptureFormatDialog(TCaptureDevice& device, QWidget* parent)
    : QDialog(parent), Device(device), Sizes(new QComboBox(this)) {
    setWindowTitle(Text(FormatTitleText));
    Sizes->setObjectName(QStringLiteral("SizeComboBox"));
    const TCaptureFormat current = device.Format();
    for (const QSize& size : device.FrameSizes()) {
        Sizes->addItem(QStringLiteral("%1 x %2").arg(size.width()).arg(size.height()), size);
        if (size == QSize(current.Width, current.Height))
            Sizes->setCurrentIndex(Sizes->count() - 1);
    }
    auto* formats = new QLabel(device.PixelFormats().join(QLatin1Char('\n')), this);
    formats->setObjectName(QStringLiteral("PixelFormatLabel"));

    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    form->addRow(Text(SizeText), Sizes);
    form->addRow(Text(FormatsText), formats);
    layout->addLayout(form);
    AddButtons(this, layout);
}

bool TCaptureFormatDialog::Apply() {
    if (Sizes->currentIndex() < 0)
        return false;
    const QSize size = Sizes->currentData().toSize();
    return Device.SetFormat({size.width(), size.height(), CapturePixelFormatBGR24});
}

int TCaptureSourceDialog::TEditor::Value() const {
    return Slider ? Slider->value() : int(CheckBox->isChecked());
}

TCaptureSourceDialog::TCaptureSourceDialog(TCaptureDevice& device, QWidget* parent)
    : QDialog(parent), Device(device) {
    setWindowTitle(Text(SourceTitleText));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    for (const TCaptureControl& control : device.Controls()) {
        TEditor editor{control};
        if (control.Kind == TCaptureControlKind::Boolean) {
            editor.CheckBox = new QCheckBox(this);
            editor.CheckBox->setChecked(control.Value != 0);
            form->addRow(control.Name, editor.CheckBox);
        } else {
            editor.Slider = new QSlider(Qt::Horizontal, this);
            editor.Slider->setRange(control.Minimum, control.Maximum);
            editor.Slider->setSingleStep(control.Step);
            editor.Slider->setPageStep(
                std::max((control.Maximum - control.Minimum) / 10, control.Step));
            editor.Slider->setValue(control.Value);
            auto* value = new QLabel(QString::number(control.Value), this);
            value->setMinimumWidth(
                value->fontMetrics().horizontalAdvance(QStringLiteral("-00000")));
            connect(editor.Slider, &QSlider::valueChanged, value,
                    [value](int v) { value->setNum(v); });
            auto* row = new QHBoxLayout;
            row->addWidget(editor.Slider, 1);
            row->addWidget(value);
            form->addRow(control.Name, row);
        }
        Editors << editor;
    }
    if (Editors.isEmpty())
        form->addRow(new QLabel(Text(NoControlsText), this));
    AddButtons(this, layout);
}

QWidget* TCaptureSourceDialog::Editor(const QString& controlName) const {
    for (const TEditor& editor : Editors)
        if (editor.Control.Name == controlName)
            return editor.Slider ? static_cast<QWidget*>(editor.Slider) : editor.CheckBox;
    return nullptr;
}

bool TCaptureSourceDialog::Apply() {
    bool applied = true;
    for (const TEditor& editor : Editors)
        if (editor.Value() != editor.Control.Value)
            applied = Device.SetControl(editor.Control.Id, editor.Value()) && applied;
    return applied;
}

bool TQtCaptureDialogs::FormatDialog(TCaptureDevice& device) {
    TCaptureFormatDialog dialog(device, ActiveParent());
    return dialog.exec() == QDialog::Accepted && dialog.Apply();
}

bool TQtCaptureDialogs::SourceDialog(TCaptureDevice& device) {
    TCaptureSourceDialog dialog(device, ActiveParent());
    return dialog.exec() == QDialog::Accepted && dialog.Apply();
}

bool TQtCaptureDialogs::DisplayDialog(TCaptureDevice&) {
    return false;
}

void RegisterCaptureDialogMessages() {
    for (TkaMessage& message : Messages())
        message.Handle();
}

void InstallCaptureDialogs() {
    static TQtCaptureDialogs dialogs;
    SetCaptureDialogs(&dialogs);
}
