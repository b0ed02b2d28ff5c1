#pragma once

#include "StmObject.h"
#include "TJPEGImage.h"

// One JPEG picture with the source name of the camera that took it and the
// local time at which it was packed: the broadcast datagram. Layout:
// signature 3, Time (double), Source (count and UTF-8 bytes), JPEG data
// (count and bytes, exactly as compressed).
class TStmJPG : public TStmObject {
public:
    static constexpr qint32 ClassSignature = 3;
    static inline const QString AssignMessage = QStringLiteral("not implemented yet");
    static TStmClass StmClass() { return StmClassOf<TStmJPG>("TStmJPG"); }

    // An empty picture, an empty Source and Time 0.
    TStmJPG() = default;
    // For sending: takes the compressed bytes of Image over unchanged (an
    // assigned bitmap not compressed yet is compressed at its Quality), keeps
    // no decoded copy, and stamps Time with Now().
    TStmJPG(const QString& source, const TJPEGImage& image);

    qint32 GetSignature() const override { return ClassSignature; }
    std::unique_ptr<TStmObject> Create() const override;
    // Always fails: copying was never provided for this class.
    void Assign(const TStmObject& source) override;
    void SaveToStream(QIODevice& device) const override;
    // Fails when the stream ends early, a count does not fit the bytes left,
    // or the picture data are not JPEG; the object is then unchanged.
    void LoadFromStream(QIODevice& device) override;

    const TJPEGImage& Image() const { return FImage; }
    TJPEGImage& Image() { return FImage; }
    void SetImage(const TJPEGImage& image);
    const QString& Source() const { return FSource; }
    void SetSource(const QString& source) { FSource = source; }
    // Days since 30 December 1899, local time of the sender.
    double Time() const { return FTime; }
    void SetTime(double time) { FTime = time; }

private:
    TJPEGImage FImage;
    QString FSource;
    double FTime = 0;
};
