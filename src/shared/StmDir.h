#pragma once

#include "StmObject.h"

// A named 8-byte value. Neither program builds or sends one; only the
// signature and layout are fixed: signature 0, Value (8 bytes), Name.
class TStmDir : public TStmObject {
public:
    static constexpr qint32 ClassSignature = 0;
    static TStmClass StmClass() { return StmClassOf<TStmDir>("TStmDir"); }

    TStmDir() = default;

    qint32 GetSignature() const override { return ClassSignature; }
    std::unique_ptr<TStmObject> Create() const override;
    // Copies Value and Name from a TStmDir (or a class derived from it);
    // any other source fails.
    void Assign(const TStmObject& source) override;
    void SaveToStream(QIODevice& device) const override;
    void LoadFromStream(QIODevice& device) override;

    const QString& Name() const { return FName; }
    void SetName(const QString& name) { FName = name; }
    // Kept and written as one unit of two 32-bit words, low word first.
    quint64 Value() const { return FValue; }
    void SetValue(quint64 value) { FValue = value; }

private:
    QString FName;
    quint64 FValue = 0;
};
