#include "StmDir.h"

std::unique_ptr<TStmObject> TStmDir::Create() const {
    return std::make_unique<TStmDir>();
}

void TStmDir::Assign(const TStmObject& source) {
    const auto* dir = dynamic_cast<const TStmDir*>(&source);
    if (dir == nullptr)
        throw EStmError(AbstractMessage);
    FValue = dir->FValue;
    FName = dir->FName;
}

void TStmDir::SaveToStream(QIODevice& device) const {
    TStmObject::SaveToStream(device);
    WriteStmUInt64(device, FValue);
    WriteStmString(device, FName);
}

void TStmDir::LoadFromStream(QIODevice& device) {
    TStmObject::LoadFromStream(device);
    // Read into locals first, so a failed read leaves the object as it was.
    const quint64 value = ReadStmUInt64(device);
    FName = ReadStmString(device);
    FValue = value;
}
