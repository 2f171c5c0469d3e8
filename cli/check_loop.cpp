#include "cli/check_loop.h"

#include "platform/check_settings.h"
#include "platform/tick_count.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

namespace vorsa {

CheckLoop::CheckLoop(Options options) : m_options(std::move(options)) {
    if (m_options.url.empty())
        m_options.url = checkSettings().url;
    if (m_options.jobs < 1)
        m_options.jobs = 1;
}

// Checkers still out go with the loop: their late results are dropped by the checker.
CheckLoop::~CheckLoop() = default;

void CheckLoop::issue(ProxyTable& table, int row) {
    auto owned = std::make_unique<TRaVInetChecker>();
    TRaVInetChecker* checker = owned.get();
    const ProxyRecord& rec = table.at(row + 1);
    prepareProxyCheck(*checker, rec.text(Field::Ip), rec.text(Field::Port), m_options.url);
    checker->Tag = row;
    checker->OnComplete = [this](TRaVInetChecker* sender, bool connected) {
        complete(sender, connected);
    };
    checker->starttime = static_cast<std::int32_t>(GetTickCount());
    if (checker->StartCheck()) {
        m_out.emplace(checker, std::move(owned));
    } else {
        ++m_done;
    }
}

void CheckLoop::complete(TRaVInetChecker* sender, bool connected) {
    auto it = m_out.find(sender);
    if (it == m_out.end())
        return;
    ++m_done;
    const int row = sender->Tag;
    if (connected && row >= 0 && row < static_cast<int>(m_speed.size())) {
        // When the reply was in (taken on the network side), less the start.
        const std::uint32_t speed = static_cast<std::uint32_t>(sender->completetime) -
                                    static_cast<std::uint32_t>(sender->starttime);
        m_speed[static_cast<std::size_t>(row)] = static_cast<std::int32_t>(speed & 0x7fffffff);
        ++m_passed;
    }
    // Never destroyed inside its own completion handler.
    m_finished.push_back(std::move(it->second));
    m_out.erase(it);
}

bool CheckLoop::run(ProxyTable& table) {
    table.opentable();
    const int total = table.count();
    m_speed.assign(static_cast<std::size_t>(total), -1);
    m_done = m_passed = 0;

    // Wakes the loop for the pace, the stop flag and the progress line when no result comes.
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.start(m_options.paceMs > 0 ? std::min(m_options.paceMs, 20) : 50);
    QElapsedTimer clock;
    clock.start();
    qint64 lastIssue = -1;
    qint64 lastProgress = -1000;
    qint64 stopDeadline = -1;
    int next = 0;
    bool stopped = false;

    for (;;) {
        const qint64 now = clock.elapsed();
        if (!stopped && m_options.stopRequested && m_options.stopRequested()) {
            stopped = true;
            stopDeadline = now + TRaVInetChecker::checkTimeoutMs();
        }
        while (!stopped && next < total && static_cast<int>(m_out.size()) < m_options.jobs) {
            if (m_options.paceMs > 0 && lastIssue >= 0 && now - lastIssue < m_options.paceMs)
                break;
            issue(table, next++);
            lastIssue = now;
            if (m_options.paceMs > 0)
                break;
        }
        m_finished.clear();
        if (m_options.progress && now - lastProgress >= 250) {
            lastProgress = now;
            m_options.progress(m_done, total, m_passed);
        }
        if (m_out.empty() && (next >= total || stopped))
            break;
        if (stopped && now >= stopDeadline)
            break;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    m_finished.clear();
    m_out.clear();
    if (m_options.progress)
        m_options.progress(m_done, total, m_passed);

    // What the window's finalisation leaves: the passed records, fastest first. Rebuilt in
    // one pass rather than deleted one by one, which would be quadratic on large lists.
    std::vector<ProxyRecord> kept;
    kept.reserve(static_cast<std::size_t>(m_passed));
    for (int row = 0; row < total; ++row)
        if (m_speed[static_cast<std::size_t>(row)] >= 0)
            kept.push_back(table.at(row + 1));
    table.clear();
    table.opentable();
    std::size_t k = 0;
    for (int row = 0; row < total; ++row) {
        const std::int32_t speed = m_speed[static_cast<std::size_t>(row)];
        if (speed < 0)
            continue;
        const ProxyRecord& rec = kept[k++];
        table.addrecord();
        for (const Field f : {Field::Ip, Field::Port, Field::Protocol, Field::Location})
            if (!rec.isNull(f))
                table.setfield(f, rec.text(f));
        table.setflag(Field::Verified, true);
        table.setinteger(Field::Speed, speed);
        table.postrecord();
    }
    table.sortby(Field::Speed);
    return !stopped;
}

}  // namespace vorsa
