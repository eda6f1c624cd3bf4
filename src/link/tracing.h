// A program's --trace FILE: the capture of every datagram, opened before anything is sent, its
// cards named as the system names them.
#pragma once

#include "link/capture.h"

#include <functional>
#include <memory>

namespace tarvik::wire {

// Creates the capture at `path`, naming `application` in its header, and makes it the wire's tap
// until it is destroyed. nullptr, with a line that names the file and the system's reason in
// `error`, when the file cannot be made. `onEnded` hears why a capture ended early.
std::unique_ptr<Capture> startCapture(const QString& path, const QString& application,
                                      std::function<void(const QString& why)> onEnded, QString* error);

} // namespace tarvik::wire
