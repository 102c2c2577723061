#pragma once
// The worker pattern shared by the account controller's files: one short-lived thread per
// control-plane operation, its outcome applied on the GUI thread by a queued call.

#include <QMetaObject>
#include <QThread>

#include "app/account/account_controller.h"

template <class Record>
void AccountController::runOperation(std::function<Outcome<Record>(vpn::ControlPlane&)> work,
                                     std::function<void(const Outcome<Record>&)> apply) {
    vpn::ControlPlane* plane = controlPlane_.get();
    std::shared_ptr<ControlPlaneQueue> queue = queue_;
    const uint64_t ticket = queue->enqueue();
    QThread* thread = QThread::create(
        [this, plane, queue, ticket, work = std::move(work), apply = std::move(apply)]() {
            Outcome<Record> outcome;
            {
                ControlPlaneQueue::Turn turn(*queue, ticket);
                try {
                    outcome = work(*plane);
                } catch (...) {
                    outcome = Outcome<Record>{};  // a failure without a text: the default shows
                }
            }
            QMetaObject::invokeMethod(
                this, [apply, outcome = std::move(outcome)]() { apply(outcome); },
                Qt::QueuedConnection);
        });
    track(thread);
}
