#pragma once

#include "table/main_host.h"

#include <functional>
#include <string>

namespace vorsa {

// The main window's part for a terminal: a real table and grid model without a view, status
// texts on stderr (only when stderr is a terminal), errors as one line on stderr. Main
// thread only, like the window.
class CliHost : public MainHost {
public:
    CliHost();

    void showinfo(const std::string& text) override;
    void midshowinfo(const std::string& text) override;
    void processMessages() override;
    void pause(int ms) override;

    ProxyTable& table() override { return m_table; }
    StringGridModel& grid() override { return m_grid; }
    SharedState& state() override { return m_state; }
    Selection gridSelection() const override { return {1, 1}; }
    bool sourceGroupChecked(int item) const override;
    void showMessage(const std::string& text) override;
    // A terminal has no browser panel: nothing is opened.
    void navigate(const std::string& url) override;
    void listtable() override;
    // Nothing: the terminal runs its own checks (CheckLoop) after a harvest.
    void actcheckExecute() override {}
    // An error ends the command with one line on stderr, and the run is marked failed.
    void runCommand(const std::function<void()>& command) override;

    void setSourceGroups(bool domestic, bool foreign, bool custom);
    // Called from processMessages and pause; when it returns true they throw Interrupted, so a
    // routine that reports its progress (the location pass) stops at its next report.
    void setInterruptCheck(std::function<bool()> check) { m_interrupted = std::move(check); }

    // The status texts as the panels would show them (GBK).
    const std::string& panel1() const { return m_panel1; }
    const std::string& panel2() const { return m_panel2; }
    bool failed() const { return m_failed; }
    bool statusOnTerminal() const { return m_tty; }
    // Ends a status line that is on the terminal, so the next output starts on a line of its own.
    void endStatusLine();

    struct Interrupted {};

private:
    void status(const std::string& text);

    ProxyTable m_table;
    StringGridModel m_grid;
    SharedState m_state;
    std::string m_panel1;
    std::string m_panel2;
    bool m_groups[3] = {true, false, false};
    bool m_failed = false;
    bool m_tty = false;
    bool m_lineOpen = false;
    std::function<bool()> m_interrupted;
};

// A text of the program (GBK) in the terminal's encoding.
std::string terminalText(const std::string& gbkText);

}  // namespace vorsa
