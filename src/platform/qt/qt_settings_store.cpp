#include "platform/qt/qt_settings_store.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace kvr {

QtSettingsStore::QtSettingsStore()
    : directory_(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                 "/kvr-station") {}

QString QtSettingsStore::FileFor(const std::string& application) const {
  if (!file_.isEmpty()) return file_;
  return directory_ + "/" + QString::fromStdString(application) + ".ini";
}

std::string QtSettingsStore::Read(const std::string& application, const std::string& section,
                                  const std::string& key, const std::string& defaultValue) {
  QSettings settings(FileFor(application), QSettings::IniFormat);
  const QString path = QString::fromStdString(section) + "/" + QString::fromStdString(key);
  const QVariant value = settings.value(path);
  if (!value.isValid()) return defaultValue;
  return value.toString().toStdString();
}

void QtSettingsStore::Write(const std::string& application, const std::string& section,
                            const std::string& key, const std::string& value) {
  const QString file = FileFor(application);
  QDir().mkpath(QFileInfo(file).absolutePath());
  QSettings settings(file, QSettings::IniFormat);
  settings.setValue(QString::fromStdString(section) + "/" + QString::fromStdString(key),
                    QString::fromStdString(value));
  settings.sync();
}

}  // namespace kvr
