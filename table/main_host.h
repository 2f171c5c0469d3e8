#pragma once

#include "table/proxy_table.h"
#include "table/shared_state.h"
#include "table/string_grid_model.h"

#include <functional>
#include <string>

namespace vorsa {

// What the routines of the rooms below the window need of the main window. Tfrmvrdl
// implements it; tests use a fake that records texts and pauses instead of showing and
// sleeping.
class MainHost {
public:
    virtual ~MainHost() = default;

    // First and second status panel (GBK text). Both handle pending events before they
    // return, so other handlers may have run when they come back.
    virtual void showinfo(const std::string& text) = 0;
    virtual void midshowinfo(const std::string& text) = 0;
    // Handle every pending event of the main thread.
    virtual void processMessages() = 0;
    // Block the main thread for ms milliseconds; nothing is handled meanwhile.
    virtual void pause(int ms) = 0;

    virtual ProxyTable& table() = 0;
    virtual StringGridModel& grid() = 0;
    virtual SharedState& state() = 0;

    // The grid's selected rows, top to bottom (the current row when nothing is selected).
    struct Selection {
        int top = 0;
        int bottom = 0;
    };
    virtual Selection gridSelection() const = 0;

    // Check mark of item 0..2 of the source-group menu (domestic, foreign, custom URLs).
    virtual bool sourceGroupChecked(int item) const = 0;

    // A modal message with an OK button (the one message the program shows itself).
    virtual void showMessage(const std::string& text) = 0;
    // The browser panel opens url and returns at once; throws when the panel refuses it.
    virtual void navigate(const std::string& url) = 0;

    // The de-duplication step after a harvest, and the validation start command.
    virtual void listtable() = 0;
    virtual void actcheckExecute() = 0;

    // Runs work that starts from the event loop rather than from a command (a harvest's
    // completion); an error it raises ends it with the default error report, as for a command.
    virtual void runCommand(const std::function<void()>& command) = 0;
};

}  // namespace vorsa
