#include "ProgramIcons.h"

#include <QFile>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>
#include <QSvgRenderer>

namespace {

constexpr int IconSizes[] = {16, 22, 24, 32, 48, 64};

} // namespace

QByteArray IconSource(const QString& name) {
    QFile file(QStringLiteral(":/icons/") + name + QStringLiteral(".svg"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QImage RenderSvg(const QByteArray& source, int size) {
    QSvgRenderer renderer(source);
    if (!renderer.isValid() || size <= 0)
        return {};
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, size, size));
    painter.end();
    return image;
}

QByteArray WithStroke(const QByteArray& source, const QString& id, const QColor& colour) {
    // The element's own tag, from "<" to ">": id and stroke in either order.
    const QRegularExpression element(QStringLiteral("<[^<>]*\\bid=\"") +
                                     QRegularExpression::escape(id) + QStringLiteral("\"[^<>]*>"));
    QString text = QString::fromUtf8(source);
    const QRegularExpressionMatch match = element.match(text);
    if (!match.hasMatch())
        return source;
    QString tag = match.captured(0);
    static const QRegularExpression stroke(QStringLiteral("\\s(stroke|stroke-opacity)=\"[^\"]*\""));
    tag.remove(stroke);
    const QString paint = QStringLiteral(" stroke=\"%1\" stroke-opacity=\"%2\"")
                              .arg(colour.name(QColor::HexRgb))
                              .arg(colour.alphaF(), 0, 'g', 3);
    const qsizetype end = tag.endsWith(QStringLiteral("/>")) ? tag.size() - 2 : tag.size() - 1;
    tag.insert(end, paint);
    text.replace(match.capturedStart(0), match.capturedLength(0), tag);
    return text.toUtf8();
}

QIcon SvgIcon(const QByteArray& source) {
    QIcon icon;
    for (int size : IconSizes) {
        const QImage image = RenderSvg(source, size);
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

QIcon ProgramIcon(const QString& name) {
    return SvgIcon(IconSource(name));
}
