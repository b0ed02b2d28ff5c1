#include "UnreadablePictures.h"

#include "ApplicationErrors.h"
#include "kaGeneral.h"

QString TUnreadablePictures::Message() {
    static TkaMessage message(QStringLiteral("UNREADABLEPICTURES_MSG_CANNOTREAD"),
                              QStringLiteral("The picture cannot be read"));
    return message.Text();
}

bool TUnreadablePictures::Known(const QString& fileName) const {
    const auto found = Items.constFind(fileName);
    return found != Items.constEnd() && found.value() == TFileStamp::Of(fileName);
}

void TUnreadablePictures::Report(const QString& fileName, const std::exception& error) {
    const TFileStamp stamp = TFileStamp::Of(fileName);
    const auto found = Items.constFind(fileName);
    if (found != Items.constEnd() && found.value() == stamp)
        return;
    if (Items.size() >= MaxEntries)
        Items.clear();
    Items.insert(fileName, stamp);
    LogApplicationError(error);
}
