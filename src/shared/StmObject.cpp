#include "StmObject.h"

#include "StmObjects.h"

#include <QIODevice>
#include <QtEndian>
#include <algorithm>
#include <bit>
#include <limits>

namespace {

struct StmRegistry {
    std::vector<TStmClass> Classes;
    bool Filled = false;
};

// Filled with the system's classes on first use, so neither program can read
// or register before they are there. Marked filled before filling, as the
// registering itself comes back here.
StmRegistry& Registry() {
    static StmRegistry registry;
    if (!registry.Filled) {
        registry.Filled = true;
        RegisterStmClasses();
    }
    return registry;
}

void WriteRaw(QIODevice& device, const char* data, qint64 size) {
    if (device.write(data, size) != size)
        throw EStmWriteError(TStmObject::WriteErrorMessage);
}

void ReadRaw(QIODevice& device, char* data, qint64 size) {
    if (device.read(data, size) != size)
        throw EStmReadError(TStmObject::ReadErrorMessage);
}

template <class T> void WriteLittleEndian(QIODevice& device, T value) {
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    WriteRaw(device, bytes, sizeof(T));
}

template <class T> T ReadLittleEndian(QIODevice& device) {
    char bytes[sizeof(T)];
    ReadRaw(device, bytes, sizeof(T));
    return qFromLittleEndian<T>(bytes);
}

} // namespace

void TStmObject::SaveToStream(QIODevice& device) const {
    WriteStmInt32(device, GetSignature());
}

void TStmObject::LoadFromStream(QIODevice&) {}

void TStmObject::RegisterStmClass(const TStmClass& stmClass) {
    if (stmClass.Create == nullptr || stmClass.Name.isEmpty())
        throw EStmError(QStringLiteral("StmClass without name or constructor"));
    std::vector<TStmClass>& classes = Registry().Classes;
    const auto sameSignature =
        std::ranges::find(classes, stmClass.Signature, &TStmClass::Signature);
    if (sameSignature != classes.end()) {
        if (sameSignature->Name == stmClass.Name)
            return;
        throw EStmError(QStringLiteral("Signatur already exists: %1").arg(stmClass.Signature));
    }
    if (std::ranges::find(classes, stmClass.Name, &TStmClass::Name) != classes.end())
        throw EStmError(QStringLiteral("StmClass already exists: %1").arg(stmClass.Name));
    classes.push_back(stmClass);
}

const TStmClass& TStmObject::ReadStmClass(QIODevice& device) {
    const qint32 signature = ReadStmInt32(device);
    const std::vector<TStmClass>& classes = Registry().Classes;
    const auto found = std::ranges::find(classes, signature, &TStmClass::Signature);
    if (found == classes.end())
        throw EStmError(UnknownMessage);
    return *found;
}

std::unique_ptr<TStmObject> TStmObject::ReadStmObject(QIODevice& device) {
    std::unique_ptr<TStmObject> object = ReadStmClass(device).Create();
    object->LoadFromStream(device);
    return object;
}

const std::vector<TStmClass>& TStmObject::StmClasses() {
    return Registry().Classes;
}

void TStmObject::WriteStmString(QIODevice& device, const QString& s) {
    WriteStmBytes(device, s.toUtf8());
}

QString TStmObject::ReadStmString(QIODevice& device) {
    // Invalid UTF-8 from the network becomes replacement characters.
    return QString::fromUtf8(ReadStmBytes(device));
}

void TStmObject::WriteStmBytes(QIODevice& device, const QByteArray& bytes) {
    if (bytes.size() > std::numeric_limits<qint32>::max())
        throw EStmWriteError(WriteErrorMessage);
    WriteStmInt32(device, qint32(bytes.size()));
    WriteRaw(device, bytes.constData(), bytes.size());
}

QByteArray TStmObject::ReadStmBytes(QIODevice& device) {
    const qint32 count = ReadStmInt32(device);
    // Checked before allocating: a forged count must not reserve memory.
    if (count < 0 || count > device.bytesAvailable())
        throw EStmReadError(ReadErrorMessage);
    QByteArray bytes(count, Qt::Uninitialized);
    ReadRaw(device, bytes.data(), count);
    return bytes;
}

void TStmObject::WriteStmInt32(QIODevice& device, qint32 value) {
    WriteLittleEndian(device, value);
}

qint32 TStmObject::ReadStmInt32(QIODevice& device) {
    return ReadLittleEndian<qint32>(device);
}

void TStmObject::WriteStmUInt64(QIODevice& device, quint64 value) {
    WriteLittleEndian(device, value);
}

quint64 TStmObject::ReadStmUInt64(QIODevice& device) {
    return ReadLittleEndian<quint64>(device);
}

void TStmObject::WriteStmDouble(QIODevice& device, double value) {
    WriteStmUInt64(device, std::bit_cast<quint64>(value));
}

double TStmObject::ReadStmDouble(QIODevice& device) {
    return std::bit_cast<double>(ReadStmUInt64(device));
}
