#pragma once

#include <QByteArray>
#include <QColor>
#include <QIcon>
#include <QImage>
#include <QString>

// The programs' pictures: the SVG files that the package installs as its
// icons, compiled in as resources (":/icons/<name>.svg") and drawn here for
// windows, menus, trees and trays.

// The SVG text of the compiled-in picture Name ("tarvik", "tarvikclient");
// empty when there is none.
QByteArray IconSource(const QString& name);
// Source drawn on a transparent square of Size pixels; a null image when
// Source is no valid SVG.
QImage RenderSvg(const QByteArray& source, int size);
// Source with the stroke colour (and opacity) of the element Id replaced by
// Colour; Source itself when it has no such element.
QByteArray WithStroke(const QByteArray& source, const QString& id, const QColor& colour);
// An icon of Source at the sizes menus, trees, windows and trays ask for.
QIcon SvgIcon(const QByteArray& source);
// SvgIcon of the compiled-in picture Name.
QIcon ProgramIcon(const QString& name);
