// libFuzzer target: any datagram either fails with an EkaError or yields an
// object that writes and re-reads to the same bytes.
#include "StmObjects.h"

#include <QBuffer>
#include <QByteArray>
#include <cstdint>
#include <cstdlib>

namespace {

QByteArray Saved(const TStmObject& object) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    object.SaveToStream(buffer);
    return buffer.data();
}

std::unique_ptr<TStmObject> Read(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return TStmObject::ReadStmObject(buffer);
}

void IgnoreMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Qt's device warnings would drown the fuzzer's own output.
    qInstallMessageHandler(IgnoreMessage);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    std::unique_ptr<TStmObject> object;
    try {
        object = Read(bytes);
    } catch (const EkaError&) {
        return 0;
    }
    // Invalid UTF-8 may change once on the first write; after that the bytes are fixed.
    const QByteArray once = Saved(*object);
    if (Saved(*Read(once)) != once)
        std::abort();
    return 0;
}
