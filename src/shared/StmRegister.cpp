#include "StmRegister.h"

std::unique_ptr<TStmObject> TStmRegister::Create() const {
    return std::make_unique<TStmRegister>();
}

void TStmRegister::Assign(const TStmObject&) {
    throw EStmError(AssignMessage);
}

void TStmRegister::SaveToStream(QIODevice& device) const {
    TStmObject::SaveToStream(device);
    WriteStmInt32(device, FValue1);
    WriteStmInt32(device, FValue2);
    WriteStmInt32(device, FValue3);
    WriteStmUInt64(device, FValue4);
}

void TStmRegister::LoadFromStream(QIODevice& device) {
    TStmObject::LoadFromStream(device);
    const qint32 value1 = ReadStmInt32(device);
    const qint32 value2 = ReadStmInt32(device);
    const qint32 value3 = ReadStmInt32(device);
    FValue4 = ReadStmUInt64(device);
    FValue1 = value1;
    FValue2 = value2;
    FValue3 = value3;
}
