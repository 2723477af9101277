#pragma once

#include <QString>

class QVariant;

namespace erp {
class NetConnection;
}

// What the filter dialog needs of the screen whose account list it fills.
class AccountListHost
{
public:
    virtual QString company() const = 0;
    // Every call of the dialog goes through it.
    virtual erp::NetConnection *connection() const = 0;
    // A packet of accounts becomes the list.
    virtual void loadAccounts(const QVariant &packet) = 0;

protected:
    ~AccountListHost() = default;
};
