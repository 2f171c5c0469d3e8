#include "validation/ra_vinet_checker.h"

#include "platform/check_settings.h"
#include "platform/codec.h"
#include "platform/tick_count.h"

#include <atomic>

namespace vorsa {
namespace {

std::atomic<std::uint32_t> g_receiveTimeout{0};

AccessType sessionAccess(TAccessType t) {
    switch (t) {
        case atPreConfig:
            return AccessType::PreConfig;
        case atPreConfigWithNoProxy:
            return AccessType::PreConfigWithNoAutoProxy;
        case atProxy:
            return AccessType::Proxy;
        case atDirectConnect:
            break;
    }
    return AccessType::Direct;
}

}  // namespace

bool checkPasses(InternetRequest* request) {
    const CheckSettings settings = checkSettings();
    return checkPasses(request, gbk::toUnicode(settings.marker), settings.bytes);
}

bool checkPasses(InternetRequest* request, const QString& marker, std::size_t bodyBytes) {
    std::string status;
    if (!request || !request->queryStatusCode(status) || status != "200")
        return false;
    std::string buffer(bodyBytes, '\0');
    std::size_t got = 0;
    if (!request->readFile(buffer.data(), buffer.size(), got))
        return false;
    return gbk::toUnicode(std::string_view(buffer.data(), got)).contains(marker);
}

TRaVInetChecker::TRaVInetChecker(QObject* owner)
    : QObject(owner), m_window(std::make_shared<CompletionTarget>(this)) {}

TRaVInetChecker::~TRaVInetChecker() {
    m_window->detach();
}

void TRaVInetChecker::setReceiveTimeout(std::uint32_t ms) {
    g_receiveTimeout.store(ms);
}

std::uint32_t TRaVInetChecker::checkTimeoutMs() {
    const std::uint32_t receive = g_receiveTimeout.load();
    return static_cast<std::uint32_t>(kConnectTimeoutMs) +
           (receive ? receive : InternetSession::defaultReceiveTimeout());
}

void prepareProxyCheck(TRaVInetChecker& checker, const std::string& ip, const std::string& port,
                       const std::string& url) {
    checker.AccessType = atProxy;
    checker.Url = url;
    checker.Proxy = gbk::trim(ip) + ":" + gbk::trim(port);
    checker.UserAgent = "Internet Explorer 7.0";
}

bool TRaVInetChecker::StartCheck() {
    if (Url.empty())
        return false;
    if (OnStart)
        OnStart(this);

    SessionOptions options;
    options.userAgent = UserAgent;
    options.access = sessionAccess(AccessType);
    if (AccessType == atProxy)
        options.proxy = Proxy;
    options.receiveTimeoutMs = g_receiveTimeout.load();
    m_request.reset();
    m_session = std::make_shared<InternetSession>(std::move(options));

    // The context is complete before the request goes out and never changes afterwards.
    auto context = std::make_shared<const CheckContext>(CheckContext{m_window, m_session});

    timeout = kConnectTimeoutMs;
    m_session->setConnectTimeout(static_cast<std::uint32_t>(timeout));

    // Taken here, on the checker's thread, so the network side reads nothing shared.
    const CheckSettings settings = checkSettings();
    if (!AsynRequest) {
        m_request = m_session->openUrl(Url, settings.bytes);
        return m_request != nullptr;
    }
    return m_session->openUrlAsync(Url, settings.bytes,
                                   [context, marker = gbk::toUnicode(settings.marker),
                                    bytes = settings.bytes](InternetRequest* request) {
                                       // Network thread: only the reply and this start's context
                                       // are touched here.
                                       const bool passed = checkPasses(request, marker, bytes);
                                       const std::uint32_t arrived =
                                           request ? request->arrivedTick() : GetTickCount();
                                       context->window->post([passed, arrived](QObject* window) {
                                           static_cast<TRaVInetChecker*>(window)->windowProc(
                                               WM_CHECKCOMPLETE, passed ? 1 : 0, arrived);
                                       });
                                   });
}

void TRaVInetChecker::windowProc(unsigned msg, std::uint32_t wParam) {
    windowProc(msg, wParam, msg == WM_CHECKCOMPLETE ? GetTickCount() : 0);
}

void TRaVInetChecker::windowProc(unsigned msg, std::uint32_t wParam, std::uint32_t lParam) {
    switch (msg) {
        case WM_CHECKSTATUS:
            DoStatusChange(wParam);
            break;
        case WM_CHECKCOMPLETE:
            completetime = static_cast<std::int32_t>(lParam);
            if (OnComplete)
                OnComplete(this, wParam != 0);
            break;
        default:
            break;
    }
}

void TRaVInetChecker::DoStatusChange(std::uint32_t StatusCode) {
    if (OnStatusChange)
        OnStatusChange(this, StatusCode);
}

}  // namespace vorsa
