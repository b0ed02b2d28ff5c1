#include "StmJPG.h"

#include "kaGeneral.h"

TStmJPG::TStmJPG(const QString& source, const TJPEGImage& image) : FSource(source), FTime(Now()) {
    SetImage(image);
}

std::unique_ptr<TStmObject> TStmJPG::Create() const {
    return std::make_unique<TStmJPG>();
}

void TStmJPG::Assign(const TStmObject&) {
    throw EStmError(AssignMessage);
}

void TStmJPG::SetImage(const TJPEGImage& image) {
    // A copy shares the compressed bytes; dropping the bitmap keeps only them.
    FImage = image;
    FImage.FreeBitmap();
}

void TStmJPG::SaveToStream(QIODevice& device) const {
    TStmObject::SaveToStream(device);
    WriteStmDouble(device, FTime);
    WriteStmString(device, FSource);
    WriteStmBytes(device, FImage.JpegData());
}

void TStmJPG::LoadFromStream(QIODevice& device) {
    TStmObject::LoadFromStream(device);
    const double time = ReadStmDouble(device);
    QString source = ReadStmString(device);
    const QByteArray data = ReadStmBytes(device);
    TJPEGImage image;
    image.LoadFromData(data);
    FImage = std::move(image);
    FSource = std::move(source);
    FTime = time;
}
