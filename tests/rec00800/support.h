#pragma once

#include "Cli_rec00800.h"

#include <erpfw/core/messageservice.h>
#include <erpfw/db/database.h>
#include <erpwire/packet.h>
#include <server/embedded/embedded.h>

#include <gtest/gtest.h>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace httplib {
class Server;
}

namespace rec {

// Every message dialog shown, answered from a queue; a question nobody answered fails the test.
struct ShownMessage
{
    erp::DialogType type;
    QString text;
};

class Presenter final : public erp::MessagePresenter
{
public:
    erp::Button present(erp::DialogType type, const QString &text, erp::Buttons buttons) override;
    QList<ShownMessage> shown;
    QList<erp::Button> answers;
    QStringList texts() const;
};

// Sits between the screen and the server: passes every call on, except the methods it was told
// to answer itself.
class FaultProxy
{
public:
    FaultProxy(const std::string &host, int port);
    ~FaultProxy();
    int port() const { return m_port; }
    // The calls of the method get this JSON-RPC member ("result": ... or "error": ...).
    void answer(const QString &method, const QByteArray &member);
    void clear();

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    std::mutex m_mutex;
    QHash<QString, QByteArray> m_answers;
};

struct ServerCall
{
    QString method;
    QByteArray params;
};

// The shell around the screen: main window with its MDI area, the demo database and the
// application server, the message presenter and a record of the server calls.
class ScreenTest : public ::testing::Test
{
public:
    static constexpr const char *kToday = "2024-06-14";

protected:
    void SetUp() override;
    void TearDown() override;

    // A private copy of the seeded database when the test writes to it.
    void startServer(bool ownDatabase = false);
    void useProxy(); // the screen talks to a FaultProxy in front of the server
    TfrmRecCont *openScreen();
    // Types the company and leaves the panel for the grid as the user would; messages are shown.
    void chooseCompany(const QString &code);
    void leavePanel();
    void enterPanel();

    int calls(const QString &method) const;
    void clearCalls() { m_calls.clear(); }
    // The 0-based row whose field holds the value; -1 when none.
    int findRow(const QString &field, const QString &value) const;
    QString rowValue(int row, const QString &field) const;
    // A field's value in the database, by account key.
    QString dbValue(const QString &column, int row) const;
    // Loads a packet of the account layout with these rows (field -> text, the rest empty).
    void loadAccounts(const QList<QHash<QString, QVariant>> &rows);

    static erp::wire::Packet packetOf(const QList<erp::wire::FieldDef> &fields, const QList<QHash<QString, QVariant>> &rows);

    TfrmRecCont *frm = nullptr;
    Presenter presenter;
    std::unique_ptr<erp::server::EmbeddedServer> server;
    std::unique_ptr<FaultProxy> proxy;
    std::unique_ptr<erp::Database> database;
    QList<ServerCall> m_calls;

private:
    static QString seededDatabase();
    QTemporaryDir m_dir;
};

} // namespace rec
