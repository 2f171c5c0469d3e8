#include "validation/validation_run.h"

#include "platform/check_settings.h"
#include "platform/codec.h"
#include "platform/hosts_config.h"
#include "platform/tick_count.h"
#include "table/grid_routines.h"

namespace vorsa {
namespace {

constexpr int kFirstSlots = 10001;
constexpr int kPauseMs = 150;

// The run's texts in the program's code page, converted once.
struct Texts {
    std::string starting = gbk::text("正在验证，请稍候...");
    std::string issuing = gbk::text("正在验证，请稍候……");
    std::string finishing = gbk::text("验证结束……");
    std::string countHead = gbk::text(" 验证结束,共有");
    std::string countTail = gbk::text("代理可用！");
    std::string passed = gbk::text("√");
    std::string failed = gbk::text("⊙");
};

const Texts& texts() {
    static const Texts t;
    return t;
}

}  // namespace

ValidationRun::ValidationRun(MainHost& host)
    : m_host(host),
      m_factory([] { return std::make_unique<TRaVInetChecker>(); }),
      m_starter([](TRaVInetChecker& c) { return c.StartCheck(); }) {}

ValidationRun::~ValidationRun() {
    // Checkers still in flight go too: their late results are dropped by the checker.
    std::vector<TRaVInetChecker*>& slots = m_host.state().Checkers;
    for (auto& slot : slots)
        if (m_held.count(slot))
            slot = nullptr;
}

std::string ValidationRun::checkUrl() const {
    if (!m_checkUrl.empty())
        return m_checkUrl;
    return checkSettings().url;
}

void ValidationRun::actcheckExecute() {
    SharedState& st = m_host.state();
    if (st.Busy || m_closed)
        return;
    st.Busy = true;
    st.CheckDone = false;
    st.StopFlag = false;
    if (m_handlerDepth == 0)
        sweep();
    ++m_run;
    m_active = true;
    m_loopDone = false;
    m_outstanding = 0;
    m_host.showinfo(texts().starting);
    vailproxy();
}

void ValidationRun::actstopExecute() {
    if (m_host.state().Busy)
        m_host.state().StopFlag = true;
}

void ValidationRun::vailproxy() {
    SharedState& st = m_host.state();
    StringGridModel& grid = m_host.grid();
    ProxyTable& table = m_host.table();
    const std::uint64_t run = m_run;
    const std::string url = checkUrl();

    st.PendingChecks = grid.gridRowCount() - 1;
    m_host.showinfo(texts().issuing);
    table.opentable();
    for (int i = 1; i <= grid.gridRowCount() - 1; ++i) {
        // A run started from inside this loop's pause has its own loop.
        if (st.StopFlag || m_run != run)
            break;
        if (m_handlerDepth == 0)
            sweep();
        std::unique_ptr<TRaVInetChecker> owned = m_factory();
        TRaVInetChecker* checker = owned.get();
        m_held.emplace(checker, Held{std::move(owned), run, false, true});
        putInSlot(i, checker);

        std::string ip, port;
        if (i <= table.count()) {
            ip = table.at(i).text(Field::Ip);
            port = table.at(i).text(Field::Port);
        }
        prepareProxyCheck(*checker, ip, port, url);
        checker->Tag = i;
        checker->OnComplete = [this](TRaVInetChecker* sender, bool connected) {
            mycomplete(sender, connected);
        };
        checker->starttime = static_cast<std::int32_t>(GetTickCount());
        if (m_starter(*checker)) {
            m_held[checker].outstanding = true;
            ++m_outstanding;
        } else {
            --st.PendingChecks;
        }
        m_host.pause(kPauseMs);
        m_host.processMessages();
    }
    if (m_run != run)
        return;
    m_loopDone = true;
    // A check of this run still out finalises the run when it completes (PendingChecks may
    // be 0 already, from completions of an earlier run).
    if (m_active && !st.CheckDone && m_outstanding == 0)
        finalise();
}

void ValidationRun::mycomplete(TRaVInetChecker* Sender, bool Connected) {
    struct Depth {
        int& d;
        explicit Depth(int& depth) : d(depth) { ++d; }
        ~Depth() { --d; }
    } depth(m_handlerDepth);

    if (auto it = m_held.find(Sender); it != m_held.end() && it->second.outstanding) {
        it->second.outstanding = false;
        if (it->second.run == m_run && m_active)
            --m_outstanding;
        if (!it->second.current)
            release(Sender);
    }

    SharedState& st = m_host.state();
    if (st.CheckDone) {
        st.StopFlag = true;
        return;
    }
    --st.PendingChecks;
    const int row = Sender->Tag;
    StringGridModel& grid = m_host.grid();
    const bool rowShown = row >= 1 && row < grid.gridRowCount();
    if (Connected) {
        const int slot = row >= 0 && row < static_cast<int>(st.Checkers.size()) ? row : -1;
        const TRaVInetChecker* timed = slot >= 0 && st.Checkers[slot] ? st.Checkers[slot] : Sender;
        // When the reply was in, not when this handler runs: completions wait for the issuing
        // loop's pause. A late reply to an earlier check of the row is timed as it is handled,
        // since it may have come before the current checker started.
        const std::uint32_t done =
            timed == Sender ? static_cast<std::uint32_t>(Sender->completetime) : GetTickCount();
        const std::uint32_t speed = done - static_cast<std::uint32_t>(timed->starttime);
        if (rowShown) {
            grid.setCell(5, row, texts().passed);
            grid.setCell(6, row, std::to_string(speed));
        }
        ProxyTable& table = m_host.table();
        table.opentable();
        if (row >= 1 && row <= table.count()) {
            table.gofirst();
            table.goforward(row - 1);
            table.editrecord();
            table.setflag(Field::Verified, true);
            table.setinteger(Field::Speed, static_cast<std::int32_t>(speed));
            table.postrecord();
        }
    } else if (rowShown) {
        grid.setCell(5, row, texts().failed);
        grid.setCell(6, row, "99999");
    }
    if (st.PendingChecks <= 0 || st.StopFlag || (m_loopDone && m_outstanding <= 0))
        finalise();
}

void ValidationRun::finalise() {
    SharedState& st = m_host.state();
    st.StopFlag = true;
    st.CheckDone = true;
    st.PendingChecks = 200;
    m_active = false;
    m_host.showinfo(texts().finishing);
    st.Busy = false;

    ProxyTable& table = m_host.table();
    table.opentable();
    table.sortby(Field::Verified);
    table.gofirst();
    while (table.count() > 0 && !table.getflag(Field::Verified)) {
        table.deleterecord();
        table.gofirst();
    }
    sorttable(m_host, Field::Speed);
    if (table.count() == 0)
        m_host.grid().setGridRowCount(1);
    m_host.processMessages();
    const int usable = m_host.grid().gridRowCount() - 1;
    m_host.showinfo(texts().countHead + std::to_string(usable) + texts().countTail);
    st.CheckAfterDown = false;
    if (m_onFinalised)
        m_onFinalised();
}

void ValidationRun::putInSlot(int row, TRaVInetChecker* checker) {
    std::vector<TRaVInetChecker*>& slots = m_host.state().Checkers;
    if (static_cast<int>(slots.size()) <= row)
        slots.resize(std::max(kFirstSlots, row + 1), nullptr);
    TRaVInetChecker* old = slots[row];
    slots[row] = checker;
    if (!old)
        return;
    auto it = m_held.find(old);
    if (it == m_held.end())
        return;
    it->second.current = false;
    if (!it->second.outstanding)
        release(old);
}

void ValidationRun::release(TRaVInetChecker* checker) {
    auto it = m_held.find(checker);
    if (it == m_held.end())
        return;
    std::unique_ptr<TRaVInetChecker> owned = std::move(it->second.checker);
    m_held.erase(it);
    // Never destroy a checker from inside a completion handler: its own OnComplete may be
    // the caller.
    if (m_handlerDepth > 0)
        m_released.push_back(std::move(owned));
}

void ValidationRun::sweep() {
    m_released.clear();
}

}  // namespace vorsa
