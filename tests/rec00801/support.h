#pragma once

#include "Cli_rec00800.h"
#include "Cli_rec00801.h"
#include "PKG_REC00800.h"

#include <erpfwui/screens/btnpesquisa.h>
#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/edits.h>
#include <erpfwui/widgets/menus.h>
#include <erpfwui/widgets/pages.h>

#include <erpfw/data/clientdataset.h>
#include <erpfw/data/field.h>
#include <erpfw/db/adoibquery.h>

#include <erpfw/core/messageservice.h>
#include <erpfw/db/database.h>

#include <QJsonArray>
#include <QJsonValue>
#include <QMap>
#include <QMutex>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

class QMainWindow;
class QMdiArea;

namespace httplib {
class Server;
}

namespace rec00801test {

// An application server that answers each method with a set reply and records every call,
// so the arguments the screens send can be read back exactly.
class ScriptedServer
{
public:
    struct Call
    {
        QString method;
        QJsonArray params;
    };

    // How a method's call goes wrong: Drop closes the connection after the headers, Dies also
    // stops the server (later connections are refused), Slow answers after faultMs.
    enum class Fault { None, Drop, Dies, Slow };

    ScriptedServer();
    ~ScriptedServer();
    int port() const { return m_port; }
    void fault(const QString &method, Fault kind, int faultMs = 0);
    void clearFaults();
    // Stops listening (connections refused) / listens again on the same port.
    void shutDown();
    void restart();
    bool running() const;

    void reply(const QString &method, const QJsonValue &result);
    void fail(const QString &method, const QString &message); // a business refusal
    QList<Call> calls() const;
    QList<Call> callsOf(const QString &method) const;
    void clearCalls();

private:
    QJsonObject answer(const QJsonObject &request);
    void start();

    std::unique_ptr<httplib::Server> m_server;
    QMap<QString, QPair<Fault, int>> m_faults;
    std::condition_variable m_wake; // ends a slow answer early when the server stops
    std::mutex m_wakeMutex;
    bool m_stopping = false;
    std::atomic<bool> m_down{false};
    std::thread m_thread;
    int m_port = 0;
    mutable QMutex m_mutex;
    QMap<QString, QJsonObject> m_replies; // method -> {"result": ...} or {"error": ...}
    QList<Call> m_calls;
};

// A packet in the wire encoding: fields as (name, type, size) and rows of JSON values.
using Rows = QList<QJsonArray>;
QJsonValue packet(const QList<std::tuple<QString, QString, int>> &fields, const Rows &rows);
QJsonValue geralRec(const QJsonValue &daysBefore, const QJsonValue &daysAfter);
QJsonValue paramFilial(const Rows &rows);
QJsonValue parExp(const Rows &rows);
QJsonValue tipoCtReceber(const Rows &rows);
// The account list with one account.
QJsonValue oneAccount();

class Messages : public erp::MessagePresenter
{
public:
    Messages() { erp::MessageService::setPresenter(this); }
    ~Messages() override { erp::MessageService::setPresenter(nullptr); }
    erp::Button present(erp::DialogType type, const QString &text, erp::Buttons) override
    {
        texts.append(text);
        types.append(type);
        return erp::Button::OK;
    }
    void clear()
    {
        texts.clear();
        types.clear();
    }
    QStringList texts;
    QList<erp::DialogType> types;
};

// The shell around the module (main window, MDI area, session, a reference database, a
// scripted server), REC00800 open on company "01", and the filter dialog made afresh.
class FilterTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // The dialog, made on first use as the screens make it.
    TfrmFiltroRecalLancContReceber *dialog();
    TfrmRecCont *recCont();
    // Closes REC00800 as the user does; the base frees it.
    void closeRecCont();
    // The hidden run; true when it went to its end.
    bool runHidden();
    // Shows the dialog modally and runs inside while it is open; closes it afterwards when
    // inside left it open (a cancel).
    void runModal(const std::function<void(TfrmFiltroRecalLancContReceber &)> &inside);
    // Runs inside whenever the multi-selection picker opens; it must end the picker.
    void onPicker(const std::function<void(erp::Form &)> &inside) { m_picker = inside; }
    // The picker's rows chosen by their key, then OK.
    static void choose(erp::Form &picker, const QString &keyField, const QStringList &keys);
    // Clicks the confirm button as the user does (its faults are shown, not thrown).
    static void confirm(TfrmFiltroRecalLancContReceber &dlg);
    void execSql(const QString &sql);
    QJsonArray lastContRecParams() const;
    static QDate today() { return QDate(2024, 5, 15); }

    ScriptedServer m_server;
    Messages m_messages;
    QTemporaryDir m_dir;

private:
    std::unique_ptr<erp::Database> m_db;
    std::function<void(erp::Form &)> m_picker;
    static inline QMainWindow *s_window = nullptr;
    static inline QMdiArea *s_area = nullptr;
};

} // namespace rec00801test

inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
