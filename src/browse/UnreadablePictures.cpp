#include "UnreadablePictures.h"

#include "ApplicationErrors.h"
#include "TkaHashList.h"
#include "kaGeneral.h"

namespace {

const QString UnreadableKey = QStringLiteral("UNREADABLEPICTURES_MSG_CANNOTREAD");
const QString UnreadableText = QStringLiteral("The picture cannot be read");

} // namespace

QString TUnreadablePictures::Message() {
    // The registry is emptied when the library shuts down and may be started
    // again in the same process: a handle is trusted only while it names its key.
    static int handle = -1;
    const TkaHashList& registry = MessageRegistry();
    if (handle < 0 || handle >= registry.Count() || registry.Key(handle) != UnreadableKey)
        handle = RegisterMessage(UnreadableKey, UnreadableText);
    return MessageText(handle);
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
