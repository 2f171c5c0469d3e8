#pragma once

#include <string>

namespace vorsa {

// The program's own settings key (SOFTWARE\<organisation>\<application>), kept by QSettings:
// the registry on Windows, an INI file under ~/.config on Linux. Values are GBK bytes.
class SettingsStore {
public:
    SettingsStore(const char* organisation, const char* application);

    // The string value, or empty when it is missing, is not a string, or the store
    // cannot be read.
    std::string readString(const char* name) const;

    // Writes a string value and flushes it. False when the store cannot be written.
    bool writeString(const char* name, const std::string& value);

private:
    std::string m_organisation;
    std::string m_application;
};

}  // namespace vorsa
