#include "fit.h"

namespace erp::wire {

namespace {

int indexIn(const QList<FieldDef> &fields, QStringView name)
{
    for (qsizetype i = 0; i < fields.size(); ++i)
        if (sameFieldName(fields[i].name, name))
            return int(i);
    return -1;
}

} // namespace

Packet fitPacket(const Packet &packet, const QList<FieldDef> &fields, const QString &owner)
{
    const QList<FieldDef> &given = packet.fields();
    // what the server sends is nearly always these very fields in this order
    if (given == fields)
        return packet;
    for (const FieldDef &pf : given)
        if (indexIn(fields, pf.name) < 0)
            throw WireError(QStringLiteral("O pacote de dados traz o campo %1, que o conjunto de dados %2 não tem.")
                                .arg(pf.name, owner));
    QList<int> source;
    source.reserve(fields.size());
    bool sameOrder = given.size() == fields.size();
    for (const FieldDef &f : fields) {
        const int col = packet.indexOf(f.name);
        if (col < 0)
            throw WireError(QStringLiteral("Falta o campo %1 de %2 no pacote de dados.").arg(f.name, owner));
        const FieldDef &pf = given.at(col);
        if (pf.type != f.type || pf.size != f.size)
            throw WireError(QStringLiteral("O campo %1 é %2 (%3) no pacote de dados e %4 (%5) no conjunto de dados %6.")
                                .arg(f.name, fieldTypeName(pf.type))
                                .arg(pf.size)
                                .arg(fieldTypeName(f.type))
                                .arg(f.size)
                                .arg(owner));
        sameOrder = sameOrder && col == source.size();
        source.append(col);
    }
    if (sameOrder)
        return packet;
    Packet ordered(fields);
    ordered.reserve(packet.rowCount());
    for (int r = 0; r < packet.rowCount(); ++r) {
        const int row = ordered.appendRow();
        for (int c = 0; c < source.size(); ++c)
            ordered.setValue(row, c, packet.value(r, source[c]));
    }
    return ordered;
}

} // namespace erp::wire
