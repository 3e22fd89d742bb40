#include "qt_paths.h"

#include <QFile>
#include <QStringList>

#if !defined(_WIN32)
#include <dirent.h>
#include <sys/stat.h>

#include <memory>
#endif

namespace {

#if !defined(_WIN32)
bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The entry of folder whose name shows as name, or empty when none does.
std::string EntryShownAs(const std::string& folder, const QString& name) {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return {};
    while (const dirent* entry = ::readdir(dir.get())) {
        const QByteArray bytes(entry->d_name);
        if (QFile::decodeName(bytes) == name) return bytes.toStdString();
    }
    return {};
}
#endif

}  // namespace

QString UI_PathToQt(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string UI_PathFromQt(const QString& path) {
    const std::string encoded = QFile::encodeName(path).toStdString();
#if defined(_WIN32)
    return encoded;
#else
    if (encoded.empty() || Exists(encoded)) return encoded;
    // Component by component from the root (or the current folder): each one as it is, or the
    // folder's entry that shows as it; a component not there at all (a new file) as it is.
    const bool absolute = path.startsWith(QLatin1Char('/'));
    std::string resolved = absolute ? "/" : "";
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        std::string component = QFile::encodeName(part).toStdString();
        const std::string folder = resolved.empty() ? "." : resolved;
        if (!Exists(resolved + component)) {
            const std::string entry = EntryShownAs(folder, part);
            if (!entry.empty()) component = entry;
        }
        resolved += component;
        if (&part != &parts.back()) resolved += '/';
    }
    if (path.endsWith(QLatin1Char('/')) && !resolved.empty() && resolved.back() != '/') {
        resolved += '/';
    }
    return resolved;
#endif
}
