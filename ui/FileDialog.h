#pragma once
// Every file dialog of the program comes from here. Qt's own dialog names each file's type and
// icon through an icon provider, and the default one reads the start of every file it lists (a
// content type lookup), again whenever the folder changes. The working folder holds the journal:
// on Linux the close after each such read drops SQLite's locks on it for the whole process, and
// another program could then delete the write-ahead log or write at the same time. So the
// dialogs name types from the file name's extension alone, and never use the platform's dialog,
// which runs in this process too and reads files the same way.

#include <QFileIconProvider>
#include <QMimeDatabase>

class QFileDialog;
class QWidget;

class ExtensionIconProvider : public QFileIconProvider {
  public:
    QIcon icon(IconType type) const override;
    QIcon icon(const QFileInfo& info) const override;
    QString type(const QFileInfo& info) const override;

  private:
    QMimeType TypeByName(const QFileInfo& info) const;

    QMimeDatabase mimeTypes_;
};

// A new dialog of Qt's own with the provider above (shared by every dialog, never deleted: a
// dialog's file list may still ask it while the dialog goes).
QFileDialog* NewFileDialog(QWidget* parent);
