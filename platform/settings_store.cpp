#include "settings_store.h"

#include "codec.h"

#include <QSettings>

namespace vorsa {

SettingsStore::SettingsStore(const char* organisation, const char* application)
    : m_organisation(organisation), m_application(application) {}

std::string SettingsStore::readString(const char* name) const {
    QSettings s(QString::fromLatin1(m_organisation), QString::fromLatin1(m_application));
    if (s.status() != QSettings::NoError)
        return {};
    const QVariant v = s.value(QString::fromLatin1(name));
    if (v.typeId() != QMetaType::QString)
        return {};
    return gbk::fromUnicode(v.toString());
}

bool SettingsStore::writeString(const char* name, const std::string& value) {
    QSettings s(QString::fromLatin1(m_organisation), QString::fromLatin1(m_application));
    if (!s.isWritable())
        return false;
    s.setValue(QString::fromLatin1(name), gbk::toUnicode(value));
    s.sync();
    return s.status() == QSettings::NoError;
}

}  // namespace vorsa
