#include "helpers/Platform.h"
#include "helpers/QtPlatform.h"

#include <QPointer>
#include <QTimer>

namespace Trellane {

namespace {
Platform* installed = nullptr;
}

Platform& platform()
{
    if (installed)
        return *installed;
    static QtPlatform production;
    return production;
}

void setPlatform(Platform* p) { installed = p; }

void Platform::downloadInBackground(const QString& url, const QString& localFile, int timeoutMs, QObject* context,
                                    DownloadDone done)
{
    QTimer::singleShot(0, context, [this, url, localFile, timeoutMs, done = std::move(done)] {
        done(download(url, localFile, timeoutMs));
    });
}

} // namespace Trellane
