#pragma once
// A contact: one vCard (3.0 or 4.0) file of a contact folder, read-only here.
#include <QString>

#include "platform/mail/MailItem.h"

namespace mail {

class ContactItem : public Item {
public:
    // The contact in a folder's file; nullptr when the file is unreadable or not a vCard.
    static ContactItemPtr fromFile(std::shared_ptr<detail::Session> session, detail::NodePtr node, const QString& rel);
    // Parses vCard text; false when it holds no vCard.
    bool parse(const QByteArray& text);

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

    // A copy in the same folder, with its own EntryID.
    ContactItemPtr Copy();

protected:
    bool isContact() const override { return true; }

private:
    ContactItem(std::shared_ptr<detail::Session> session, detail::NodePtr node, QString rel);
    bool group_ = false;
    QString fullName_, firstName_, lastName_, middleName_, companyName_;
    QStringList emails_;
    QString businessAddress_, street_, city_, state_, postalCode_, country_;
    QString businessPhone_, homePhone_, mobilePhone_, businessFax_;
};

} // namespace mail
