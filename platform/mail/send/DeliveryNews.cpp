#include "platform/mail/send/DeliveryNews.h"

#include <QFile>
#include <QHash>
#include <QLocale>
#include <QScopeGuard>
#include <QSet>

#include <algorithm>
#include <iterator>

#include "platform/mail/send/Delivery.h"
#include "platform/mail/send/Outgoing.h"
#include "platform/mail/send/QueueDatabase.h"

namespace mail::send {

namespace {

const QString kForUser = QStringLiteral("It will not be tried again: open it in the Outbox to send it again or delete it.");

QString retryText(const QDateTime& next)
{
    return next.isValid() ? QStringLiteral("It will be tried again at %1.").arg(WhenText(next))
                          : QStringLiteral("It will be tried again with the next delivery.");
}

// While the user has it open (Edit), a message whose time has come goes once it is closed.
QString retryText(const QueueStatus& st)
{
    if (st.held && (!st.nextTry.isValid() || st.nextTry <= QDateTime::currentDateTimeUtc()))
        return QStringLiteral("It will be tried again once you close it.");
    return retryText(st.nextTry);
}

// those: "that address", "those addresses".
QString retryForAddressText(const QDateTime& next, const QString& those = QStringLiteral("that address"))
{
    return next.isValid() ? QStringLiteral("It will be tried again for %1 at %2.").arg(those, WhenText(next))
                          : QStringLiteral("It will be tried again for %1 with the next delivery.").arg(those);
}

bool endsSentence(const QString& text)
{
    return text.endsWith(QLatin1Char('.')) || text.endsWith(QLatin1Char('!')) || text.endsWith(QLatin1Char('?'));
}

// The server's answer as a sentence of the line that tells it.
QString sentence(const QString& answer)
{
    const QString a = answer.trimmed();
    return endsSentence(a) ? a : a + QLatin1Char('.');
}

// An answer as a sentence, then more of ours (when it goes again), then the transport's own words
// when it gave them: they close what is told.
QString sentenceThen(const QString& answer, const QString& then, const QString& between = QStringLiteral(" "))
{
    const QString ours = WithoutDetails(answer);
    return sentence(ours) + between + then + answer.mid(ours.size());
}

// A text of several lines (answers joined, a long finding) on one line: a line that ends a
// sentence is followed by a space, any other by "; ".
QString oneLine(const QString& text)
{
    QString out;
    qsizetype from = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const bool end = i == text.size();
        const QChar c = end ? QChar() : text.at(i);
        if (!end && c != QLatin1Char('\n') && c != QLatin1Char('\r') && c != QChar::LineSeparator && c != QChar::ParagraphSeparator
            && c != QChar(0x85))
            continue;
        const QString part = text.mid(from, i - from).trimmed();
        from = i + 1;
        if (part.isEmpty())
            continue;
        if (!out.isEmpty())
            out += endsSentence(out) ? QStringLiteral(" ") : QStringLiteral("; ");
        out += part;
    }
    return out;
}

QString messageText(const QString& who, const QString& subject) { return QStringLiteral("A message to %1 (\"%2\")").arg(who, subject); }

// A stored message up to the end of its header, enough for whom it goes to and through which account.
QByteArray headOf(const QString& path)
{
    QFile f(path);
    QByteArray head;
    if (!f.open(QIODevice::ReadOnly))
        return head;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine();
        head += line;
        if (line == "\n" || line == "\r\n")
            break;
    }
    return head;
}

// Who was refused and the server's answer: the summary names the first of them.
struct Said {
    QString who;
    QString answer;
    bool permanent = false;
};

class Teller {
public:
    Teller(const OutboxQueue::Told& told, const QList<Account>& accounts) : m_told(told), m_accounts(accounts) {}

    DeliveryNews tell()
    {
        // What keeps the queue from being read or written, and what opening it found, come first.
        for (const QString& first : {m_told.problem, m_told.finding})
            if (!first.isEmpty())
                m_news.lines << sentence(first);
        for (const OutboxQueue::Standing& s : m_told.standing)
            standing(s);
        for (const SentNote& n : m_told.notes)
            for (const RecipientStatus& r : n.refused)
                refusedLine(messageText(RecipientsText({n.firstRecipient}, n.recipients), n.subject), r, true);
        m_news.lines += m_told.runNotes;
        m_news.unlisted = m_told.standingTotal - m_told.standing.size();
        // Past those listed, one waits for its account as the last run found it.
        for (auto a = m_told.unlistedRetryAnswers.cbegin(); a != m_told.unlistedRetryAnswers.cend(); ++a)
            if (IsAccountMissingText(a.key()))
                m_forYou += a.value();
        m_news.summary = oneLine(summary());
        return m_news;
    }

private:
    void standing(const OutboxQueue::Standing& s)
    {
        const Outgoing out = PrepareOutgoing(headOf(s.path));
        const QString who = RecipientsText(out.recipients.mid(0, 1), out.recipients.size());
        const QString msg = messageText(who, out.subject);
        const std::optional<Account> account = QueuedAccount(m_accounts, out.account, out.accountId, out.sender);
        const QString name = account ? account->name : out.account;
        const QString through = name.isEmpty() ? QString() : QStringLiteral(" through \"%1\"").arg(name);
        const QueueStatus& st = s.status;
        const QString& answer = st.answer;
        const auto any = [&](RecipientState state) {
            return std::any_of(st.recipients.begin(), st.recipients.end(), [&](const RecipientStatus& r) { return r.state == state; });
        };
        const bool anyAccepted = any(RecipientState::Accepted);
        // Its account is gone (or none is set up, or its name is another identity's now): told as
        // that, whatever a run said before. It waits for the user.
        if (st.state == QueueState::Waiting && !account) {
            m_news.lines << msg + QStringLiteral(" was not sent. ") + AccountMissingText(out, m_accounts);
            m_said.append({{}, AccountMissingText(out, m_accounts, false), false});
            ++m_forYou;
            return;
        }
        // Refused or possibly delivered, it waits for the user anyway: how Send Again sends it
        // is told with it.
        const qsizetype firstLine = m_news.lines.size();
        const auto tellMissing = qScopeGuard([&] {
            if (account || m_news.lines.size() <= firstLine)
                return;
            // Before the transport's own words, which end the line.
            QString& line = m_news.lines[firstLine];
            line.insert(WithoutDetails(line).size(), QLatin1Char(' ') + AccountMissingText(out, m_accounts));
        });
        // An answer of the message's own (a refused login, a fault of the set-up) is the
        // account's, told as it is: not any recipient's.
        const bool own = !answer.isEmpty() && answer != MessageAnswer(st.state, st.recipients);

        if (st.state == QueueState::Refused) {
            m_news.lines << msg + QStringLiteral(" could not be sent%1: ").arg(through) + sentenceThen(answer, kForUser);
            m_said.append({who, answer, true});
            return;
        }
        if (st.state == QueueState::MaybeDelivered) {
            m_news.lines << msg + QStringLiteral(" may have been delivered%1. ").arg(through) + answer;
        } else if (!anyAccepted && !any(RecipientState::MaybeDelivered)) {
            // Nothing went yet: told as one message that waits.
            m_news.lines << msg + QStringLiteral(" could not be sent%1: ").arg(through) + sentenceThen(answer, retryText(st));
            m_said.append({own ? QString() : who, answer, false});
        } else {
            for (const RecipientStatus& r : st.recipients) {
                if (r.state == RecipientState::Deferred)
                    refusedLine(msg, r, anyAccepted);
                else if (r.state == RecipientState::MaybeDelivered)
                    m_news.lines << msg + QStringLiteral(" may have been delivered to %1. ").arg(r.address) + r.answer;
            }
        }
        for (const RecipientStatus& r : st.recipients)
            if (r.state == RecipientState::Refused)
                refusedLine(msg, r, anyAccepted);
    }

    // A recipient refused one by one, for good or for now.
    void refusedLine(const QString& msg, const RecipientStatus& r, bool sentToOthers)
    {
        const bool permanent = r.state == RecipientState::Refused;
        const QString how = sentToOthers ? QStringLiteral(" was sent, but the server refused %1: %2 ")
                                         : QStringLiteral(" could not be sent to %1: %2 ");
        m_news.lines << msg + how.arg(r.address, sentence(r.answer))
                            + (permanent ? QStringLiteral("It was not sent to that address.") : retryForAddressText(r.until));
        m_said.append({r.address, r.answer, permanent});
    }

    QString summary()
    {
        const OutboxQueue::Told& t = m_told;
        // Messages are counted, and the recipients refused one by one of those that went or wait
        // apart from them: "1 message waiting for a retry (1 recipient refused)".
        int recipients = t.refusedRecipients;
        for (const SentNote& n : t.notes)
            recipients += int(n.refused.size());
        QStringList parts;
        const auto count = [&parts](int n, const char* what) {
            if (n > 0)
                parts << (parts.isEmpty() ? QStringLiteral("%1 %2 %3").arg(n).arg(n == 1 ? QStringLiteral("message") : QStringLiteral("messages"))
                                          : QStringLiteral("%1 %2").arg(n))
                                 .arg(QLatin1String(what));
        };
        count(t.sent, "sent");
        count(t.sending, "being sent");
        count(t.toSend, "waiting to be sent");
        // Those whose account is gone wait for the user, not for a retry.
        count(t.retry - m_forYou, "waiting for a retry");
        count(m_forYou, "waiting for you");
        count(t.refused, "refused");
        count(t.maybeDelivered, "may have been delivered");
        if (parts.isEmpty())
            return t.problem.isEmpty() ? t.finding : t.problem;
        QString line = QStringLiteral("Sending: ") + parts.join(QStringLiteral(", "));
        if (recipients) {
            const QString who = recipients == 1 ? QStringLiteral("1 recipient") : QStringLiteral("%1 recipients").arg(recipients);
            // A message refused as a whole was refused for all of its recipients: these are others'.
            line += t.refused ? QStringLiteral(" (and %1 of the others)").arg(who) : QStringLiteral(" (%1 refused)").arg(who);
        }
        line += QLatin1Char('.');
        if (!t.problem.isEmpty() || !t.finding.isEmpty())
            return line + QLatin1Char(' ') + sentence(t.problem.isEmpty() ? t.finding : t.problem);
        // The first refusal in a few words, one the server will not take first (among the
        // messages not listed too): who, and the server's own answer.
        std::stable_partition(m_said.begin(), m_said.end(), [](const Said& s) { return s.permanent; });
        if ((m_said.isEmpty() || !m_said.first().permanent) && t.firstRefused)
            m_said.prepend({t.firstRefused->address, t.firstRefused->answer, true});
        // The transport's own words stay in the details.
        if (!m_said.isEmpty())
            line += QLatin1Char(' ')
                    + (m_said.first().who.isEmpty() ? QString() : m_said.first().who + QStringLiteral(": "))
                    + WithoutDetails(m_said.first().answer);
        else if (t.maybeDelivered)
            line += QStringLiteral(" The server may have received %1: check with the recipients before you send again from the Outbox.")
                        .arg(t.maybeDelivered == 1 ? QStringLiteral("it") : QStringLiteral("them"));
        else if (!m_news.lines.isEmpty())
            line += QLatin1Char(' ') + WithoutDetails(m_news.lines.first());
        return line;
    }

    const OutboxQueue::Told& m_told;
    const QList<Account>& m_accounts;
    DeliveryNews m_news;
    QList<Said> m_said;
    int m_forYou = 0;    // waiting for the user to send them through another account
};

} // namespace

QStringList DeliveryNews::details(qsizetype first) const
{
    QStringList out = lines.mid(0, first);
    if (const qsizetype more = std::max<qsizetype>(0, lines.size() - first) + unlisted; more > 0)
        out << QStringLiteral("... and %1 more.").arg(more);
    return out;
}

DeliveryNews TellDelivery(const OutboxQueue::Told& told, const QList<Account>& accounts) { return Teller(told, accounts).tell(); }

DeliveryNews TellDelivery(const OutboxQueue& queue, const QList<Account>& accounts)
{
    return TellDelivery(queue.told(kListedWaiting), accounts);
}

QString AccountMissingText(const Outgoing& out, const QList<Account>& accounts, bool wayOut)
{
    QString why;
    if (QueuedAccount(accounts, out.account, out.accountId, out.sender, &why))
        return {};
    if (out.account.isEmpty())
        return QStringLiteral("No mail account is set up: it waits until you set one up in Setup > Mail Accounts.");
    const std::optional<Account> other = DefaultAccount(accounts);
    if (!other)
        return why + QStringLiteral(" It waits until you set that account up again in Setup > Mail Accounts.");
    if (!wayOut)
        return why;
    // Sent again, it is written afresh: the default account's From line replaces its own.
    QString text = why
                   + QStringLiteral(" It waits for you: to send it through \"%1\", your default account, open it in the Outbox and "
                                    "choose Send Again (or Edit, then Send). It will then be sent from %2")
                         .arg(other->name, other->address);
    if (!out.sender.isEmpty() && AddressKey(out.sender) != AddressKey(other->address))
        text += QStringLiteral(" instead of ") + out.sender;
    return text + QLatin1Char('.');
}

QString TellAccountMissing(const QString& path, const QList<Account>& accounts)
{
    return AccountMissingText(PrepareOutgoing(headOf(path)), accounts);
}

QString WithAccountMissing(const QString& told, const QString& missing)
{
    if (missing.isEmpty())
        return told;
    // Lines told one by one (each recipient's) keep their own details: it follows them all.
    const QString ours = WithoutDetails(told);
    if (ours.size() == told.size() || told.indexOf(QLatin1Char('\n'), ours.size() + 1) >= 0)
        return told + QLatin1Char('\n') + missing;
    return ours + QLatin1Char('\n') + missing + told.mid(ours.size());
}

QString TellWaiting(const QueueStatus& st, const QString& path, const QList<Account>& accounts)
{
    if (const QString missing = TellAccountMissing(path, accounts); !missing.isEmpty())
        return QStringLiteral("This message was not sent. ") + missing;
    if (st.answer.isEmpty())
        return QStringLiteral("This message waits in the Outbox to be sent.");
    const QString again = retryText(st);
    // Its own answer says what went wrong in its own words; a server's answer is a refusal.
    if (st.answer != MessageAnswer(st.state, st.recipients))
        return QStringLiteral("This message was not sent: ") + sentenceThen(st.answer, again, QStringLiteral("\n"));
    return QStringLiteral("The server refused this message for now: %1\n%2").arg(st.answer, again);
}

QString StoppedText(const QString& why, const QString& outbox)
{
    if (why.contains(QLatin1String(kDiskFullText)))
        return QStringLiteral("Sending has stopped: the disk that holds the Outbox (%1) is full, so the Outbox's delivery record "
                              "could not be written.\n\nFree some space on that disk, then choose Get Mail to send the rest. Until then "
                              "it is tried again by itself, less and less often.")
            .arg(outbox);
    return QStringLiteral("Sending has stopped. %1\n\nOnce it can be written again, choose Get Mail to send the rest. Until then it "
                              "is tried again by itself, less and less often.").arg(why);
}

QString WhenText(const QDateTime& t)
{
    const QDateTime local = t.toLocalTime();
    if (local.date() == QDate::currentDate())
        return QLocale().toString(local.time(), QLocale::ShortFormat);
    return QLocale().toString(local, QLocale::ShortFormat);
}

QString RecipientsText(const QStringList& named, qsizetype count)
{
    if (count == 0 || named.isEmpty() || named.first().isEmpty())
        return QStringLiteral("no one");
    const qsizetype others = count - named.size();
    if (others <= 0)
        return named.size() == 1 ? named.first()
                                 : named.mid(0, named.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") + named.last();
    return named.join(QStringLiteral(", "))
           + (others == 1 ? QStringLiteral(" and 1 other") : QStringLiteral(" and %1 others").arg(others));
}

namespace {

// Recipients named in one outcome's line; the lines told, however many answers the server gave.
constexpr qsizetype kNamed = 3;
constexpr qsizetype kOutcomeLines = 5;

// The recipients that fared alike: one state, one answer.
struct Fared {
    QString answer;
    QStringList named;
    qsizetype count = 0;
};

// Who has it first, then who was refused for good, who waits, and who may have had it.
constexpr RecipientState kOutcomeOrder[] = {RecipientState::Accepted, RecipientState::Refused, RecipientState::Deferred,
                                            RecipientState::Owed, RecipientState::MaybeDelivered};
constexpr qsizetype kOutcomes = std::size(kOutcomeOrder);

qsizetype outcomeIndex(RecipientState s)
{
    return std::find(std::begin(kOutcomeOrder), std::end(kOutcomeOrder), s) - std::begin(kOutcomeOrder);
}

// ": 550 5.1.1 No such user. " or ". " when the server said nothing.
QString because(const QString& answer)
{
    const QString a = oneLine(answer);
    return a.isEmpty() ? QStringLiteral(". ") : QStringLiteral(": ") + sentence(a) + QLatin1Char(' ');
}

QString faredLine(RecipientState state, const Fared& f, const QDateTime& next)
{
    const QString who = RecipientsText(f.named, f.count);
    const QString those = f.count == 1 ? QStringLiteral("that address") : QStringLiteral("those addresses");
    switch (state) {
    case RecipientState::Accepted:
        return QStringLiteral("Sent to %1. It will not be sent to %2 again.").arg(who, those);
    case RecipientState::Refused:
        return QStringLiteral("The server refused %1 for good").arg(who) + because(f.answer)
               + QStringLiteral("It will not be sent to %1 unless you send it again.").arg(those);
    case RecipientState::Deferred:
        return QStringLiteral("The server refused %1 for now").arg(who) + because(f.answer) + retryForAddressText(next, those);
    case RecipientState::Owed:
        return QStringLiteral("It waits in the Outbox to be sent to %1.").arg(who);
    case RecipientState::MaybeDelivered:
        // Its answer says why, in a sentence of its own.
        return QStringLiteral("It may have been delivered to %1.").arg(who)
               + (f.answer.trimmed().isEmpty() ? QString() : QLatin1Char(' ') + sentence(oneLine(f.answer)));
    }
    return {};
}

} // namespace

QStringList TellRecipients(const QueueStatus& st, const QString& path)
{
    // Nothing known of any recipient, or nothing to tell while it goes: its state says it all.
    if (st.recipients.isEmpty() || st.state == QueueState::Sending || st.state == QueueState::NotQueued)
        return {};
    QHash<QString, qsizetype> known;
    known.reserve(st.recipients.size());
    for (qsizetype i = 0; i < st.recipients.size(); ++i)
        known.insert(AddressKey(st.recipients[i].address), i);

    QList<Fared> fared[kOutcomes];
    QHash<QString, qsizetype> byAnswer[kOutcomes];
    const auto add = [&](const QString& address, RecipientState state, const QString& answer) {
        const qsizetype o = outcomeIndex(state);
        const QString said = state == RecipientState::Accepted ? QString() : answer;
        auto it = byAnswer[o].constFind(said);
        if (it == byAnswer[o].constEnd()) {
            it = byAnswer[o].insert(said, fared[o].size());
            fared[o].append({said, {}, 0});
        }
        Fared& f = fared[o][*it];
        if (f.named.size() < kNamed)
            f.named << address;
        ++f.count;
    };
    // The recipients as written, each once, then any the queue knows of that the file no longer names.
    QList<bool> told(st.recipients.size(), false);
    QSet<QString> seen;
    for (const QString& a : PrepareOutgoing(headOf(path)).recipients) {
        const QString key = AddressKey(a);
        if (seen.contains(key))
            continue;
        seen.insert(key);
        const qsizetype k = known.value(key, -1);
        if (k < 0) {
            add(a, RecipientState::Owed, {});
            continue;
        }
        told[k] = true;
        const RecipientStatus& r = st.recipients[k];
        add(r.address, r.state, r.answer);
    }
    for (qsizetype k = 0; k < st.recipients.size(); ++k)
        if (!told[k])
            add(st.recipients[k].address, st.recipients[k].state, st.recipients[k].answer);

    // One line for each outcome there is; then more answers of the same outcomes while they fit.
    qsizetype shown[kOutcomes] = {};
    qsizetype room = kOutcomeLines, groups = 0;
    for (qsizetype o = 0; o < kOutcomes; ++o) {
        groups += fared[o].size();
        shown[o] = std::min<qsizetype>(1, fared[o].size());
        room -= shown[o];
    }
    if (groups <= 1)
        return {};
    for (qsizetype o = 0; o < kOutcomes && room > 0; ++o) {
        const qsizetype more = std::min(room, fared[o].size() - shown[o]);
        shown[o] += more;
        room -= more;
    }
    const QDateTime next = st.state == QueueState::Waiting ? st.nextTry : QDateTime();
    QStringList lines;
    qsizetype untold = 0;
    for (qsizetype o = 0; o < kOutcomes; ++o)
        for (qsizetype g = 0; g < fared[o].size(); ++g) {
            if (g < shown[o])
                lines << faredLine(kOutcomeOrder[o], fared[o][g], next);
            else
                untold += fared[o][g].count;
        }
    if (untold > 0)
        lines << (untold == 1 ? QStringLiteral("... and 1 more recipient with another answer.")
                              : QStringLiteral("... and %1 more recipients with other answers.").arg(untold));
    // The message's own answer (a fault of the set-up, say) is not any recipient's.
    if (!st.answer.isEmpty() && st.answer != MessageAnswer(st.state, st.recipients))
        lines << oneLine(st.state == QueueState::Waiting ? sentenceThen(st.answer, retryText(next)) : sentence(st.answer));
    return lines;
}



} // namespace mail::send
