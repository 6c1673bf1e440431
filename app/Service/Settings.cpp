#include "app/Service/Settings.h"

#include <QSettings>

namespace {

constexpr const char* libraryProjectKey = "libraryProject";

} // namespace

std::optional<std::string> Settings::libraryProject() const {
    if (!file) return std::nullopt;
    const QVariant value = QSettings(QString::fromStdString(*file), QSettings::IniFormat).value(libraryProjectKey);
    if (!value.isValid()) return std::nullopt;
    return value.toString().toStdString();
}

void Settings::keepLibraryProject(const std::optional<std::string>& project) const {
    if (!file) return;
    QSettings stored(QString::fromStdString(*file), QSettings::IniFormat);
    if (project) stored.setValue(libraryProjectKey, QString::fromStdString(*project));
    else stored.remove(libraryProjectKey);
}
