#pragma once

#include "table/main_host.h"

#include <string>

namespace vorsa {

// Where the proxies of the last validation are kept: last-valid.txt in the program's data
// folder ($XDG_DATA_HOME, else ~/.local/share, then /VORSASOFT); "" when neither is set.
std::string autosavePath();

// Writes the rows the grid shows as passed ("√", and verified in the table) to path in export
// format 1, replacing the file in one rename. With no such row the file is left as it was, so
// a run that passed nothing (no network, say) does not wipe the last good list. Returns the
// number of proxies written; throws, as exportlist, when the file cannot be written.
int autosaveValidated(MainHost& host, const std::string& path);

}  // namespace vorsa
