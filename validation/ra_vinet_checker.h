#pragma once

#include "platform/internet_session.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vorsa {

enum TAccessType { atDirectConnect = 0, atPreConfig = 1, atPreConfigWithNoProxy = 2, atProxy = 3 };

class TRaVInetChecker;
using TNotifyEvent = std::function<void(TRaVInetChecker* Sender)>;
using TOnStatusChangeEvent = std::function<void(TRaVInetChecker* Sender, std::uint32_t StatusCode)>;
using TOnCompleteEvent = std::function<void(TRaVInetChecker* Sender, bool Connected)>;

// Checks one HTTP proxy: requests Url through it and reports whether the reply had status
// "200" and carried the marker in its first body bytes (checkSettings(): by default
// "您的IP地址" in the first 120). The object itself is
// the checker's message window: it lives on the thread that created it, and the network
// thread posts the result to it, so OnComplete always runs on that thread.
//
// One request at a time per checker. Destroying a checker whose request is still under way
// is safe: the late result is dropped.
class TRaVInetChecker : public QObject {
    Q_OBJECT
public:
    static constexpr unsigned WM_CHECKSTATUS = 1024 + 200;
    static constexpr unsigned WM_CHECKCOMPLETE = 1024 + 201;
    static constexpr std::size_t kBodyBytes = 120;  // the default window of checkSettings()
    // The connect timeout every check is started with.
    static constexpr std::int32_t kConnectTimeoutMs = 3000;

    explicit TRaVInetChecker(QObject* owner = nullptr);
    ~TRaVInetChecker() override;

    TAccessType AccessType = atDirectConnect;
    bool AsynRequest = true;
    std::string UserAgent = "ZaDIvez Internet Checker 1.0";
    std::string Proxy;
    std::string Url;
    TNotifyEvent OnStart;
    TOnStatusChangeEvent OnStatusChange;
    TOnCompleteEvent OnComplete;
    std::int32_t starttime = 0;
    // The tick count (GetTickCount) when the reply of the last asynchronous check was in, or
    // when the check gave up; taken on the network side and set just before OnComplete fires.
    std::int32_t completetime = 0;
    std::int32_t timeout = 12500;
    std::int32_t Tag = 0;

    // True when the request was issued: asynchronously, exactly one OnComplete follows;
    // synchronously, the server answered (whatever the status). False: nothing was issued.
    bool StartCheck();

    // The message window's procedure; the network thread reaches it only by posting. The
    // second parameter of WM_CHECKCOMPLETE is the tick count when the reply was in; a message
    // sent without one counts as arriving now.
    void windowProc(unsigned msg, std::uint32_t wParam, std::uint32_t lParam);
    void windowProc(unsigned msg, std::uint32_t wParam);

    // The receive timeout of every check's session (tests make it short).
    static void setReceiveTimeout(std::uint32_t ms);
    // The longest a started check can take before it completes: connect plus receive timeout.
    static std::uint32_t checkTimeoutMs();

protected:
    virtual void DoStatusChange(std::uint32_t StatusCode);

private:
    // What the network thread may touch: the way to the window and the session of this start.
    struct CheckContext {
        std::shared_ptr<CompletionTarget> window;
        std::shared_ptr<InternetSession> session;
    };

    std::shared_ptr<CompletionTarget> m_window;
    std::shared_ptr<InternetSession> m_session;
    std::unique_ptr<InternetRequest> m_request;  // a synchronous start's answer
};

// Sets checker up as the validation of one proxy is made: through ip:port (both trimmed), for
// page url, with the validation's user agent. Every front end validates through this.
void prepareProxyCheck(TRaVInetChecker& checker, const std::string& ip, const std::string& port,
                       const std::string& url);

// The pass rule of a check, on the bytes of one reply: status text "200" and the marker in
// the GBK decoding of at most the first bodyBytes of the body, read once. The first form
// takes marker and window from checkSettings().
bool checkPasses(InternetRequest* request);
bool checkPasses(InternetRequest* request, const QString& marker, std::size_t bodyBytes);

}  // namespace vorsa
