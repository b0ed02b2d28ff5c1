#pragma once

#include "EkaError.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <memory>
#include <vector>

class QIODevice;

// Raised by the stream objects and their registry.
class EStmError : public EkaError {
public:
    using EkaError::EkaError;
};

// A stream that ends before a field is complete, or a length prefix that does
// not fit the bytes left.
class EStmReadError : public EStmError {
public:
    using EStmError::EStmError;
};

// A stream that did not take all bytes of a field.
class EStmWriteError : public EStmError {
public:
    using EStmError::EStmError;
};

class TStmObject;

// A class reference as the registry keeps it: the class's signature, its
// name and its parameterless constructor. Classes are told apart by name.
struct TStmClass {
    qint32 Signature = 0;
    QString Name;
    std::unique_ptr<TStmObject> (*Create)() = nullptr;
};

// Root of the self-describing binary records. Each one writes a 32-bit
// signature naming its class, then its fields; the registry maps signatures
// back to classes so a reader can rebuild an object from bytes alone. All
// integers and doubles are little-endian on every host.
class TStmObject {
public:
    static inline const QString UnknownMessage = QStringLiteral("Unknown StmObject");
    static inline const QString ReadErrorMessage = QStringLiteral("Stream read error");
    static inline const QString WriteErrorMessage = QStringLiteral("Stream write error");
    // What copying from a source of the wrong class raises.
    static inline const QString AbstractMessage = QStringLiteral("Abstract Error");

    TStmObject() = default;
    virtual ~TStmObject() = default;

    // The signature of the object's class; each class also has a static
    // ClassSignature for use without an instance.
    virtual qint32 GetSignature() const = 0;
    // A new, default object of the same class.
    virtual std::unique_ptr<TStmObject> Create() const = 0;
    virtual void Assign(const TStmObject& source) = 0;
    // Writes the object at the device's position; here only the signature.
    virtual void SaveToStream(QIODevice& device) const;
    // Reads the fields behind the signature, which the reader has consumed.
    virtual void LoadFromStream(QIODevice& device);

    // Adds a class to the registry. Registering a class again is harmless;
    // another class under a taken signature, or a class under a second
    // signature, fails.
    static void RegisterStmClass(const TStmClass& stmClass);
    // Reads a signature (4 bytes, consumed whatever follows) and returns its class.
    static const TStmClass& ReadStmClass(QIODevice& device);
    // Reads a whole object; nothing results when any part of it fails.
    static std::unique_ptr<TStmObject> ReadStmObject(QIODevice& device);
    // The registered classes in registration order.
    static const std::vector<TStmClass>& StmClasses();

protected:
    TStmObject(const TStmObject&) = default;
    TStmObject& operator=(const TStmObject&) = default;

    // A byte count as a 32-bit integer, then the string's UTF-8 bytes.
    static void WriteStmString(QIODevice& device, const QString& s);
    // A 32-bit count, then that many bytes; a count that is negative or
    // exceeds the bytes left fails before anything is allocated.
    static QString ReadStmString(QIODevice& device);
    // A 32-bit count, then that many raw bytes, with the same checks.
    static void WriteStmBytes(QIODevice& device, const QByteArray& bytes);
    static QByteArray ReadStmBytes(QIODevice& device);

    static void WriteStmInt32(QIODevice& device, qint32 value);
    static qint32 ReadStmInt32(QIODevice& device);
    static void WriteStmUInt64(QIODevice& device, quint64 value);
    static quint64 ReadStmUInt64(QIODevice& device);
    // Written as its IEEE 754 bits, so reading gives the value bit for bit.
    static void WriteStmDouble(QIODevice& device, double value);
    static double ReadStmDouble(QIODevice& device);
};

// The registry entry for class T, named Name.
template <class T> TStmClass StmClassOf(const char* name) {
    return {T::ClassSignature, QString::fromLatin1(name),
            []() -> std::unique_ptr<TStmObject> { return std::make_unique<T>(); }};
}
