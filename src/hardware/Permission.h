#pragma once

#include <QObject>
#include <functional>

// Linux puts no gate on audio input, so access is granted at once, but the
// answer still arrives later through the main event loop, as a real prompt's
// would: start-up runs in the same order either way.
namespace Permission {

// Main thread: `answer` runs on the main thread (while `context` lives).
void requestMicrophone(QObject* context, std::function<void(bool granted)> answer);

// For tests: whether the next requests are granted (true unless set).
void setGranted(bool granted);

}  // namespace Permission
