#include "clientdataset.h"

#include "datasource.h"

#include <erpfw/core/error.h>

namespace erp {

using wire::FieldDef;
using wire::Packet;

namespace {

constexpr qint64 kNoCalc = -2;
constexpr qint64 kEditKey = -1;

} // namespace

ClientDataSet::ClientDataSet(QObject *parent)
    : QObject(parent)
{
    connect(this, &QObject::objectNameChanged, this, [this](const QString &name) {
        for (Field *f : std::as_const(m_fields))
            f->setObjectName(name + f->fieldName());
    });
}

ClientDataSet::~ClientDataSet()
{
    for (DataSource *s : std::as_const(m_sources))
        s->m_dataSet = nullptr;
}

// ---- fields

void ClientDataSet::checkFieldDefinition(const QString &name, FieldType type, int size) const
{
    if (active())
        throw Error(QStringLiteral("Não é possível definir o campo %1 com o conjunto de dados %2 aberto.")
                        .arg(name, objectName()));
    if (name.trimmed().isEmpty())
        throw Error(QStringLiteral("Campo sem nome no conjunto de dados %1.").arg(objectName()));
    if (findField(name))
        throw Error(QStringLiteral("Campo %1 repetido no conjunto de dados %2.").arg(name, objectName()));
    if (wire::isStringType(type) && size <= 0)
        throw Error(QStringLiteral("Campo %1 de %2 sem tamanho.").arg(name, objectName()));
}

Field *ClientDataSet::createField(const QString &name, FieldType type, int size, bool calculated)
{
    checkFieldDefinition(name, type, size);
    auto *f = new Field(this, name, type, size, calculated);
    if (calculated) {
        f->m_slot = m_calcCount++;
        m_fields.append(f);
    } else {
        f->m_slot = int(m_dataFields.size());
        m_dataFields.append(f);
        // data fields taken from a packet go before any calculated field
        qsizetype at = m_fields.size();
        if (m_fieldsFromPacket)
            while (at > 0 && m_fields[at - 1]->calculated())
                --at;
        m_fields.insert(at, f);
    }
    ++m_fieldsVersion;
    invalidateCalc();
    return f;
}

Field *ClientDataSet::addField(const QString &name, FieldType type, int size)
{
    if (m_fieldsFromPacket) {
        // fields defined by hand replace the ones a packet brought
        for (Field *f : std::as_const(m_dataFields)) {
            m_fields.removeOne(f);
            delete f;
        }
        ++m_fieldsVersion;
        m_dataFields.clear();
        m_fieldsFromPacket = false;
    }
    return createField(name, type, size, false);
}

Field *ClientDataSet::addCalculatedField(const QString &name, FieldType type, int size)
{
    return createField(name, type, size, true);
}

Field *ClientDataSet::findField(QStringView name) const
{
    for (Field *f : m_fields)
        if (wire::sameFieldName(f->fieldName(), name))
            return f;
    return nullptr;
}

Field *ClientDataSet::fieldByName(QStringView name) const
{
    if (Field *f = findField(name))
        return f;
    throw Error(QStringLiteral("Campo %1 não encontrado no conjunto de dados %2.")
                    .arg(name.toString(), objectName()));
}

QList<FieldDef> ClientDataSet::dataFieldDefs() const
{
    QList<FieldDef> defs;
    for (const Field *f : m_dataFields)
        defs.append({f->fieldName(), f->dataType(), f->size()});
    return defs;
}

// ---- packets

Packet ClientDataSet::fittedPacket(const Packet &packet) const
{
    if (m_dataFields.isEmpty() || m_fieldsFromPacket)
        return packet;
    return wire::fitPacket(packet, dataFieldDefs(), objectName());
}

void ClientDataSet::setData(const QVariant &packet)
{
    if (packet.typeId() != QMetaType::fromType<Packet>().id())
        throw Error(QStringLiteral("Dados inválidos para o conjunto de dados %1: esperado um pacote de dados, recebido %2.")
                        .arg(objectName(), QString::fromLatin1(packet.isValid() ? packet.typeName() : "nulo")));
    setPacket(packet.value<Packet>());
}

void ClientDataSet::setPacket(const Packet &packet)
{
    Packet fitted;
    try {
        fitted = fittedPacket(packet);
    } catch (const wire::WireError &e) {
        throw Error(e.message());
    }
    // the controls see the new rows and row once, not an empty dataset first; the events run as always
    m_holdReload = true;
    try {
        close();
    } catch (...) {
        m_holdReload = false;
        notifyReload();
        notifyCurrent();
        throw;
    }
    m_holdReload = false;
    try {
        openWith(fitted);
    } catch (...) {
        notifyReload();
        notifyCurrent();
        throw;
    }
}

QVariant ClientDataSet::data() const
{
    return QVariant::fromValue(packet());
}

Packet ClientDataSet::packet() const
{
    return active() ? m_packet : Packet();
}

void ClientDataSet::emptyDataSet()
{
    checkActive();
    m_editBuffer.clear();
    m_packet = Packet(m_packet.fields()); // a fresh packet: never copies rows still shared
    m_row = -1;
    m_bof = m_eof = true;
    invalidateCalc();
    setState(State::Browse);
    notifyReload();
    notifyCurrent();
}

// ---- open / close

void ClientDataSet::openWith(const Packet &packet)
{
    if (m_dataFields.isEmpty() || m_fieldsFromPacket) {
        if (dataFieldDefs() != packet.fields()) {
            for (Field *f : std::as_const(m_dataFields)) {
                m_fields.removeOne(f);
                delete f;
            }
            ++m_fieldsVersion;
            m_dataFields.clear();
            m_fieldsFromPacket = true;
            for (const FieldDef &d : packet.fields())
                createField(d.name, d.type, d.size, false);
        }
    }
    if (m_fields.isEmpty())
        throw Error(QStringLiteral("O conjunto de dados %1 não tem campos.").arg(objectName()));
    run(beforeOpen);
    m_packet = packet;
    m_row = m_packet.isEmpty() ? -1 : 0;
    m_bof = true;
    m_eof = m_packet.isEmpty();
    invalidateCalc();
    setState(State::Browse);
    notifyReload();
    notifyCurrent();
    run(afterOpen);
    if (m_row >= 0)
        run(afterScroll);
}

void ClientDataSet::open()
{
    if (active())
        return;
    openWith(Packet(dataFieldDefs()));
}

void ClientDataSet::close()
{
    if (!active())
        return;
    m_editBuffer.clear(); // a pending edit goes with the data
    run(beforeClose);
    m_packet = Packet();
    m_row = -1;
    m_bof = m_eof = true;
    setState(State::Inactive);
    notifyReload();
    notifyCurrent();
    run(afterClose);
}

void ClientDataSet::setActive(bool on)
{
    if (on)
        open();
    else
        close();
}

QString ClientDataSet::stateName() const
{
    switch (m_state) {
    case State::Inactive: return QStringLiteral("inactive");
    case State::Browse: return QStringLiteral("browse");
    case State::Edit: return QStringLiteral("edit");
    case State::Insert: return QStringLiteral("insert");
    }
    return {};
}

int ClientDataSet::recordCount() const
{
    return active() ? m_packet.rowCount() : 0;
}

void ClientDataSet::checkActive() const
{
    if (!active())
        throw Error(QStringLiteral("O conjunto de dados %1 está fechado.").arg(objectName()));
}

// ---- editing

void ClientDataSet::edit()
{
    checkActive();
    if (m_state == State::Edit || m_state == State::Insert)
        return;
    if (m_row < 0)
        throw Error(QStringLiteral("Não há registro para alterar no conjunto de dados %1.").arg(objectName()));
    // Only the fields written are held; the rest are read from the row (marking a million rows
    // must not copy a million rows).
    m_editBuffer = QVariantList(m_dataFields.size());
    m_editWritten.assign(size_t(m_dataFields.size()), false);
    m_editRow = m_row;
    setState(State::Edit);
}

void ClientDataSet::append()
{
    checkBrowseMode();
    m_editBuffer = QVariantList(m_dataFields.size());
    m_editWritten.assign(size_t(m_dataFields.size()), true); // a new row is nulls until written
    m_editRow = -1;
    setState(State::Insert);
}

void ClientDataSet::post()
{
    checkActive();
    if (m_state != State::Edit && m_state != State::Insert)
        return;
    run(beforePost);
    for (const Field *f : std::as_const(m_dataFields)) {
        if (!f->required())
            continue;
        const QVariant v = editValue(f->m_slot);
        if (!v.isValid() || v.isNull())
            throw Error(QStringLiteral("O campo %1 deve ser informado.").arg(f->displayLabel()));
    }
    const bool inserting = m_state == State::Insert;
    try {
        if (inserting) {
            m_packet.appendRow(m_editBuffer);
            m_row = m_packet.rowCount() - 1;
        } else {
            QList<std::pair<int, QVariant>> old; // the fields written, to put back when one is refused
            try {
                for (int c = 0; c < m_dataFields.size(); ++c) {
                    if (!m_editWritten[size_t(c)])
                        continue;
                    old.append({c, m_packet.value(m_editRow, c)});
                    m_packet.setValue(m_editRow, c, m_editBuffer.at(c));
                }
            } catch (...) {
                for (auto it = old.crbegin(); it != old.crend(); ++it)
                    m_packet.setValue(m_editRow, it->first, it->second);
                throw;
            }
        }
    } catch (const wire::WireError &e) {
        throw Error(e.message());
    }
    m_editBuffer.clear();
    m_bof = m_eof = false;
    setState(State::Browse);
    if (inserting) {
        notifyReload();
        notifyCurrent();
    } else {
        notifyRow(m_row);
    }
    run(afterPost);
}

void ClientDataSet::cancel()
{
    if (m_state != State::Edit && m_state != State::Insert)
        return;
    m_editBuffer.clear();
    setState(State::Browse);
    if (m_row >= 0)
        notifyRow(m_row);
    run(afterCancel);
}

void ClientDataSet::checkBrowseMode()
{
    checkActive();
    if (m_state == State::Edit || m_state == State::Insert)
        post();
}

// ---- moving

void ClientDataSet::scrollTo(int row, bool forceAfterScroll, bool bof, bool eof)
{
    const int old = m_row;
    m_row = row;
    m_bof = bof;
    m_eof = eof;
    if (row != old)
        notifyCurrent();
    if (row >= 0 && (row != old || forceAfterScroll))
        run(afterScroll);
}

void ClientDataSet::first()
{
    checkBrowseMode();
    run(beforeScroll);
    const bool empty = isEmpty();
    scrollTo(empty ? -1 : 0, true, true, empty);
}

void ClientDataSet::next()
{
    checkBrowseMode();
    run(beforeScroll);
    const int count = recordCount();
    if (m_row + 1 >= count)
        scrollTo(m_row, false, count == 0, true);
    else
        scrollTo(m_row + 1, false, false, false);
}

void ClientDataSet::prior()
{
    checkBrowseMode();
    run(beforeScroll);
    if (m_row <= 0)
        scrollTo(m_row, false, true, isEmpty());
    else
        scrollTo(m_row - 1, false, false, false);
}

void ClientDataSet::last()
{
    checkBrowseMode();
    run(beforeScroll);
    const int count = recordCount();
    scrollTo(count - 1, false, count == 0, true);
}

void ClientDataSet::moveTo(int recNo)
{
    checkBrowseMode();
    if (recNo < 1 || recNo > recordCount())
        throw Error(QStringLiteral("Registro %1 inexistente no conjunto de dados %2, que tem %3.")
                        .arg(recNo)
                        .arg(objectName())
                        .arg(recordCount()));
    run(beforeScroll);
    scrollTo(recNo - 1, false, false, false);
}

// ---- controls

void ClientDataSet::disableControls()
{
    ++m_disabled;
}

void ClientDataSet::enableControls()
{
    if (m_disabled == 0)
        return;
    if (--m_disabled > 0)
        return;
    notifyReload();
    notifyCurrent();
    notifyState();
}

void ClientDataSet::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    invalidateCalc();
    notifyState();
}

void ClientDataSet::notifyState()
{
    if (m_disabled > 0)
        return;
    const QList<DataSource *> sources = m_sources;
    for (DataSource *s : sources)
        if (m_sources.contains(s))
            s->stateChangedByDataSet();
    emit stateChanged(m_state);
}

void ClientDataSet::notifyReload()
{
    if (m_disabled == 0 && !m_holdReload)
        emit dataSetChanged();
}

void ClientDataSet::notifyRow(int row)
{
    if (m_disabled == 0 && row >= 0)
        emit rowChanged(row);
}

void ClientDataSet::notifyCurrent()
{
    if (m_disabled == 0 && !m_holdReload)
        emit currentRowChanged(m_row);
}

void ClientDataSet::run(const Handler &handler)
{
    // a copy: the handler may detach or replace itself while it runs
    const Handler h = handler;
    if (h)
        h(*this);
}

void ClientDataSet::attach(DataSource *source)
{
    if (!m_sources.contains(source))
        m_sources.append(source);
}

void ClientDataSet::detach(DataSource *source)
{
    m_sources.removeAll(source);
}

// ---- the active record

ClientDataSet::Buffer ClientDataSet::activeBuffer(int *row) const
{
    if (!active())
        return Buffer::None;
    const bool editing = m_state == State::Edit || m_state == State::Insert;
    if (m_scopeRow >= 0) {
        if (m_state == State::Edit && m_scopeRow == m_editRow)
            return Buffer::Edit;
        if (m_scopeRow >= m_packet.rowCount())
            return Buffer::None;
        *row = m_scopeRow;
        return Buffer::Row;
    }
    if (editing)
        return Buffer::Edit;
    if (m_row < 0)
        return Buffer::None;
    *row = m_row;
    return Buffer::Row;
}

QVariant ClientDataSet::editValue(int slot) const
{
    return m_editWritten[size_t(slot)] ? m_editBuffer.value(slot) : m_packet.value(m_editRow, slot);
}

QVariant ClientDataSet::readData(const Field &field) const
{
    int row = -1;
    switch (activeBuffer(&row)) {
    case Buffer::Row: return m_packet.value(row, field.m_slot);
    case Buffer::Edit: return editValue(field.m_slot);
    case Buffer::None: break;
    }
    return {};
}

QString ClientDataSet::readString(const Field &field) const
{
    int row = -1;
    switch (activeBuffer(&row)) {
    case Buffer::Row: return m_packet.isNull(row, field.m_slot) ? QString() : m_packet.string(row, field.m_slot);
    case Buffer::Edit: return editValue(field.m_slot).toString();
    case Buffer::None: break;
    }
    return {};
}

void ClientDataSet::writeData(const Field &field, const QVariant &value)
{
    m_editBuffer[field.m_slot] = value;
    m_editWritten[size_t(field.m_slot)] = true;
    invalidateCalc();
    if (m_state == State::Edit)
        notifyRow(m_editRow);
}

void ClientDataSet::ensureCalculated() const
{
    if (m_calculating)
        return;
    int row = -1;
    const Buffer buffer = activeBuffer(&row);
    const qint64 key = buffer == Buffer::Row ? row : buffer == Buffer::Edit ? kEditKey : kNoCalc;
    if (key == m_calcKey && m_calcGeneration == m_generation && m_calcValues.size() == m_calcCount)
        return;
    m_calcValues = QVariantList(m_calcCount);
    if (buffer != Buffer::None) {
        m_calculating = true;
        try {
            const_cast<ClientDataSet *>(this)->run(onCalcFields);
        } catch (...) {
            m_calculating = false;
            m_calcKey = kNoCalc;
            throw;
        }
        m_calculating = false;
    }
    m_calcKey = key;
    m_calcGeneration = m_generation;
}

QVariant ClientDataSet::readCalculated(const Field &field) const
{
    ensureCalculated();
    return m_calcValues.value(field.m_slot);
}

void ClientDataSet::writeCalculated(const Field &field, const QVariant &value)
{
    ensureCalculated();
    m_calcValues[field.m_slot] = value;
}

ClientDataSet::RowScope::RowScope(const ClientDataSet &dataSet, int row)
    : m_dataSet(const_cast<ClientDataSet &>(dataSet))
    , m_saved(dataSet.m_scopeRow)
{
    m_dataSet.m_scopeRow = row < 0 ? -1 : row;
}

ClientDataSet::RowScope::~RowScope()
{
    m_dataSet.m_scopeRow = m_saved;
}

} // namespace erp
