#include "CaptureSettings.h"

#include "TIniFile.h"
#include "kaGeneral.h"

#include <algorithm>

namespace {

const QString WidthKey = QStringLiteral("Width");
const QString HeightKey = QStringLiteral("Height");

// Control names are the driver's own texts; "=" cannot stand in a key.
QString ControlKey(const TCaptureControl& control) {
    QString name = control.Name;
    name.replace(QLatin1Char('='), QLatin1Char('-'));
    return QStringLiteral("Control ") + name;
}

bool ReadStored(const TIniFile& ini, const QString& section, const QString& key, int& value) {
    return ini.ValueExists(section, key) &&
           TIniFile::ParseInteger(ini.ReadString(section, key, QString()), value);
}

} // namespace

QString CaptureSettingsSection(const QString& description) {
    QString section = QStringLiteral("CaptureDevice ") + description;
    section.replace(QLatin1Char(']'), QLatin1Char(')'));
    return section;
}

void RestoreCaptureSettings(TCaptureDevice& device, const QString& description) {
    const TIniFile* ini = CfgIniFile();
    if (ini == nullptr || !device.IsOpen())
        return;
    const QString section = CaptureSettingsSection(description);
    if (!ini->SectionExists(section))
        return;
    int width = 0;
    int height = 0;
    if (ReadStored(*ini, section, WidthKey, width) &&
        ReadStored(*ini, section, HeightKey, height) && width > 0 && height > 0) {
        const TCaptureFormat current = device.Format();
        if (current.Width != width || current.Height != height)
            device.SetFormat({width, height, CapturePixelFormatBGR24}); // refused: its own size
    }
    for (const TCaptureControl& control : device.Controls()) {
        int value = 0;
        if (!ReadStored(*ini, section, ControlKey(control), value))
            continue;
        value = std::clamp(value, control.Minimum, std::max(control.Minimum, control.Maximum));
        if (value != control.Value)
            device.SetControl(control.Id, value); // refused: the device keeps its own value
    }
}

void StoreCaptureSettings(TCaptureDevice& device, const QString& description) {
    TIniFile* ini = CfgIniFile();
    if (ini == nullptr || !device.IsOpen() || description.isEmpty())
        return;
    const TCaptureFormat format = device.Format();
    QList<QPair<QString, QString>> values;
    if (format.Width > 0 && format.Height > 0)
        values << qMakePair(WidthKey, QString::number(format.Width))
               << qMakePair(HeightKey, QString::number(format.Height));
    for (const TCaptureControl& control : device.Controls())
        values << qMakePair(ControlKey(control), QString::number(control.Value));
    ini->ReplaceSection(CaptureSettingsSection(description), values);
}
