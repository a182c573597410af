#pragma once
// A contact: one card of a vCard (2.1, 3.0 or 4.0) file of a contact folder, read-only here. A
// file may hold several cards (an exported address book), each a contact of its own.
#include <QList>
#include <QString>

#include "platform/mail/MailItem.h"

namespace mail {

class ContactItem : public Item {
public:
    // The contacts of a folder's file, one per card in the file's order, read in one pass; empty
    // when the file is unreadable or holds no vCard.
    static QList<ContactItemPtr> fromFile(std::shared_ptr<detail::Session> session, detail::NodePtr node, const QString& rel);
    // The contact of a folder by the unique part of its EntryID; nullptr when there is none.
    static ContactItemPtr find(std::shared_ptr<detail::Session> session, detail::NodePtr node, const QString& unique);

    // The folder's id and the file's name, as for a message; for the second card of a file and
    // later, then "/" and the card's place (a file name has no "/"). The first card keeps the id
    // the file had before several cards were read from it.
    QString EntryID() const override;

    // 40, or 69 for a contact group.
    int Class() override { return group_ ? olDistributionList : olContact; }
    QString FullName() const { return fullName_; }
    QString FirstName() const { return firstName_; }
    QString LastName() const { return lastName_; }
    QString MiddleName() const { return middleName_; }
    QString CompanyName() const { return companyName_; }
    QString Email1Address() const { return emails_.value(0); }
    QString Email2Address() const { return emails_.value(1); }
    QString Email3Address() const { return emails_.value(2); }
    QString BusinessAddress() const { return businessAddress_; }
    QString BusinessAddressStreet() const { return street_; }
    QString BusinessAddressCity() const { return city_; }
    QString BusinessAddressState() const { return state_; }
    QString BusinessAddressPostalCode() const { return postalCode_; }
    QString BusinessAddressCountry() const { return country_; }
    QString BusinessTelephoneNumber() const { return businessPhone_; }
    QString HomeTelephoneNumber() const { return homePhone_; }
    QString MobileTelephoneNumber() const { return mobilePhone_; }
    QString BusinessFaxNumber() const { return businessFax_; }

    // A copy in the same folder, with its own EntryID: a file of its own holding the card.
    ContactItemPtr Copy();
    // As for any item, but refused (MailError) for a card whose file holds other cards: taking it
    // out would give the cards after it other ids.
    void Delete() override;
    void Move(const FolderPtr& dest) override;

protected:
    bool isContact() const override { return true; }

private:
    friend class Items;
    ContactItem(std::shared_ptr<detail::Session> session, detail::NodePtr node, QString rel, int card);
    void parse(const QList<QByteArray>& lines);
    // MailError unless the card is alone in its file (a file that cannot be read is let be).
    void checkAlone() const;
    int card_ = 1;  // place in the file, from 1
    bool group_ = false;
    QString fullName_, firstName_, lastName_, middleName_, companyName_;
    QStringList emails_;
    QString businessAddress_, street_, city_, state_, postalCode_, country_;
    QString businessPhone_, homePhone_, mobilePhone_, businessFax_;
};

} // namespace mail
