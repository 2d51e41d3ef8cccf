// The tab page of the offline board: the copy limit, the download and the LED legend.

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "gui/main_window.h"
#include "gui/widget_sync.h"

namespace kvr {

QWidget* MainWindow::BuildOfflinePage() {
  comTJXZ_ = new QPushButton;
  comTJXZ_->setObjectName(QStringLiteral("comTJXZ"));
  comTJSL_disp_ = new QPushButton;
  comTJSL_disp_->setObjectName(QStringLiteral("comTJSL_disp"));
  txt_download_max_ = new QLineEdit;
  txt_download_max_->setObjectName(QStringLiteral("txt_download_max"));
  // Room for the largest limit; what is typed is still the station's to judge.
  txt_download_max_->setMaxLength(16);
  txt_download_max_->setMaximumWidth(txt_download_max_->fontMetrics().averageCharWidth() * 12);

  auto* page = new QWidget;
  auto* grid = new QGridLayout(page);
  grid->setContentsMargins(0, 0, 0, 0);
  QLabel* label = CaptionLabel("labDownloadMax");
  label->setBuddy(txt_download_max_);
  grid->addWidget(label, 0, 0);
  grid->addWidget(txt_download_max_, 0, 1);
  grid->addWidget(comTJXZ_, 0, 2);
  grid->addWidget(comTJSL_disp_, 1, 2);
  grid->setColumnStretch(3, 1);
  return page;
}

void MainWindow::ConnectOffline() {
  connect(txt_download_max_, &QLineEdit::textEdited, this, [this](const QString& text) {
    if (station_.txt_download_max.enabled) station_.txt_download_max.text = text.toStdString();
    Sync();
  });
  connect(comTJXZ_, &QPushButton::clicked, this, [this] {
    if (station_.comTJXZ.enabled) station_.OnOfflineDownloadClick();
    Sync();
  });
  connect(comTJSL_disp_, &QPushButton::clicked, this, [this] {
    if (station_.comTJSL_disp.enabled) station_.OnOfflineLegendClick();
    Sync();
  });
}

void MainWindow::SyncOffline() {
  SyncButton(comTJXZ_, station_.comTJXZ);
  SyncButton(comTJSL_disp_, station_.comTJSL_disp);
  SyncTextBox(txt_download_max_, station_.txt_download_max);
}

}  // namespace kvr
