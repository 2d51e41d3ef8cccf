#include "platform/qt/qt_settings_store.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace kvr {

QtSettingsStore::QtSettingsStore()
    : directory_(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                 "/kvr-station") {}

QString QtSettingsStore::FileFor(const std::string& application) const {
  if (!file_.isEmpty()) return file_;
  return directory_ + "/" + QString::fromStdString(application) + ".ini";
}

QSettings& QtSettingsStore::For(const std::string& application) {
  auto& settings = open_[application];
  if (!settings) {
    const QString file = FileFor(application);
    QDir().mkpath(QFileInfo(file).absolutePath());
    settings = std::make_unique<QSettings>(file, QSettings::IniFormat);
    // QSettings replaces the file through a temporary file and a rename.
    settings->setAtomicSyncRequired(true);
  }
  return *settings;
}

std::string QtSettingsStore::Read(const std::string& application, const std::string& section,
                                  const std::string& key, const std::string& defaultValue) {
  const QVariant value =
      For(application).value(QString::fromStdString(section) + "/" + QString::fromStdString(key));
  if (!value.isValid()) return defaultValue;
  return value.toString().toStdString();
}

void QtSettingsStore::Write(const std::string& application, const std::string& section,
                            const std::string& key, const std::string& value) {
  QSettings& settings = For(application);
  settings.setValue(QString::fromStdString(section) + "/" + QString::fromStdString(key),
                    QString::fromStdString(value));
  settings.sync();
}

}  // namespace kvr
