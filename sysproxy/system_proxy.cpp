#include "sysproxy/system_proxy.h"

#include "platform/codec.h"
#include "platform/internet_settings.h"
#include "platform/proxy_announce.h"
#include "table/main_host.h"

namespace vorsa {

namespace {

constexpr int kStepPause = 100;

}  // namespace

std::string getproxy() {
    InternetSettingsValues v;
    try {
        v = readInternetSettings();
    } catch (const std::exception&) {
        return {};
    }
    if (v.ProxyEnable == 1 && v.ProxyServer)
        return *v.ProxyServer;
    return {};
}

std::string startupProxyText() {
    const std::string proxy = getproxy();
    return gbk::text("当前代理为：") + (proxy.empty() ? gbk::text("停用") : proxy);
}

void setproxy(MainHost& host, const std::string& proxy) {
    writeInternetSettings(1, proxy);
    host.pause(kStepPause);
    announceProxy(proxy);
    host.pause(kStepPause);
    refreshFromStore();
    notifySettingsChanged();
    host.pause(kStepPause);
    host.midshowinfo(gbk::text("当前代理为：") + proxy);
}

void disableproxy(MainHost& host) {
    writeInternetSettings(0, std::nullopt);
    host.pause(kStepPause);
    announceDirect();
    host.pause(kStepPause);
    refreshFromStore();
    notifySettingsChanged();
    host.midshowinfo(gbk::text("当前代理为：禁用"));
}

void actstartExecute(MainHost& host) {
    const int row = host.gridSelection().bottom;
    StringGridModel& grid = host.grid();
    if (row < 1 || row >= grid.gridRowCount())
        return;
    if (grid.cell(1, row).empty())
        return;
    const std::string port = gbk::trim(grid.cell(2, row));
    if (port.empty())
        return;
    if (grid.cell(5, row) == gbk::text("⊙")) {
        host.showMessage(gbk::text("此代理无效 "));
        return;
    }
    setproxy(host, gbk::trim(grid.cell(1, row)) + ":" + port);
}

void actstopproxyExecute(MainHost& host) {
    disableproxy(host);
}

}  // namespace vorsa
