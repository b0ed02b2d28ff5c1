#pragma once

#include <QString>

// A picture or event time as the user reads it: the locale's short date and
// long time, in local time, without a zone name (Qt's long time format ends
// with one, which the system's texts never show). The camera page's time
// labels and the error log's rows both use it.
QString DateTimeText(double dateTime);

// The locale's long time format without its time-zone field.
QString TimeFormatWithoutZone(const QString& format);
