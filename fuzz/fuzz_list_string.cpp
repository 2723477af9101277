// A list argument of GetContRec ("0101;0102"): split and checked as the server does, then bound
// as one parameter and read back by the database's JSON functions, as the account query does.
#include <server/db/db.h>
#include <server/rpc/rowjson.h>
#include <server/rpc/rpc.h>
#include <server/util/textutil.h>

#include <QJsonValue>

#include <cstdio>
#include <cstdlib>

using namespace erp::server;

namespace {

[[noreturn]] void fault(const char *what, const std::string &detail)
{
    std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const auto memory = db::connect(db::DbUrl::parse("sqlite::memory:"));
    if (size < 1)
        return 0;
    static const int widths[] = {4, 6, 21};
    const int width = widths[data[0] % 3];
    const QString list = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const Params params(QStringLiteral("GetContRec"), {QJsonValue(list)});
    std::vector<std::string> codes;
    try {
        codes = params.list(0, "lista", width);
    } catch (const RpcError &e) {
        if (e.code() != rpc::InvalidParams)
            fault("código inesperado", e.what());
        return 0;
    }
    std::string joined;
    for (const std::string &code : codes) {
        if (code.empty() || utf8Length(code) > size_t(width))
            fault("código aceito fora da regra", code);
        for (unsigned char ch : code)
            if (ch <= 0x20 || ch == 0x7f || ch == ';')
                fault("código aceito com separador ou controle", code);
        joined += (joined.empty() && &code == &codes.front() ? "" : ";") + code;
    }
    if (joined != list.toStdString())
        fault("a lista não se refaz dos códigos", joined);

    db::Statement &st = memory->prepare("SELECT value FROM json_each(?)");
    st.bind(1, jsonStringArray(codes));
    size_t i = 0;
    while (st.next()) {
        if (i >= codes.size() || st.text(0) != codes[i])
            fault("o banco leu outro código", i < codes.size() ? codes[i] : std::string("(sobra)"));
        ++i;
    }
    st.reset();
    if (i != codes.size())
        fault("o banco leu menos códigos", std::to_string(i));
    return 0;
}
