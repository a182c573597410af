#pragma once
// Send for many messages in a row (a bulk send). Each item is checked on the caller's thread as
// Send checks it; its message is then built, read back as the spooler reads it and written
// durably into the Outbox's tmp/ on worker threads, each with its own GMime objects, so that
// the file system commits the files together. The messages are queued in the order they were
// handed over (their queue marks flushed together), so the Outbox delivers them in that order.
// An attachment the messages share is encoded once. A message counts as queued only once it is
// on disk with its queue mark. The items and the session stay on the caller's thread.
#include <QList>
#include <QString>
#include <memory>

#include "platform/mail/MailTypes.h"

namespace mail {

class SendBatch {
public:
    SendBatch();
    // Waits for every message handed over.
    ~SendBatch();
    SendBatch(const SendBatch&) = delete;
    SendBatch& operator=(const SendBatch&) = delete;

    struct Result {
        int tag = 0;
        QString error;  // empty: queued
    };
    // Hands the item's message over; tag names it in the results. MailError, and nothing handed
    // over, for what Send refuses before anything is written. Waits while many are in hand. An
    // item already filed (a draft, an Outbox message) is sent as Send does, once the messages
    // before it are queued.
    void Send(const MailItemPtr& item, int tag);
    // The outcomes known so far, in the order the messages were handed over. Each queued item
    // then stands in the Outbox as after Send, and the spooler is asked to deliver.
    QList<Result> TakeResults();
    // Waits for every message handed over; their outcomes as TakeResults gives them.
    QList<Result> Finish();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace mail
