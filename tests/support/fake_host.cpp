#include "fake_host.h"

#include "platform/codec.h"
#include "table/grid_routines.h"

#include <QCoreApplication>
#include <QThread>

#include <exception>

namespace vorsa::test {

FakeHost::FakeHost() {
    initgrid(m_grid);
}

void FakeHost::showinfo(const std::string& text) {
    m_panel1 = utf8(text);
    events.push_back("showinfo:" + m_panel1);
    processMessages();
}

void FakeHost::midshowinfo(const std::string& text) {
    m_panel2 = utf8(text);
    events.push_back("midshowinfo:" + m_panel2);
    processMessages();
}

void FakeHost::showMessage(const std::string& text) {
    events.push_back("showMessage:" + utf8(text));
}

void FakeHost::navigate(const std::string& url) {
    events.push_back("navigate:" + url);
}

void FakeHost::processMessages() {
    if (onProcessMessages)
        onProcessMessages();
    if (pumpEvents && QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void FakeHost::pause(int ms) {
    events.push_back("pause:" + std::to_string(ms));
    if (realPauses)
        QThread::msleep(static_cast<unsigned long>(ms));
}

bool FakeHost::sourceGroupChecked(int item) const {
    return item >= 0 && item < 3 && groups[item];
}

void FakeHost::listtable() {
    events.emplace_back("listtable");
    if (onListtable)
        onListtable();
    else
        vorsa::listtable(*this);
}

void FakeHost::actcheckExecute() {
    events.emplace_back("actcheckExecute");
    if (onActcheck)
        onActcheck();
}

void FakeHost::runCommand(const std::function<void()>& command) {
    try {
        command();
    } catch (const std::exception& e) {
        events.push_back("error:" + utf8(e.what()));
    } catch (...) {
        events.emplace_back("error:unknown");
    }
}

void appendRow(ProxyTable& t, const std::string& ip, const std::string& port, const char* protocol,
               const char* location) {
    t.opentable();
    t.addrecord();
    t.setfield(Field::Ip, ip);
    t.setfield(Field::Port, port);
    if (protocol)
        t.setfield(Field::Protocol, gbk::text(protocol));
    if (location)
        t.setfield(Field::Location, gbk::text(location));
    t.postrecord();
}

std::string utf8(const std::string& gbkBytes) {
    return gbk::toUnicode(gbkBytes).toStdString();
}

}  // namespace vorsa::test
