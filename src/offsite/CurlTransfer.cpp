#include "CurlTransfer.h"

#include "OffsiteTarget.h"

#include <mutex>

namespace {

// The longest reply body read (error pages, listings); the rest is refused.
constexpr size_t MaxReplyBody = 1024 * 1024;

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

TCurlTransfer::TCurlTransfer(const std::atomic<bool>* cancel) : FCancel(cancel) {
    InitCurlOnce();
    FCurl = curl_easy_init();
    if (FCurl == nullptr)
        throw EOffsiteCopy(QStringLiteral("libcurl cannot be started"));
}

TCurlTransfer::~TCurlTransfer() {
    curl_easy_cleanup(FCurl);
}

void TCurlTransfer::Reset() {
    curl_easy_reset(FCurl);
    FLists.clear();
    FBody.clear();
    FBodyOffset = 0;
    FReplySize = 0;
    FErrorText[0] = '\0';
    Set(CURLOPT_NOSIGNAL, 1L);
    Set(CURLOPT_CONNECTTIMEOUT, ConnectTimeout);
    Set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    Set(CURLOPT_LOW_SPEED_TIME, StallTimeout);
    SetPointer(CURLOPT_ERRORBUFFER, FErrorText);
    curl_easy_setopt(FCurl, CURLOPT_WRITEFUNCTION, &TCurlTransfer::Discard);
    SetPointer(CURLOPT_WRITEDATA, this);
    curl_easy_setopt(FCurl, CURLOPT_XFERINFOFUNCTION, &TCurlTransfer::Progress);
    SetPointer(CURLOPT_XFERINFODATA, this);
    Set(CURLOPT_NOPROGRESS, 0L);
}

void TCurlTransfer::Set(CURLoption option, long value) {
    if (curl_easy_setopt(FCurl, option, value) != CURLE_OK)
        throw EOffsiteCopy(QStringLiteral("libcurl refuses option %1").arg(int(option)));
}

void TCurlTransfer::Set(CURLoption option, const QByteArray& value) {
    // libcurl copies strings it is given.
    if (curl_easy_setopt(FCurl, option, value.constData()) != CURLE_OK)
        throw EOffsiteCopy(QStringLiteral("libcurl refuses option %1").arg(int(option)));
}

void TCurlTransfer::SetPointer(CURLoption option, void* value) {
    if (curl_easy_setopt(FCurl, option, value) != CURLE_OK)
        throw EOffsiteCopy(QStringLiteral("libcurl refuses option %1").arg(int(option)));
}

void TCurlTransfer::SetUpload(QByteArray data) {
    FBody = std::move(data);
    FBodyOffset = 0;
    curl_easy_setopt(FCurl, CURLOPT_READFUNCTION, &TCurlTransfer::ReadBody);
    SetPointer(CURLOPT_READDATA, this);
    curl_easy_setopt(FCurl, CURLOPT_SEEKFUNCTION, &TCurlTransfer::SeekBody);
    SetPointer(CURLOPT_SEEKDATA, this);
    Set(CURLOPT_UPLOAD, 1L);
    if (curl_easy_setopt(FCurl, CURLOPT_INFILESIZE_LARGE, curl_off_t(FBody.size())) != CURLE_OK)
        throw EOffsiteCopy(QStringLiteral("libcurl refuses the upload size"));
}

void TCurlTransfer::SetList(CURLoption option, const QList<QByteArray>& lines) {
    curl_slist* list = nullptr;
    for (const QByteArray& line : lines) {
        curl_slist* longer = curl_slist_append(list, line.constData());
        if (longer == nullptr) {
            curl_slist_free_all(list);
            throw EOffsiteCopy(QStringLiteral("Out of memory"));
        }
        list = longer;
    }
    FLists.push_back(std::unique_ptr<curl_slist, TListDeleter>(list));
    SetPointer(option, list);
}

CURLcode TCurlTransfer::Perform() {
    FErrorText[0] = '\0';
    return curl_easy_perform(FCurl);
}

long TCurlTransfer::ResponseCode() const {
    long code = 0;
    curl_easy_getinfo(FCurl, CURLINFO_RESPONSE_CODE, &code);
    return code;
}

curl_off_t TCurlTransfer::ContentLength() const {
    curl_off_t length = -1;
    curl_easy_getinfo(FCurl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    return length;
}

QString TCurlTransfer::ErrorText(CURLcode code) const {
    if (Cancelled())
        return QStringLiteral("stopped");
    const char* text = FErrorText[0] != '\0' ? FErrorText : curl_easy_strerror(code);
    return QString::fromUtf8(text).trimmed();
}

size_t TCurlTransfer::Discard(char*, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<TCurlTransfer*>(self);
    transfer->FReplySize += size * count;
    // Returning less than offered ends the transfer with a write error.
    return transfer->FReplySize > MaxReplyBody ? 0 : size * count;
}

size_t TCurlTransfer::ReadBody(char* buffer, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<TCurlTransfer*>(self);
    const qsizetype left = transfer->FBody.size() - transfer->FBodyOffset;
    const qsizetype chunk = qMin<qsizetype>(left, qsizetype(size * count));
    memcpy(buffer, transfer->FBody.constData() + transfer->FBodyOffset, size_t(chunk));
    transfer->FBodyOffset += chunk;
    return size_t(chunk);
}

int TCurlTransfer::SeekBody(void* self, curl_off_t offset, int origin) {
    auto* transfer = static_cast<TCurlTransfer*>(self);
    if (origin != SEEK_SET || offset < 0 || offset > transfer->FBody.size())
        return CURL_SEEKFUNC_CANTSEEK;
    transfer->FBodyOffset = qsizetype(offset);
    return CURL_SEEKFUNC_OK;
}

int TCurlTransfer::Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<TCurlTransfer*>(self)->Cancelled() ? 1 : 0;
}
