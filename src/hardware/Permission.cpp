#include "hardware/Permission.h"

#include <QMetaObject>
#include <atomic>

namespace Permission {

namespace {
std::atomic<bool> grants{true};
}

void requestMicrophone(QObject* context, std::function<void(bool)> answer) {
    const bool granted = grants.load();
    QMetaObject::invokeMethod(
        context, [answer = std::move(answer), granted] { answer(granted); }, Qt::QueuedConnection);
}

void setGranted(bool granted) {
    grants.store(granted);
}

}  // namespace Permission
