#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <curl/curl.h>
#include <memory>
#include <vector>

// One libcurl handle, reused between transfers so the connection (and an SSH
// session) stays open. Each transfer starts from Reset(); options that fail
// to apply raise EOffsiteCopy.
class TCurlTransfer {
public:
    static constexpr long ConnectTimeout = 15; // s
    // A transfer slower than 1 byte a second for this long is given up.
    static constexpr long StallTimeout = 30; // s

    explicit TCurlTransfer(const std::atomic<bool>* cancel);
    ~TCurlTransfer();
    TCurlTransfer(const TCurlTransfer&) = delete;
    TCurlTransfer& operator=(const TCurlTransfer&) = delete;

    CURL* Handle() const { return FCurl; }
    // Clears the options of the last transfer and sets the common ones.
    void Reset();
    void Set(CURLoption option, long value);
    void Set(CURLoption option, const QByteArray& value);
    void SetPointer(CURLoption option, void* value);
    // Sends Data as the request body (rewindable, for authentication rounds).
    void SetUpload(QByteArray data);
    // Lines for CURLOPT_HTTPHEADER, CURLOPT_POSTQUOTE and the like.
    void SetList(CURLoption option, const QList<QByteArray>& lines);

    CURLcode Perform();
    long ResponseCode() const;
    // Size the server announced; -1 when it gave none.
    curl_off_t ContentLength() const;
    // libcurl's detailed reason for Code.
    QString ErrorText(CURLcode code) const;
    bool Cancelled() const { return FCancel != nullptr && FCancel->load(); }

private:
    struct TListDeleter {
        void operator()(curl_slist* list) const { curl_slist_free_all(list); }
    };
    static size_t Discard(char* data, size_t size, size_t count, void* self);
    static size_t ReadBody(char* buffer, size_t size, size_t count, void* self);
    static int SeekBody(void* self, curl_off_t offset, int origin);
    static int Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

    CURL* FCurl = nullptr;
    const std::atomic<bool>* FCancel = nullptr;
    char FErrorText[CURL_ERROR_SIZE] = {};
    std::vector<std::unique_ptr<curl_slist, TListDeleter>> FLists;
    QByteArray FBody;
    qsizetype FBodyOffset = 0;
    size_t FReplySize = 0;
};
