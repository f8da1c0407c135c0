#include "FileDialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>

// The style's icons for a drive, a folder and a plain file.
QIcon ExtensionIconProvider::icon(IconType type) const { return QFileIconProvider::icon(type); }

QMimeType ExtensionIconProvider::TypeByName(const QFileInfo& info) const {
    return mimeTypes_.mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
}

QIcon ExtensionIconProvider::icon(const QFileInfo& info) const {
    // Folders and the rest are told apart by the file system's own data, never by content.
    if (info.isRoot()) return icon(Drive);
    if (info.isDir()) return icon(Folder);
    if (!info.isFile()) return icon(File);
    const QMimeType type = TypeByName(info);
    const QIcon fallback = icon(File);
    return QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), fallback));
}

QString ExtensionIconProvider::type(const QFileInfo& info) const {
    // The base names folders, drives and links from the file system's data alone.
    if (!info.isFile()) return QAbstractFileIconProvider::type(info);
    const QMimeType type = TypeByName(info);
    return type.comment().isEmpty() ? type.name() : type.comment();
}

QFileDialog* NewFileDialog(QWidget* parent) {
    static ExtensionIconProvider* const provider = new ExtensionIconProvider;
    auto* dialog = new QFileDialog(parent);
    // The widgets are made here, and the provider can only be given to them: the file list's
    // types are asked for on this thread's next turn of the event loop, after it is set.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setIconProvider(provider);
    return dialog;
}
