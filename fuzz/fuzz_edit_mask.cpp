// Edit masks as the forms and pictPess give them: "mask;keep-literals;blank" on the first line,
// the value laid into it on the rest. Laying out, reading back and laying out again must agree.
#include <erpfw/core/editmask.h>
#include <erpfw/core/utils.h>

#include <cstdio>
#include <cstdlib>

using erp::EditMask;

namespace {

[[noreturn]] void fault(const char *what, const EditMask &m, const QString &a, const QString &b = {})
{
    std::fprintf(stderr, "%s\n  máscara: %s\n  %s\n  %s\n", what, qUtf8Printable(m.source()), qUtf8Printable(a),
                 qUtf8Printable(b));
    std::abort();
}

// A blank shown as the mask's blank or as a space is the same blank.
QString normal(const EditMask &m, QString display)
{
    for (int i = 0; i < m.size() && i < display.size(); ++i)
        if (!m.isLiteral(i) && display[i] == QLatin1Char(' '))
            display[i] = m.blank();
    return display;
}

void check(const EditMask &m, const QString &value)
{
    const QString shown = m.layout(value);
    if (shown.size() != m.size())
        fault("a exibição não tem uma posição por caractere", m, shown);
    for (int i = 0; i < m.size(); ++i) {
        if (m.isLiteral(i) && shown[i] != m.position(i).literal)
            fault("literal fora do lugar", m, shown);
        if (!m.isLiteral(i) && shown[i] != m.blank() && !m.accepts(i, shown[i]))
            fault("caractere recusado pela posição foi exibido", m, shown);
    }
    (void)m.isComplete(shown);
    (void)m.isUntouched(shown);
    (void)m.nextEditable(value.size() - 3);
    (void)m.previousEditable(value.size() - 3);
    if (!m.isUntouched(m.layout(QString())))
        fault("máscara vazia não está intocada", m, m.layout(QString()));
    if (m.blanksFirst())
        return;
    const QString text = m.text(shown);
    const QString again = m.layout(text);
    if (normal(m, again) != normal(m, shown))
        fault("ler e exibir de novo muda o valor", m, shown, again);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype nl = input.indexOf(QLatin1Char('\n'));
    const QString mask = nl < 0 ? input : input.left(nl);
    const QString value = nl < 0 ? QString() : input.mid(nl + 1);
    if (mask.size() > 200)
        return 0;

    const EditMask m(mask);
    check(m, value);
    (void)erp::formatMaskText(mask, value);

    // The registration numbers of customers, laid out from what the database holds.
    for (const char *type : {"F", "J"}) {
        const EditMask doc(erp::pictPess(QString::fromLatin1(type)));
        check(doc, value);
        const QString shown = erp::formatMaskText(doc.source(), value);
        if (shown != doc.layout(value))
            fault("formatMaskText difere da máscara", doc, shown, doc.layout(value));
    }
    (void)erp::pictPess(value);
    return 0;
}
