#pragma once

#include "StmObject.h"

// Three 32-bit integers and an 8-byte value. Neither program builds or sends
// one; only the signature and layout are fixed: signature 2, Value1 to
// Value3 (4 bytes each), Value4 (8 bytes).
class TStmRegister : public TStmObject {
public:
    static constexpr qint32 ClassSignature = 2;
    static inline const QString AssignMessage = QStringLiteral("Not implemented");
    static TStmClass StmClass() { return StmClassOf<TStmRegister>("TStmRegister"); }

    TStmRegister() = default;

    qint32 GetSignature() const override { return ClassSignature; }
    std::unique_ptr<TStmObject> Create() const override;
    // Always fails: copying was never provided for this class.
    void Assign(const TStmObject& source) override;
    void SaveToStream(QIODevice& device) const override;
    void LoadFromStream(QIODevice& device) override;

    qint32 Value1() const { return FValue1; }
    qint32 Value2() const { return FValue2; }
    qint32 Value3() const { return FValue3; }
    quint64 Value4() const { return FValue4; }
    void SetValue1(qint32 value) { FValue1 = value; }
    void SetValue2(qint32 value) { FValue2 = value; }
    void SetValue3(qint32 value) { FValue3 = value; }
    void SetValue4(quint64 value) { FValue4 = value; }

private:
    qint32 FValue1 = 0;
    qint32 FValue2 = 0;
    qint32 FValue3 = 0;
    quint64 FValue4 = 0;
};
