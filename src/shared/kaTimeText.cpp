#include "kaTimeText.h"

#include "kaGeneral.h"

#include <QLocale>

QString TimeFormatWithoutZone(const QString& format) {
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (quoted || c != QLatin1Char('t'))
            result += c;
    }
    // The blank that set the zone apart goes with it ("h:mm:ss AP t", "HH:mm:ss t").
    return result.simplified();
}

QString DateTimeText(double dateTime) {
    const QDateTime time = DateTimeToQDateTime(dateTime);
    const QLocale locale;
    return locale.toString(time.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(time.time(),
                           TimeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat)));
}
