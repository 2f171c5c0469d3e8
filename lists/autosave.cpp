#include "lists/autosave.h"

#include "lists/import_export.h"
#include "platform/codec.h"

#include <cstdlib>
#include <filesystem>

namespace vorsa {

std::string autosavePath() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/')
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.local/share";
    else
        return {};
    return base + "/VORSASOFT/last-valid.txt";
}

int autosaveValidated(MainHost& host, const std::string& path) {
    static const std::string passed = gbk::text("√");
    ProxyTable& table = host.table();
    const StringGridModel& grid = host.grid();
    // Grid row i shows table record i; the grid may be shorter while a redraw is pending.
    const int n = std::min(table.count(), grid.gridRowCount() - 1);
    ProxyTable kept;
    kept.opentable();
    int written = 0;
    for (int i = 1; i <= n; ++i) {
        const ProxyRecord& rec = table.at(i);
        if (!rec.Verified.value_or(false) || grid.cell(5, i) != passed)
            continue;
        kept.addrecord();
        for (Field f : {Field::Ip, Field::Port, Field::Protocol, Field::Location})
            if (!rec.isNull(f))
                kept.setfield(f, rec.text(f));
        kept.setflag(Field::Verified, true);
        if (rec.Speed)
            kept.setinteger(Field::Speed, *rec.Speed);
        kept.postrecord();
        ++written;
    }
    if (written == 0 || path.empty())
        return 0;
    // The data folder may not exist yet on a fresh account; a failure shows in the export.
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    exportlist(kept, path, TextList);
    return written;
}

}  // namespace vorsa
