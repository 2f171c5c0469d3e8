#include "cli/cli_host.h"

#include "platform/codec.h"
#include "table/grid_routines.h"

#include <QCoreApplication>
#include <QThread>

#include <unistd.h>

#include <cstdio>
#include <exception>

namespace vorsa {

std::string terminalText(const std::string& gbkText) {
    bool ascii = true;
    for (const char c : gbkText)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii)
        return gbkText;
    return gbk::toUnicode(gbkText).toLocal8Bit().toStdString();
}

CliHost::CliHost() : m_tty(::isatty(STDERR_FILENO) == 1) {
    initgrid(m_grid);
}

void CliHost::status(const std::string& text) {
    if (!m_tty)
        return;
    std::fprintf(stderr, "\r\033[K%s", terminalText(text).c_str());
    std::fflush(stderr);
    m_lineOpen = true;
}

void CliHost::endStatusLine() {
    if (m_lineOpen) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    m_lineOpen = false;
}

void CliHost::showinfo(const std::string& text) {
    m_panel1 = text;
    status(text);
    processMessages();
}

void CliHost::midshowinfo(const std::string& text) {
    m_panel2 = text;
    processMessages();
}

void CliHost::processMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (m_interrupted && m_interrupted())
        throw Interrupted{};
}

void CliHost::pause(int ms) {
    QThread::msleep(static_cast<unsigned long>(ms));
    if (m_interrupted && m_interrupted())
        throw Interrupted{};
}

bool CliHost::sourceGroupChecked(int item) const {
    return item >= 0 && item < 3 && m_groups[item];
}

void CliHost::setSourceGroups(bool domestic, bool foreign, bool custom) {
    m_groups[0] = domestic;
    m_groups[1] = foreign;
    m_groups[2] = custom;
}

void CliHost::showMessage(const std::string& text) {
    endStatusLine();
    std::fprintf(stderr, "vorsa-cli: %s\n", terminalText(text).c_str());
}

void CliHost::navigate(const std::string&) {}

void CliHost::listtable() {
    vorsa::listtable(*this);
}

void CliHost::runCommand(const std::function<void()>& command) {
    try {
        command();
    } catch (const Interrupted&) {
        throw;
    } catch (const std::exception& e) {
        m_failed = true;
        // Messages of the lower layers may carry GBK text (file names, web text).
        showMessage(e.what());
    } catch (...) {
        m_failed = true;
        showMessage(gbk::text("发生未知错误。"));
    }
}

}  // namespace vorsa
