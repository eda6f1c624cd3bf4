#include "tracing.h"

#include "link/cards.h"

namespace tarvik::wire {

std::unique_ptr<Capture> startCapture(const QString& path, const QString& application,
                                      std::function<void(const QString& why)> onEnded, QString* error)
{
    auto capture = std::make_unique<Capture>();
    QString reason;
    if (!capture->open(path, application, &reason)) {
        if (error)
            *error = QStringLiteral("cannot write the capture %1: %2").arg(path, reason);
        return nullptr;
    }
    capture->describeCard = cards::captureInfo;
    capture->onEnded = [path, onEnded = std::move(onEnded)](const QString& why) {
        if (onEnded)
            onEnded(QStringLiteral("the capture %1 ends here: %2").arg(path, why));
    };
    setTap(capture.get());
    return capture;
}

} // namespace tarvik::wire
