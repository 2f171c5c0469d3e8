#pragma once

#include "table/main_host.h"

#include <functional>
#include <string>
#include <vector>

namespace vorsa::test {

// A main window without a window: a real table and grid model, with every status text,
// pause and command recorded in one event log ("showinfo:<utf8>", "pause:300", ...).
// Status texts in the log are UTF-8 so that tests read like the program's texts.
class FakeHost : public MainHost {
public:
    FakeHost();

    void showinfo(const std::string& text) override;
    void midshowinfo(const std::string& text) override;
    void processMessages() override;
    void pause(int ms) override;

    ProxyTable& table() override { return m_table; }
    StringGridModel& grid() override { return m_grid; }
    SharedState& state() override { return m_state; }
    Selection gridSelection() const override { return selection; }
    bool sourceGroupChecked(int item) const override;
    void listtable() override;
    void actcheckExecute() override;
    void showMessage(const std::string& text) override;
    void navigate(const std::string& url) override;
    // Records an error as "error:<what() as UTF-8>" instead of showing a message box.
    void runCommand(const std::function<void()>& command) override;

    // The last text of each status panel, as UTF-8.
    std::string panel1() const { return m_panel1; }
    std::string panel2() const { return m_panel2; }
    std::vector<std::string> events;

    Selection selection{1, 1};
    bool groups[3] = {true, false, false};
    // Run Qt's event loop in processMessages (for hand-overs from threads); off by default.
    bool pumpEvents = false;
    // Really sleep in pause (for tests with threads that must see time pass).
    bool realPauses = false;
    // Overrides of the two commands; by default listtable runs the real routine and
    // actcheckExecute is only recorded.
    std::function<void()> onListtable;
    std::function<void()> onActcheck;
    std::function<void()> onProcessMessages;

private:
    ProxyTable m_table;
    StringGridModel m_grid;
    SharedState m_state;
    std::string m_panel1;
    std::string m_panel2;
};

// A record appended the way a harvest worker does: Ip and Port, optional others.
void appendRow(ProxyTable& t, const std::string& ip, const std::string& port,
               const char* protocol = nullptr, const char* location = nullptr);

// UTF-8 <-> GBK shorthands for assertions.
std::string utf8(const std::string& gbkBytes);

}  // namespace vorsa::test
